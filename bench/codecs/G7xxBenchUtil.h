#pragma once
// Shared by the G.711 and G.722 benchmarks: test signals, a scratch folder,
// and timing a peer program (sox, ffmpeg) on the same file in the same run.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace g7xx_bench {

inline bool HavePeer(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Seconds the shell command took, or -1 when it failed.
inline double TimeCommand(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    const int rc = std::system(command.c_str());
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return (rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0) ? s : -1;
}

// A tone sweep with a little noise: the coders do real work on every sample.
inline std::vector<int16_t> BenchSignal(int rate, int seconds) {
    std::vector<int16_t> s(static_cast<size_t>(rate) * static_cast<size_t>(seconds));
    double phase = 0;
    uint32_t noise = 12345;
    for (size_t i = 0; i < s.size(); ++i) {
        phase += 2 * 3.14159265358979 * (100.0 + 0.45 * rate * static_cast<double>(i % static_cast<size_t>(rate)) / rate) / rate;
        noise = noise * 1664525u + 1013904223u;
        s[i] = static_cast<int16_t>(std::lround(12000 * std::sin(phase)) + static_cast<int>((noise >> 20) & 0x3FF) - 512);
    }
    return s;
}

class CBenchDir {
public:
    CBenchDir() {
        char name[] = "/tmp/velmora-bench-XXXXXX";
        if (mkdtemp(name)) m_path = name;
    }
    ~CBenchDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    bool Ok() const { return !m_path.empty(); }
    std::string operator/(const std::string& f) const { return m_path + "/" + f; }

private:
    std::string m_path;
};

inline bool WriteFile(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

// Runs `ours` (one pass over audioSeconds of audio) and the peer command
// alternately, and reports our speed and the peer's as multiples of real time
// and vs_<peer> = peer time / our time. The peer's time includes starting the
// process and reading and writing its files; ours works in memory.
template <class Work>
void CompareWithPeer(benchmark::State& state, double audioSeconds, Work ours, const std::string& peerName,
                     const std::string& peerCommand) {
    double oursTotal = 0, peerTotal = 0;
    int peerRuns = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        ours();
        const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        oursTotal += t;
        state.SetIterationTime(t);
        if (!peerCommand.empty()) {
            const double p = TimeCommand(peerCommand);
            if (p < 0) {
                state.SkipWithError((peerName + " failed").c_str());
                return;
            }
            peerTotal += p;
            ++peerRuns;
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["x_realtime"] = audioSeconds * n / oursTotal;
    if (peerRuns > 0) {
        state.counters[peerName + "_x_realtime"] = audioSeconds * peerRuns / peerTotal;
        state.counters["vs_" + peerName] = (peerTotal / peerRuns) / (oursTotal / n);
    }
}

}  // namespace g7xx_bench
