// Layer II decoding speed: CMpegL2Codec on 60 s of 48 or 44.1 kHz stereo at
// 256 kbit/s, frame by frame as the audio engine offers it, as a multiple of
// real time, and against ffmpeg and mpg123 decoding the same stream.
#include <benchmark/benchmark.h>

#include <algorithm>

#include "bench/codecs/Mp2BenchSupport.h"

namespace {

void BM_Mp2Decode(benchmark::State& state) {
    using namespace mp2bench;
    const int rate = static_cast<int>(state.range(0));
    const std::vector<uint8_t> stream = Encode(Signal(rate), rate);
    const int frameBytes = 144 * kBitRate / rate + 1;  // the longest frame; the codec takes one
    std::vector<int16_t> pcm(2304);
    double ours = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        CMpegL2Codec codec;
        codec.OpenDecoder();
        for (size_t at = 0; at < stream.size();) {
            int used = 0;
            const int offer = static_cast<int>(std::min<size_t>(frameBytes, stream.size() - at));
            benchmark::DoNotOptimize(codec.Decode(stream.data() + at, offer, &used, pcm.data(), 4608));
            at += static_cast<size_t>(used > 0 ? used : offer);
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
        if (t > 0) PrintLine("decode", rate, perRun, "mpg123", t);
    }
    RemoveTemp();
}
BENCHMARK(BM_Mp2Decode)->Arg(48000)->Arg(44100)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
