// Helpers for the Layer III encoder tests: signals, the front end driven as
// the codec drives it, an independent frame-header parser, and the peer
// decoders (ffmpeg, mpg123, sox) run on our streams.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mp3enc/Mp3Encoder.h"
#include "support/TempDir.h"

namespace l3test {

inline bool HaveTool(const char* name) {
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// Runs a shell command; returns its exit status and what it wrote to stderr.
struct RunResult {
    int status = -1;
    std::string err;
};
inline RunResult RunShell(const std::string& cmd, const std::string& errFile) {
    RunResult r;
    const int s = std::system((cmd + " 2>" + errFile).c_str());
    r.status = WIFEXITED(s) ? WEXITSTATUS(s) : -1;
    std::ifstream in(errFile);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return r;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<int16_t> ToPcm(const std::vector<uint8_t>& raw) {
    std::vector<int16_t> pcm(raw.size() / 2);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(raw[2 * i] | (raw[2 * i + 1] << 8));
    return pcm;
}

inline void WritePcm(const std::string& path, const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> raw(pcm.size() * 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
        raw[2 * i] = static_cast<uint8_t>(pcm[i] & 0xFF);
        raw[2 * i + 1] = static_cast<uint8_t>((pcm[i] >> 8) & 0xFF);
    }
    WriteFile(path, raw);
}

// Interleaved tones: each channel gets its own list of (frequency, amplitude).
struct Tone {
    double hz;
    double amplitude;  // of full scale 32767
};
inline std::vector<int16_t> Tones(int rate, int channels, double seconds, const std::vector<Tone>& left,
                                  const std::vector<Tone>& right = {}) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> pcm(frames * channels);
    for (size_t n = 0; n < frames; ++n)
        for (int c = 0; c < channels; ++c) {
            const auto& list = (c == 1 && !right.empty()) ? right : left;
            double v = 0.0;
            for (const Tone& t : list) v += t.amplitude * std::sin(2.0 * M_PI * t.hz * n / rate + 0.3 * c);
            pcm[n * channels + c] = static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
        }
    return pcm;
}

// One source in both channels, in phase, the right channel `rightDb` below the
// left: a tone, or pink noise (Voss: eight white rows refreshed at halving rates).
inline std::vector<int16_t> Panned(int rate, double seconds, bool pink, double rightDb, uint32_t seed = 1) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    std::vector<int16_t> pcm(frames * 2);
    const double right = std::pow(10.0, rightDb / 20.0);
    double rows[8] = {};
    auto white = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<double>(static_cast<int32_t>(seed)) / 2147483648.0;
    };
    for (size_t n = 0; n < frames; ++n) {
        double v;
        if (pink) {
            for (int k = 0; k < 8; ++k)
                if (n % (size_t{1} << k) == 0) rows[k] = white();
            v = 0.0;
            for (double r : rows) v += r;
            v *= 0.06;
        } else {
            v = 0.4 * std::sin(2.0 * M_PI * 1700.0 * static_cast<double>(n) / rate);
        }
        pcm[2 * n] = static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
        pcm[2 * n + 1] = static_cast<int16_t>(std::lround(std::clamp(v * right, -1.0, 1.0) * 32767.0));
    }
    return pcm;
}

// Level of the right channel against the left, dB, over frames [from, to).
inline double RightToLeftDb(const std::vector<int16_t>& pcm, size_t from, size_t to = SIZE_MAX) {
    double l = 0.0, r = 0.0;
    for (size_t i = 2 * from; i + 1 < pcm.size() && i < 2 * to; i += 2) {
        l += static_cast<double>(pcm[i]) * pcm[i];
        r += static_cast<double>(pcm[i + 1]) * pcm[i + 1];
    }
    return 10.0 * std::log10(std::max(r, 1.0) / std::max(l, 1.0));
}

struct EncodeSettings {
    int rate = 48000;
    int channels = 2;        // input and coded
    int codedChannels = 0;   // 0: same as input
    int bitRate = 128000;
    int paddingMode = 0;
    int crc = 0;
    int vbrQuality = 0;
    int intensity = 1;
    float bandwidth = 0.0f;  // 0: the engine's own
    int chunkBytes = 4608;   // PCM bytes offered per call
    int preset = 0;
    int codedRate = 0;       // 0: the input rate
};

struct EncodeResult {
    std::vector<uint8_t> stream;
    int delay = 0;
    bool opened = false;
    Mp3Engine engine = Mp3Engine::kRefused;
    Mp3EncoderConfig config{};  // as the open left it
};

// Feeds the PCM in chunks as the codec does, then flushes until a call writes nothing.
inline EncodeResult Encode(const std::vector<int16_t>& pcm, const EncodeSettings& s) {
    EncodeResult r;
    Mp3Encoder* enc = Mp3EncoderCreate(s.rate, s.channels, s.preset);
    if (!enc) return r;
    const int coded = s.codedChannels ? s.codedChannels : s.channels;
    if (!s.intensity) {  // before the format, whose open would otherwise allow it
        Mp3EncoderConfig* c = Mp3EncoderGetConfig(enc);
        c->intensityAllowed = 0;
        Mp3EncoderSetConfig(enc, c);
    }
    Mp3EncoderFormat f{static_cast<uint32_t>(s.codedRate ? s.codedRate : s.rate), static_cast<uint32_t>(coded),
                       static_cast<uint32_t>(s.bitRate)};
    if (!s.vbrQuality && !Mp3EncoderSetFormat(enc, &f)) {
        Mp3EncoderDestroy(enc);
        return r;
    }
    Mp3EncoderConfig* c = Mp3EncoderGetConfig(enc);
    c->paddingMode = s.paddingMode;
    c->crc = s.crc;
    c->vbrQuality = s.vbrQuality;
    c->intensityAllowed = s.intensity;
    if (s.bandwidth > 0.0f) c->bandwidth = s.bandwidth;
    if (!Mp3EncoderSetConfig(enc, c)) {
        Mp3EncoderDestroy(enc);
        return r;
    }
    r.opened = true;
    r.delay = Mp3EncoderGetConfig(enc)->delay;
    r.config = *Mp3EncoderGetConfig(enc);
    r.engine = Mp3EncoderGetEngine(enc);
    std::vector<uint8_t> out(16384);
    const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
    const int total = static_cast<int>(pcm.size() * 2);
    int at = 0;
    while (at < total) {
        int used = 0;
        const int n = Mp3EncoderEncode(enc, bytes + at, std::min(s.chunkBytes, total - at), &used, out.data(),
                                       static_cast<int>(out.size()), nullptr, nullptr);
        if (n < 0) break;
        r.stream.insert(r.stream.end(), out.begin(), out.begin() + n);
        at += used;
    }
    for (int guard = 0; guard < 1000; ++guard) {
        int used = 0;
        const int n = Mp3EncoderEncode(enc, nullptr, 0, &used, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
        if (n <= 0) break;
        r.stream.insert(r.stream.end(), out.begin(), out.begin() + n);
    }
    Mp3EncoderDestroy(enc);
    return r;
}

// An independent reading of the Layer III frame header.
struct FrameHeader {
    size_t offset;
    int length;
    int version;  // 1 MPEG-1, 2 MPEG-2, 25 MPEG-2.5
    int rate;
    int kbps;
    int mode;
    int modeExtension;
    bool crc;
    bool padding;
};
inline std::vector<FrameHeader> ParseFrames(const std::vector<uint8_t>& s, bool* clean) {
    static const int kMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int kMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
    static const int kRate[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    std::vector<FrameHeader> frames;
    *clean = true;
    size_t p = 0;
    while (p + 4 <= s.size()) {
        const uint32_t h = (uint32_t{s[p]} << 24) | (uint32_t{s[p + 1]} << 16) | (uint32_t{s[p + 2]} << 8) | s[p + 3];
        const int sync = h >> 21;
        const int id = (h >> 19) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
        const int layer = (h >> 17) & 3;
        const int bri = (h >> 12) & 15, sri = (h >> 10) & 3;
        if (sync != 0x7FF || id == 1 || layer != 1 || bri == 0 || bri == 15 || sri == 3) {
            *clean = false;
            break;
        }
        FrameHeader f{};
        f.offset = p;
        f.version = id == 3 ? 1 : (id == 2 ? 2 : 25);
        f.rate = kRate[id == 3 ? 0 : (id == 2 ? 1 : 2)][sri];
        f.kbps = id == 3 ? kMpeg1[bri] : kMpeg2[bri];
        f.padding = ((h >> 9) & 1) != 0;
        f.crc = ((h >> 16) & 1) == 0;
        f.mode = (h >> 6) & 3;
        f.modeExtension = (h >> 4) & 3;
        f.length = (id == 3 ? 144 : 72) * f.kbps * 1000 / f.rate + (f.padding ? 1 : 0);
        frames.push_back(f);
        p += static_cast<size_t>(f.length);
    }
    if (p != s.size()) *clean = false;
    return frames;
}

// ffmpeg's demuxer says this about every stream without a Xing header; it is
// about seeking, not about the frames.
inline std::string WithoutDurationNote(std::string err) {
    const std::string note = "Estimating duration from bitrate, this may be inaccurate";
    std::string kept, line;
    for (char ch : err) {
        if (ch != '\n') {
            line += ch;
            continue;
        }
        if (line.find(note) == std::string::npos) kept += line + "\n";
        line.clear();
    }
    if (!line.empty() && line.find(note) == std::string::npos) kept += line;
    return kept;
}

// Decodes a stream file with a peer to raw 16-bit PCM at the stream's rate.
// ffmpeg is told the format: from the few frames of a short stream its probe
// would only guess, and say so.
enum class Peer { kFfmpeg, kMpg123, kSox };
inline RunResult PeerDecode(Peer peer, const std::string& mp3, const std::string& raw, const std::string& errFile,
                            bool crc) {
    switch (peer) {
        case Peer::kFfmpeg:
            return RunShell(std::string("ffmpeg -nostdin -hide_banner -loglevel warning ") +
                           (crc ? "-err_detect crccheck+bitstream -xerror " : "-err_detect bitstream ") + "-y -f mp3 -i " +
                           mp3 + " -f s16le " + raw,
                       errFile);
        case Peer::kMpg123: {
            // Not -q: that silences its errors too. Its banner and progress lines are dropped.
            RunResult r = RunShell("mpg123 --no-gapless -s " + mp3 + " > " + raw, errFile);
            std::string kept, line;
            for (char ch : r.err + "\n") {
                if (ch != '\n') {
                    line += ch;
                    continue;
                }
                std::string lower = line;
                for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                if (lower.find("error") != std::string::npos || lower.find("warn") != std::string::npos ||
                    lower.find("fail") != std::string::npos)
                    kept += line + "\n";
                line.clear();
            }
            r.err = kept;
            return r;
        }
        case Peer::kSox:
            return RunShell("sox -V2 -t mp3 " + mp3 + " -t raw -e signed -b 16 " + raw, errFile);
    }
    return {};
}

// Best SNR (dB) of `decoded` against `reference` over lags 0..maxLag, channel
// c. With fitGain the decoded signal is first scaled by its least-squares
// gain, so a peer that changes the level is judged on its noise alone.
inline double BestSnr(const std::vector<int16_t>& ref, const std::vector<int16_t>& dec, int channels, int channel,
                      int maxLag, int* lagOut, size_t skip, bool fitGain = false) {
    double best = -1e9;
    int bestLag = 0;
    const size_t frames = ref.size() / channels;
    for (int lag = 0; lag <= maxLag; ++lag) {
        double aa = 0.0, bb = 0.0, ab = 0.0;
        for (size_t n = skip; n + skip < frames; ++n) {
            const size_t d = n + static_cast<size_t>(lag);
            if (d * channels + channel >= dec.size()) break;
            const double a = ref[n * channels + channel], b = dec[d * channels + channel];
            aa += a * a;
            bb += b * b;
            ab += a * b;
        }
        const double g = fitGain && bb > 0.0 ? ab / bb : 1.0;
        const double err = aa - 2.0 * g * ab + g * g * bb;
        const double snr = 10.0 * std::log10(aa / std::max(err, 1e-9));
        if (snr > best) {
            best = snr;
            bestLag = lag;
        }
    }
    if (lagOut) *lagOut = bestLag;
    return best;
}

}  // namespace l3test
