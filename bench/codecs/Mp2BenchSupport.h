#pragma once
// Shared by the Layer II benchmarks: a 60 s test signal at 48 or 44.1 kHz (long
// enough for a peer's start-up to matter little), a temp folder, the wall time
// of a peer program run on the same material, and the line a note can quote.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "codecs/MpegL2Codec.h"

namespace mp2bench {

constexpr int kSeconds = 60;
constexpr int kBitRate = 256000;

inline std::vector<int16_t> Signal(int rate) {
    std::vector<int16_t> pcm(static_cast<size_t>(rate) * kSeconds * 2);
    const double pi = 3.14159265358979323846;
    uint32_t noise = 12345;
    for (size_t i = 0; i < pcm.size() / 2; ++i) {
        const double t = static_cast<double>(i) / rate;
        noise = noise * 1664525u + 1013904223u;
        const double n = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 800.0;
        pcm[2 * i] = static_cast<int16_t>(6000 * std::sin(2 * pi * 440 * t) + 3000 * std::sin(2 * pi * 3100 * t) + n);
        pcm[2 * i + 1] = static_cast<int16_t>(6000 * std::sin(2 * pi * 660 * t) + 2000 * std::sin(2 * pi * 7300 * t) - n);
    }
    return pcm;
}

inline std::string TempPath(const std::string& name) {
    const auto dir = std::filesystem::temp_directory_path() / ("velmora-mp2-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

inline void RemoveTemp() {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::temp_directory_path() / ("velmora-mp2-bench-" + std::to_string(getpid())), ec);
}

inline bool HaveTool(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Best wall time of three runs of cmd, in seconds; -1 when it fails.
inline double PeerSeconds(const std::string& cmd) {
    double best = -1;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (std::system((cmd + " >/dev/null 2>&1").c_str()) != 0) return -1;
        const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (best < 0 || s < best) best = s;
    }
    return best;
}

// "Layer II decode 48000 Hz: ours 0.058 s (1034x real time), mpg123 0.061 s (984x), ratio 1.05"
inline void PrintLine(const char* what, int rate, double ours, const char* peer, double peerSeconds) {
    std::printf("Layer II %s %d Hz: ours %.3f s (%.0fx real time), %s %.3f s (%.0fx), ratio %.2f\n", what, rate, ours,
                kSeconds / ours, peer, peerSeconds, kSeconds / peerSeconds, peerSeconds / ours);
    std::fflush(stdout);
}

inline std::vector<uint8_t> Encode(const std::vector<int16_t>& pcm, int rate) {
    CMpegL2Codec codec;
    AudioFormat f;
    f.codingType = 32;
    f.sampleRate = rate;
    f.deviceMode = 20;
    f.bitRate = kBitRate;
    codec.SetEncodeFormat(&f);
    codec.OpenEncoder();
    std::vector<uint8_t> out;
    out.reserve(pcm.size());
    uint8_t frame[2048];
    for (size_t i = 0; i + 2304 <= pcm.size(); i += 2304) {
        int used = 0;
        const int n = codec.Encode(pcm.data() + i, 4608, &used, frame, sizeof frame);
        out.insert(out.end(), frame, frame + n);
    }
    return out;
}

inline void Write(const std::string& path, const void* data, size_t bytes) {
    std::ofstream(path, std::ios::binary).write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes));
}

}  // namespace mp2bench
