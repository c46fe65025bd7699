#pragma once
// Shared by the delay benchmarks (ISDN line, whole call): one timed run per
// case, the audio engine's own buffers a call crosses, and the statistics of
// the delays measured.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace delay_bench {

// The p-quantile (0 to 1) of v by nearest rank; 0 for none.
inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

// The audio engine's buffers on both ends of a very-low-delay call: the
// capture FIFO's target of two capture blocks (BlockTime 10 + 14 ms), one
// coded frame gathered before encoding and one before decoding, and the
// playback FIFO (one 24 ms write threshold and two 22 ms blocks).
inline double EngineBuffersMs(double frameMs) { return 2 * 24.0 + 2 * frameMs + (24.0 + 2 * 22.0); }

// Each of kCases once, by the wall clock: a case is a whole call.
template <int kCases>
void OneRunPerCase(benchmark::internal::Benchmark* b) {
    b->DenseRange(0, kCases - 1)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace delay_bench
