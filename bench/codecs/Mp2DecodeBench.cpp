// Layer II decoding speed: CMpegL2Codec on 10 s of 48 kHz stereo at
// 256 kbit/s, frame by frame as the audio engine offers it, as a multiple of
// real time, and against ffmpeg and mpg123 decoding the same stream.
#include <benchmark/benchmark.h>

#include "bench/codecs/Mp2BenchSupport.h"

namespace {

void BM_Mp2Decode(benchmark::State& state) {
    using namespace mp2bench;
    const std::vector<uint8_t> stream = Encode(Signal());
    const int frameBytes = 768;
    std::vector<int16_t> pcm(2304);
    double ours = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        CMpegL2Codec codec;
        codec.OpenDecoder();
        for (size_t at = 0; at + frameBytes <= stream.size(); at += frameBytes) {
            int used = 0;
            benchmark::DoNotOptimize(codec.Decode(stream.data() + at, frameBytes, &used, pcm.data(), 4608));
        }
        ours += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ++runs;
    }
    const double perRun = ours / static_cast<double>(runs);
    state.counters["x_realtime"] = kSeconds / perRun;
    const std::string in = TempPath("in.mp2");
    Write(in, stream.data(), stream.size());
    if (HaveTool("ffmpeg")) {
        const double t = PeerSeconds("ffmpeg -v error -y -i " + in + " -f s16le " + TempPath("f.raw"));
        if (t > 0) state.counters["vs_ffmpeg"] = t / perRun;
    }
    if (HaveTool("mpg123")) {
        const double t = PeerSeconds("mpg123 -q -O " + TempPath("m.raw") + " " + in);
        if (t > 0) state.counters["vs_mpg123"] = t / perRun;
    }
    RemoveTemp();
}
BENCHMARK(BM_Mp2Decode)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
