// apt-X and enhanced apt-X encode and decode speed through the codec classes,
// per channel count, as a multiple of real time at 48 kHz. No peer program
// codes these formats, so the figures stand alone.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "codecs/AptxEnhCodec.h"
#include "codecs/AptxStdCodec.h"

namespace {

constexpr int kRate = 48000;
constexpr int kSeconds = 4;

AudioFormat Format(int type, int channels) {
    AudioFormat f;
    f.codingType = type;
    f.sampleRate = kRate;
    f.deviceMode = channels == 1 ? 10 : 20;
    f.frameBytes = channels == 1 ? 192 : 384;
    f.aptxOption = 1;
    return f;
}

std::vector<int16_t> Signal(int channels) {
    std::vector<int16_t> pcm(static_cast<size_t>(kRate) * kSeconds * channels);
    uint32_t noise = 1;
    for (size_t i = 0; i < pcm.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        const double t = static_cast<double>(i / channels) / kRate;
        pcm[i] = static_cast<int16_t>(9000 * std::sin(2 * M_PI * 440 * t) + static_cast<int>(noise >> 22) - 512);
    }
    return pcm;
}

template <class Codec>
std::vector<uint8_t> EncodeAll(Codec& codec, const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> coded(pcm.size() / 2);
    int consumed = 0;
    codec.Encode(pcm.data(), static_cast<int>(pcm.size() * 2), &consumed, coded.data(), static_cast<int>(coded.size()));
    return coded;
}

template <class Codec, int Type>
void BM_Encode(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const AudioFormat f = Format(Type, channels);
    const std::vector<int16_t> pcm = Signal(channels);
    std::vector<uint8_t> coded(pcm.size() / 2);
    Codec codec;
    codec.SetEncodeFormat(&f);
    codec.OpenEncoder();
    for (auto _ : state) {
        int consumed = 0;
        benchmark::DoNotOptimize(codec.Encode(pcm.data(), static_cast<int>(pcm.size() * 2), &consumed, coded.data(),
                                              static_cast<int>(coded.size())));
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] = benchmark::Counter(kSeconds * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

template <class Codec, int Type>
void BM_Decode(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0));
    const AudioFormat f = Format(Type, channels);
    const std::vector<int16_t> source = Signal(channels);
    Codec encoder;
    encoder.SetEncodeFormat(&f);
    encoder.OpenEncoder();
    const std::vector<uint8_t> coded = EncodeAll(encoder, source);
    std::vector<int16_t> pcm(source.size());
    Codec codec;
    codec.SetDecodeFormat(&f);
    for (auto _ : state) {
        state.PauseTiming();
        codec.OpenDecoder();  // each pass finds the sync again, as a new call would
        state.ResumeTiming();
        int used = 0;
        benchmark::DoNotOptimize(codec.Decode(coded.data(), static_cast<int>(coded.size()), &used, pcm.data(),
                                              static_cast<int>(pcm.size() * 2)));
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] = benchmark::Counter(kSeconds * static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate);
}

BENCHMARK_TEMPLATE(BM_Encode, CAptxStdCodec, 256)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Decode, CAptxStdCodec, 256)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Encode, CAptxEnhCodec, 272)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Decode, CAptxEnhCodec, 272)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
