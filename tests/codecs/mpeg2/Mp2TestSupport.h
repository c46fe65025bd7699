#pragma once
// Shared by the Layer II tests: short test signals, raw files in a temp
// folder, peer programs run as separate processes, and a streaming decode
// through the decoder core.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "codecs/mpeg2/Mp2Decoder.h"
#include "support/TempDir.h"

namespace mp2test {

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

using TempDir = CTempDir;

// Runs a shell command; its stderr (and stdout, unless redirected in cmd) lands in *output.
inline int RunTool(const std::string& cmd, std::string* output = nullptr) {
    const std::string log = std::filesystem::temp_directory_path() / ("velmora-mp2-run-" + std::to_string(getpid()));
    const int rc = std::system((cmd + " >>" + log + " 2>&1").c_str());
    if (output) {
        std::ifstream in(log);
        output->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::filesystem::remove(log);
    return rc;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const void* data, size_t bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes));
}

inline std::vector<int16_t> ReadPcm(const std::string& path) {
    const std::vector<uint8_t> b = ReadFile(path);
    std::vector<int16_t> s(b.size() / 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    return s;
}

inline void WritePcm(const std::string& path, const std::vector<int16_t>& s) {
    std::vector<uint8_t> b(s.size() * 2);
    for (size_t i = 0; i < s.size(); ++i) {
        b[2 * i] = static_cast<uint8_t>(s[i] & 0xFF);
        b[2 * i + 1] = static_cast<uint8_t>((s[i] >> 8) & 0xFF);
    }
    WriteFile(path, b.data(), b.size());
}

enum class Signal { Tone, Multitone, Noise, LeftTone, LeftToneNoise };

inline const char* Name(Signal s) {
    switch (s) {
        case Signal::Tone: return "tone";
        case Signal::Multitone: return "multitone";
        case Signal::Noise: return "noise";
        case Signal::LeftTone: return "left tone";
        default: return "left tone and noise";
    }
}

// Interleaved 16-bit PCM of the given kind.
inline std::vector<int16_t> Make(Signal kind, int rate, int channels, double seconds, unsigned seed = 7) {
    const int n = static_cast<int>(rate * seconds);
    std::vector<int16_t> out(static_cast<size_t>(n) * static_cast<size_t>(channels));
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0.0, 3000.0);
    const double pi = 3.14159265358979323846;
    const double freqs[] = {220.0, 697.0, 1336.0, 2900.0, 5100.0};
    for (int i = 0; i < n; ++i) {
        for (int c = 0; c < channels; ++c) {
            double v = 0;
            const double t = static_cast<double>(i) / rate;
            switch (kind) {
                case Signal::Tone: v = 12000.0 * std::sin(2 * pi * (997.0 + 3.0 * c) * t); break;
                case Signal::LeftTone: v = c == 0 ? 12000.0 * std::sin(2 * pi * 997.0 * t) : 0.0; break;
                case Signal::Multitone:
                    for (int k = 0; k < 5; ++k)
                        if (freqs[k] < rate * 0.45) v += 3000.0 * std::sin(2 * pi * freqs[k] * t + c + k);
                    break;
                case Signal::Noise: v = gauss(rng); break;
                case Signal::LeftToneNoise:
                    v = c == 0 ? 8000.0 * std::sin(2 * pi * 997.0 * t) + gauss(rng) : 0.0;
                    break;
            }
            out[static_cast<size_t>(i) * static_cast<size_t>(channels) + static_cast<size_t>(c)] =
                static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
        }
    }
    return out;
}

struct Source {
    const std::vector<uint8_t>* data;
    size_t pos = 0;
    static int Read(uint8_t* dst, int* count, void* user) {
        auto* s = static_cast<Source*>(user);
        const size_t n = std::min(static_cast<size_t>(*count), s->data->size() - s->pos);
        std::copy_n(s->data->begin() + static_cast<long>(s->pos), n, dst);
        s->pos += n;
        *count = static_cast<int>(n);
        return s->pos >= s->data->size() ? 1 : 0;
    }
};

struct StreamResult {
    std::vector<int16_t> pcm;
    int channels = 0;
    int frames = 0;
    int failures = 0;
};

// Decodes a whole stream through the core, 16-bit, left and right.
inline StreamResult DecodeStream(const std::vector<uint8_t>& bytes, uint32_t format = 0x0101008D) {
    StreamResult r;
    Source src{&bytes};
    Mp2Decoder* dec = nullptr;
    if (Mp2DecoderOpen(1, format, Source::Read, &src, &dec) != 0) return r;
    std::vector<int16_t> buf(2 * kMp2MaxSamplesPerChannel);
    for (int guard = 0; guard < 100000; ++guard) {
        Mp2PcmBlock block{0, 0, buf.data()};
        Mp2HeaderWord w = 0;
        const int code = Mp2DecodeFrame(&w, &block, nullptr, dec);
        if (code == 1001) break;
        // Past the last frame the core reports a missing sync word: the end.
        if (code != 0 && src.pos >= bytes.size() && (code == -1004 || Mp2DecoderState(dec) != 1)) break;
        if (code != 0) ++r.failures;
        if (block.samplesPerChannel > 0) {
            r.channels = block.channels;
            r.pcm.insert(r.pcm.end(), buf.begin(), buf.begin() + block.channels * block.samplesPerChannel);
            ++r.frames;
        }
    }
    Mp2DecoderClose(&dec);
    return r;
}

// Signal-to-noise ratio in dB of test against ref (interleaved, same channel
// count) after delaying test by the lag (0..maxLag sample frames) that fits a
// window near the start best. channel >= 0 measures that channel alone.
inline double Snr(const std::vector<int16_t>& ref, const std::vector<int16_t>& test, int channels, int maxLag,
                  int channel = -1, int* lagOut = nullptr) {
    const size_t ch = static_cast<size_t>(channels);
    const size_t frames = std::min(ref.size(), test.size()) / ch;
    const size_t skip = 2048, window = 4096;
    if (frames < skip * 2 + window + static_cast<size_t>(maxLag)) return -999;
    auto measure = [&](int lag, size_t from, size_t to) {
        double sig = 0, err = 0;
        for (size_t i = from; i < to; ++i)
            for (size_t c = 0; c < ch; ++c) {
                if (channel >= 0 && c != static_cast<size_t>(channel)) continue;
                const double a = ref[i * ch + c];
                const double b = test[(i + static_cast<size_t>(lag)) * ch + c];
                sig += a * a;
                err += (a - b) * (a - b);
            }
        return 10 * std::log10((sig + 1e-9) / (err + 1e-9));
    };
    double best = -1e300;
    int bestLag = 0;
    for (int lag = 0; lag <= maxLag; ++lag) {
        const double snr = measure(lag, skip, skip + window);
        if (snr > best) {
            best = snr;
            bestLag = lag;
        }
    }
    if (lagOut) *lagOut = bestLag;
    return measure(bestLag, skip, frames - skip - static_cast<size_t>(maxLag));
}

// Level of one channel against another, in dB (RMS ratio).
inline double LevelDb(const std::vector<int16_t>& pcm, int channels, int channel, int reference) {
    double a = 0, b = 0;
    for (size_t i = 0; i + static_cast<size_t>(channels) <= pcm.size(); i += static_cast<size_t>(channels)) {
        a += static_cast<double>(pcm[i + static_cast<size_t>(channel)]) * pcm[i + static_cast<size_t>(channel)];
        b += static_cast<double>(pcm[i + static_cast<size_t>(reference)]) * pcm[i + static_cast<size_t>(reference)];
    }
    return 10 * std::log10((a + 1e-9) / (b + 1e-9));
}

}  // namespace mp2test
