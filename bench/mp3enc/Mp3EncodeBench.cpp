// Layer III encoding speed: the front end on 10 s of 48 kHz stereo at
// 128 kbit/s (the codec's own settings: second engine, no resampler), as a
// multiple of real time and against `lame -q 5` encoding the same file in
// the same run (peer time / ours). The same with preset 1, which takes the
// l3core engine, against `lame -q 2`. Also counts heap allocations per frame
// once the encoder is open: the target is none.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "mp3enc/Mp3Encoder.h"
#include "support/TempDir.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

// Counting replacements of the global allocation functions; they pair with
// the deletes below, which GCC cannot see across the replacement.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n ? n : 1);
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {
constexpr int kRate = 48000;
constexpr double kSeconds = 10.0;

std::vector<int16_t> Signal() {
    std::vector<int16_t> pcm(static_cast<size_t>(kRate * kSeconds) * 2);
    uint32_t seed = 1;
    for (size_t n = 0; n < pcm.size() / 2; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = ((seed >> 16) & 0x3FF) - 512.0;
        const double t = static_cast<double>(n) / kRate;
        pcm[2 * n] = static_cast<int16_t>(6000 * std::sin(2 * M_PI * 440 * t) + 3000 * std::sin(2 * M_PI * 3300 * t) + noise);
        pcm[2 * n + 1] = static_cast<int16_t>(5000 * std::sin(2 * M_PI * 660 * t) + noise);
    }
    return pcm;
}

// Encodes in the engine's 4608-byte blocks; returns allocations made after open.
long Encode(const std::vector<int16_t>& pcm, std::vector<uint8_t>* stream, int preset) {
    Mp3Encoder* e = Mp3EncoderCreate(kRate, 2, preset);
    Mp3EncoderFormat f{kRate, 2, 128000};
    Mp3EncoderSetFormat(e, &f);
    std::vector<uint8_t> out(8192);
    stream->clear();
    stream->reserve(pcm.size());
    const long before = g_allocations.load(std::memory_order_relaxed);
    const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
    size_t at = 0;
    while (at < pcm.size() * 2) {
        int used = 0;
        const int n = Mp3EncoderEncode(e, bytes + at, static_cast<int>(std::min<size_t>(4608, pcm.size() * 2 - at)),
                                       &used, out.data(), 8192, nullptr, nullptr);
        if (n > 0) stream->insert(stream->end(), out.begin(), out.begin() + n);
        at += static_cast<size_t>(used);
    }
    const long during = g_allocations.load(std::memory_order_relaxed) - before;
    Mp3EncoderDestroy(e);
    return during;
}

double PeerSeconds(const std::string& cmd) {
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system((cmd + " > /dev/null 2>&1").c_str()) != 0) return 0.0;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void Run(benchmark::State& state, int preset, const char* lameQuality, const char* counter) {
    const std::vector<int16_t> pcm = Signal();
    std::vector<uint8_t> stream;
    double ours = 0;
    int64_t runs = 0;
    long allocations = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        allocations = Encode(pcm, &stream, preset);
        benchmark::DoNotOptimize(stream.data());
        ours += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ++runs;
    }
    const double perRun = ours / static_cast<double>(runs);
    state.counters["x_realtime"] = kSeconds / perRun;
    state.counters["allocs_per_frame"] = static_cast<double>(allocations) / (kSeconds * kRate / 1152.0);
    CTempDir dir;
    const std::string in = dir.File("in.raw");
    if (FILE* f = std::fopen(in.c_str(), "wb")) {
        std::fwrite(pcm.data(), 2, pcm.size(), f);
        std::fclose(f);
    }
    const double t = PeerSeconds(std::string("lame --quiet -r -s 48 --bitwidth 16 --signed --little-endian -m j ") +
                                 lameQuality + " -b 128 --cbr " + in + " " + dir.File("l.mp3"));
    if (t > 0) state.counters[counter] = t / perRun;
}

// Preset 0 at the codec's own settings: the second engine.
void BM_Mp3Encode(benchmark::State& state) { Run(state, 0, "-q 5", "vs_lame_q5"); }
BENCHMARK(BM_Mp3Encode)->Unit(benchmark::kMillisecond)->Iterations(3);

// Preset 1 at 64 kbit/s per channel: the l3core engine.
void BM_Mp3EncodeL3Core(benchmark::State& state) { Run(state, 1, "-q 2", "vs_lame_q2"); }
BENCHMARK(BM_Mp3EncodeL3Core)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
