// G.711 encode and decode speed, and sox doing the same conversion in the same run.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/codecs/G7xxBenchUtil.h"
#include "codecs/g711/G711Codec.h"

namespace {

using namespace g7xx_bench;

constexpr int kSeconds = 60;

void Encode(benchmark::State& state, int law) {
    const char* soxLaw = law == CODING_G711_ALAW ? "a-law" : "u-law";
    const std::vector<int16_t> pcm = BenchSignal(8000, kSeconds);
    std::vector<uint8_t> coded(pcm.size());
    CG711Codec codec;
    AudioFormat f;
    f.codingType = law;
    codec.SetEncodeFormat(&f);
    CBenchDir dir;
    std::string command;
    if (HavePeer("sox") && dir.Ok() && WriteFile(dir / "in.raw", pcm.data(), pcm.size() * 2)) {
        command = "sox -D -V1 -t raw -r 8000 -e signed -b 16 -c 1 " + (dir / "in.raw") + " -t raw -e " + soxLaw +
                  " -b 8 " + (dir / "out.bin");
    }
    CompareWithPeer(
        state, kSeconds,
        [&] {
            int consumed = 0;
            benchmark::DoNotOptimize(codec.Encode(pcm.data(), static_cast<int>(pcm.size() * 2), &consumed,
                                                  coded.data(), static_cast<int>(coded.size())));
            benchmark::ClobberMemory();
        },
        "sox", command);
}

void Decode(benchmark::State& state, int law) {
    const char* soxLaw = law == CODING_G711_ALAW ? "a-law" : "u-law";
    const std::vector<int16_t> source = BenchSignal(8000, kSeconds);
    std::vector<uint8_t> coded(source.size());
    for (size_t i = 0; i < source.size(); ++i) {
        coded[i] = law == CODING_G711_ALAW ? CG711Codec::LinearToALaw(source[i]) : CG711Codec::LinearToMuLaw(source[i]);
    }
    std::vector<int16_t> pcm(coded.size());
    CG711Codec codec;
    AudioFormat f;
    f.codingType = law;
    codec.SetDecodeFormat(&f);
    CBenchDir dir;
    std::string command;
    if (HavePeer("sox") && dir.Ok() && WriteFile(dir / "in.bin", coded.data(), coded.size())) {
        command = std::string("sox -V1 -t raw -r 8000 -e ") + soxLaw + " -b 8 -c 1 " + (dir / "in.bin") +
                  " -t raw -e signed -b 16 " + (dir / "out.raw");
    }
    CompareWithPeer(
        state, kSeconds,
        [&] {
            int consumed = 0;
            benchmark::DoNotOptimize(codec.Decode(coded.data(), static_cast<int>(coded.size()), &consumed, pcm.data(),
                                                  static_cast<int>(pcm.size() * 2)));
            benchmark::ClobberMemory();
        },
        "sox", command);
}

void BM_G711EncodeALaw(benchmark::State& s) { Encode(s, CODING_G711_ALAW); }
void BM_G711EncodeMuLaw(benchmark::State& s) { Encode(s, CODING_G711_ULAW); }
void BM_G711DecodeALaw(benchmark::State& s) { Decode(s, CODING_G711_ALAW); }
void BM_G711DecodeMuLaw(benchmark::State& s) { Decode(s, CODING_G711_ULAW); }

// Few iterations: every one also starts sox.
BENCHMARK(BM_G711EncodeALaw)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_G711EncodeMuLaw)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_G711DecodeALaw)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_G711DecodeMuLaw)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
