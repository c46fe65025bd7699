// Layer II encoding speed: CMpegL2Codec on 60 s of 48 or 44.1 kHz stereo at
// 256 kbit/s, as a multiple of real time, and against twolame and ffmpeg
// encoding the same file in the same run (peer time / ours).
#include <benchmark/benchmark.h>

#include "bench/codecs/Mp2BenchSupport.h"

namespace {

void BM_Mp2Encode(benchmark::State& state) {
    using namespace mp2bench;
    const int rate = static_cast<int>(state.range(0));
    const std::vector<int16_t> pcm = Signal(rate);
    double ours = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        auto out = Encode(pcm, rate);
        benchmark::DoNotOptimize(out.data());
        ours += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        ++runs;
    }
    const double perRun = ours / static_cast<double>(runs);
    state.counters["x_realtime"] = kSeconds / perRun;
    const std::string in = TempPath("in.raw");
    Write(in, pcm.data(), pcm.size() * 2);
    if (HaveTool("twolame")) {
        const double t = PeerSeconds("twolame --quiet -r -s " + std::to_string(rate) + " -N 2 -m s -b 256 " + in + " " +
                                     TempPath("t.mp2"));
        if (t > 0) state.counters["vs_twolame"] = t / perRun;
        if (t > 0) PrintLine("encode", rate, perRun, "twolame", t);
    }
    if (HaveTool("ffmpeg")) {
        const double t = PeerSeconds("ffmpeg -v error -y -f s16le -ar " + std::to_string(rate) + " -ac 2 -i " + in + " -c:a mp2 -b:a 256k " +
                                     TempPath("f.mp2"));
        if (t > 0) state.counters["vs_ffmpeg"] = t / perRun;
    }
    RemoveTemp();
}
BENCHMARK(BM_Mp2Encode)->Arg(48000)->Arg(44100)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
