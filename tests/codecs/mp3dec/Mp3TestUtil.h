// Helpers for the Layer III decoder tests: peer programs in a temporary folder,
// whole-stream decoding through the library, a bit writer for hand-built frames.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/mp3dec/Mp3Decoder.h"
#include "support/TempDir.h"

namespace mp3test {

inline bool HaveTool(const char* name) {
    const std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

inline bool Run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

inline std::string RunOutput(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof(buf), p)) out += buf;
        pclose(p);
    }
    return out;
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct DecodeResult {
    std::vector<uint8_t> pcm;
    int frames = 0;
    int concealed = 0;     // I_CRC or I_NOMAINDATA steps
    int lost = 0;
    int steps = 0;
    bool reachedEof = false;
    std::vector<Mp3Status> statuses;  // every step that was not plain success
    Mp3DecoderInfo lastInfo{};
};

// Feeds the whole stream in chunks of at most `chunk` bytes, decoding after
// every feed and until the decoder asks for data; ends at end of stream.
inline DecodeResult DecodeAll(const std::vector<uint8_t>& stream, uint32_t chunk = 4096, int rateShift = 0,
                              int eightBit = 0, int forceMono = 0) {
    DecodeResult r;
    Mp3DecoderHandle h = nullptr;
    if (Mp3DecoderCreate(&h, rateShift, eightBit, forceMono) != MP3STATUS_OK) return r;
    std::vector<uint8_t> out(4608 * 2);
    size_t pos = 0;
    bool eofSet = false;
    const int limit = static_cast<int>(stream.size()) * 16 + 1000;
    for (int guard = 0; guard < limit; ++guard) {
        uint32_t freeBytes = 0;
        Mp3DecoderGetFreeSpace(h, &freeBytes);
        if (pos < stream.size()) {
            uint32_t taken = 0;
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>({freeBytes, chunk, stream.size() - pos}));
            Mp3DecoderFeed(h, stream.data() + pos, n, &taken);
            pos += taken;
        }
        if (pos >= stream.size() && !eofSet) {
            h->object->SetEndOfStream();
            eofSet = true;
        }
        uint32_t produced = 0;
        const Mp3Status s = Mp3DecoderDecode(h, out.data(), static_cast<uint32_t>(out.size()), &produced, nullptr, nullptr);
        ++r.steps;
        if (s != MP3STATUS_OK) r.statuses.push_back(s);
        if (produced) {
            r.pcm.insert(r.pcm.end(), out.begin(), out.begin() + produced);
            ++r.frames;
            r.lastInfo = *h->object->GetInfo();
        }
        if (s == MP3STATUS_I_CRC || s == MP3STATUS_I_NOMAINDATA) ++r.concealed;
        if (s == MP3STATUS_W_LOST) ++r.lost;
        if (s == MP3STATUS_W_EOF) {
            r.reachedEof = true;
            break;
        }
    }
    Mp3DecoderDestroy(h);
    return r;
}

inline std::vector<int16_t> AsSamples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8));
    return s;
}

// A test signal with tones, a sweep, noise bursts and clicks (for short
// blocks); the channels differ so that stereo coding has work to do.
inline std::vector<int16_t> TestSignal(int sampleRate, int channels, double seconds, uint32_t seed) {
    const int n = static_cast<int>(sampleRate * seconds);
    std::vector<int16_t> out(static_cast<size_t>(n) * static_cast<size_t>(channels));
    uint32_t rng = seed;
    auto noise = [&rng] {
        rng = rng * 1664525u + 1013904223u;
        return static_cast<double>(static_cast<int32_t>(rng)) / 2147483648.0;
    };
    const double nyq = sampleRate / 2.0;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double sweep = std::sin(2 * 3.14159265358979 * (100.0 + 0.35 * nyq * t / seconds) * t);
        const double tone = std::sin(2 * 3.14159265358979 * 440.0 * t);
        const bool burst = (i / (sampleRate / 8)) % 3 == 2;
        const bool click = i % (sampleRate / 5) < 20;
        for (int c = 0; c < channels; ++c) {
            double v = 0.3 * (c ? sweep : tone) + 0.15 * (c ? tone : sweep);
            if (burst) v += 0.25 * noise();
            if (click) v += (c ? -0.6 : 0.6);
            out[static_cast<size_t>(i) * static_cast<size_t>(channels) + static_cast<size_t>(c)] =
                static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 30000.0));
        }
    }
    return out;
}

inline void WriteWav(const std::string& path, const std::vector<int16_t>& samples, int sampleRate, int channels) {
    std::vector<uint8_t> b;
    auto put = [&b](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const uint32_t data = static_cast<uint32_t>(samples.size() * 2);
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    put(36 + data, 4);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(16, 4);
    put(1, 2);
    put(static_cast<uint32_t>(channels), 2);
    put(static_cast<uint32_t>(sampleRate), 4);
    put(static_cast<uint32_t>(sampleRate * channels * 2), 4);
    put(static_cast<uint32_t>(channels * 2), 2);
    put(16, 2);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put(data, 4);
    for (int16_t s : samples) put(static_cast<uint16_t>(s), 2);
    WriteFile(path, b);
}

// MSB-first bit writer for hand-built frames.
class CBitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int b = bits - 1; b >= 0; --b) {
            if (m_bit == 0) m_bytes.push_back(0);
            if ((value >> b) & 1) m_bytes.back() |= static_cast<uint8_t>(0x80 >> m_bit);
            m_bit = (m_bit + 1) & 7;
        }
        m_count += bits;
    }
    void PutCode(uint32_t code, int len) { Put(code, len); }
    void PadTo(size_t bytes) {
        m_bit = 0;
        m_bytes.resize(bytes, 0);
    }
    size_t Bits() const { return m_count; }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    int m_bit = 0;
    size_t m_count = 0;
};

// CRC-16 of the frame protection (polynomial 0x8005, start 0xFFFF).
inline uint16_t Crc16(uint16_t crc, const uint8_t* data, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i)
        for (int b = 7; b >= 0; --b) {
            const bool bit = ((data[i] >> b) & 1) != 0;
            const bool top = (crc & 0x8000) != 0;
            crc = static_cast<uint16_t>(crc << 1);
            if (bit != top) crc ^= 0x8005;
        }
    return crc;
}

struct FrameSpec {
    int version = 0;        // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int sampleRateIndex = 0;
    int bitRateIndex = 9;   // 128 kbit/s for MPEG-1
    int padding = 0;
    int mode = 0;           // 3 = one channel
    int modeExtension = 0;
    bool crc = false;
    int layerBits = 1;      // 1 = Layer III
};

inline int FrameBytes(const FrameSpec& f) {
    static const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    static const int kKbps[2][15] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                                     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    const int sr = kRates[f.version][f.sampleRateIndex];
    const int kbps = kKbps[f.version == 0 ? 0 : 1][f.bitRateIndex];
    return (f.version == 0 ? 144000 : 72000) * kbps / sr + f.padding;
}

inline uint32_t HeaderWord(const FrameSpec& f) {
    const uint32_t b20 = f.version == 2 ? 0 : 1;
    const uint32_t b19 = f.version == 0 ? 1 : 0;
    return 0xFFE00000u | b20 << 20 | b19 << 19 | static_cast<uint32_t>(f.layerBits) << 17 | (f.crc ? 0u : 1u) << 16 |
           static_cast<uint32_t>(f.bitRateIndex) << 12 | static_cast<uint32_t>(f.sampleRateIndex) << 10 |
           static_cast<uint32_t>(f.padding) << 9 | static_cast<uint32_t>(f.mode) << 6 |
           static_cast<uint32_t>(f.modeExtension) << 4;
}

inline int SideInfoBytes(const FrameSpec& f) {
    const bool mono = f.mode == 3;
    return f.version == 0 ? (mono ? 17 : 32) : (mono ? 9 : 17);
}

// One frame: header, optional CRC, the given side information (zero-filled to
// its size) and main data (zero-filled to the frame's end).
inline std::vector<uint8_t> BuildFrame(const FrameSpec& f, const std::vector<uint8_t>& side = {},
                                       const std::vector<uint8_t>& mainData = {}) {
    std::vector<uint8_t> out;
    const uint32_t w = HeaderWord(f);
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    std::vector<uint8_t> si = side;
    si.resize(static_cast<size_t>(SideInfoBytes(f)), 0);
    if (f.crc) {
        uint16_t crc = Crc16(0xFFFF, out.data() + 2, 2);
        crc = Crc16(crc, si.data(), si.size());
        out.push_back(static_cast<uint8_t>(crc >> 8));
        out.push_back(static_cast<uint8_t>(crc));
    }
    out.insert(out.end(), si.begin(), si.end());
    out.insert(out.end(), mainData.begin(), mainData.end());
    out.resize(static_cast<size_t>(FrameBytes(f)), 0);
    return out;
}

inline std::vector<uint8_t> Repeat(const std::vector<uint8_t>& frame, int n) {
    std::vector<uint8_t> out;
    for (int i = 0; i < n; ++i) out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

}  // namespace mp3test
