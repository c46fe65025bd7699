// G.722 encode and decode speed, and ffmpeg's g722 doing the same in the same run.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/codecs/G7xxBenchUtil.h"
#include "codecs/g722/G722Codec.h"

namespace {

using namespace g7xx_bench;

constexpr int kSeconds = 60;

void BM_G722Encode(benchmark::State& state) {
    const std::vector<int16_t> pcm = BenchSignal(16000, kSeconds);
    std::vector<uint8_t> coded(pcm.size() / 2);
    CG722Codec codec;
    CBenchDir dir;
    std::string command;
    if (HavePeer("ffmpeg") && dir.Ok() && WriteFile(dir / "in.raw", pcm.data(), pcm.size() * 2)) {
        command = "ffmpeg -nostdin -v error -y -threads 1 -f s16le -ar 16000 -ac 1 -i " + (dir / "in.raw") +
                  " -c:a g722 -f g722 " + (dir / "out.g722");
    }
    CompareWithPeer(
        state, kSeconds,
        [&] {
            int consumed = 0;
            benchmark::DoNotOptimize(codec.Encode(pcm.data(), static_cast<int>(pcm.size() * 2), &consumed,
                                                  coded.data(), static_cast<int>(coded.size())));
            benchmark::ClobberMemory();
        },
        "ffmpeg", command);
}

void BM_G722Decode(benchmark::State& state) {
    const std::vector<int16_t> source = BenchSignal(16000, kSeconds);
    std::vector<uint8_t> coded(source.size() / 2);
    CG722Codec encoder;
    int consumed = 0;
    encoder.Encode(source.data(), static_cast<int>(source.size() * 2), &consumed, coded.data(),
                   static_cast<int>(coded.size()));
    std::vector<int16_t> pcm(source.size());
    CG722Codec codec;  // never opened: no mute, every byte is decoded and kept
    CBenchDir dir;
    std::string command;
    if (HavePeer("ffmpeg") && dir.Ok() && WriteFile(dir / "in.g722", coded.data(), coded.size())) {
        command = "ffmpeg -nostdin -v error -y -threads 1 -f g722 -i " + (dir / "in.g722") + " -f s16le " +
                  (dir / "out.raw");
    }
    CompareWithPeer(
        state, kSeconds,
        [&] {
            int used = 0;
            benchmark::DoNotOptimize(codec.Decode(coded.data(), static_cast<int>(coded.size()), &used, pcm.data(),
                                                  static_cast<int>(pcm.size() * 2)));
            benchmark::ClobberMemory();
        },
        "ffmpeg", command);
}

// Few iterations: every one also starts ffmpeg.
BENCHMARK(BM_G722Encode)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_G722Decode)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
