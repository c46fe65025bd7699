// The sample-rate converter against `sox ... rate` on the same input: speed
// as a multiple of real time (and sox's time over ours), and quality figures
// for both: level of a 1 kHz tone, what is left beside it, pass-band ripple
// up to 80 % of the lower Nyquist rate, and the level of a tone the output
// cannot carry (stop band, decimation only).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "audio/SampleRateConverter.h"
#include "tests/audio/ToneAnalysis.h"

namespace {

std::vector<int16_t> Ours(int inRate, int outRate, const std::vector<int16_t>& in) {
    CSampleRateConverter c;
    if (!c.Init(inRate, 1, outRate, 1, 96)) return {};
    std::vector<int16_t> out(in.size() * static_cast<size_t>(outRate) / static_cast<size_t>(inRate) + 4096);
    size_t pos = 0, written = 0;
    while (pos < in.size() * 2) {
        int used = 0;
        const int n = c.Convert(in.data() + pos / 2, static_cast<int>(in.size() * 2 - pos), &used, out.data() + written,
                                static_cast<int>((out.size() - written) * 2));
        pos += static_cast<size_t>(used);
        written += static_cast<size_t>(n) / 2;
        if (used == 0 && n == 0) break;
    }
    out.resize(written);
    return out;
}

bool HaveSox() { return std::system("command -v sox >/dev/null 2>&1") == 0; }

// Runs sox on the samples; empty when it is missing or fails. *seconds gets
// its wall time.
std::vector<int16_t> Sox(int inRate, int outRate, const std::vector<int16_t>& in, double* seconds) {
    const std::string dir = "/tmp/velmora-srcbench-" + std::to_string(getpid());
    std::system(("mkdir -p " + dir).c_str());
    const std::string a = dir + "/in.raw", b = dir + "/out.raw";
    if (FILE* f = std::fopen(a.c_str(), "wb")) {
        std::fwrite(in.data(), 2, in.size(), f);
        std::fclose(f);
    }
    const std::string cmd = "sox -t raw -r " + std::to_string(inRate) + " -e signed -b 16 -c 1 " + a +
                            " -t raw -r " + std::to_string(outRate) + " -e signed -b 16 -c 1 " + b + " rate";
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = std::system(cmd.c_str());
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::vector<int16_t> out;
    if (rc == 0) {
        if (FILE* f = std::fopen(b.c_str(), "rb")) {
            int16_t buf[4096];
            size_t n;
            while ((n = std::fread(buf, 2, 4096, f)) > 0) out.insert(out.end(), buf, buf + n);
            std::fclose(f);
        }
    }
    std::system(("rm -rf " + dir).c_str());
    return out;
}

struct Quality {
    double toneDb = 0, noiseDb = 0, rippleDb = 0, stopDb = 0;
};

template <typename Convert>
Quality Measure(int inRate, int outRate, double outRateExact, Convert convert) {
    Quality q;
    const double low = std::min(inRate, outRate);
    auto level = [&](double f) {
        const auto out = convert(MakeTone(static_cast<size_t>(inRate), 1, f, inRate, 16000));
        if (out.size() < 4000) return ToneFit{};
        const size_t skip = out.size() / 8;
        return FitTone(out.data(), skip, out.size() - 2 * skip, 1, 0, f, outRateExact);
    };
    const ToneFit k = level(1000.0);
    q.toneDb = Db(k.amplitude / 16000);
    q.noiseDb = Db(k.residualRms * std::sqrt(2.0) / std::max(k.amplitude, 1.0));
    double lo = 1e9, hi = -1e9;
    for (double frac : {0.05, 0.2, 0.4, 0.6, 0.8}) {
        const double db = Db(level(frac * low / 2).amplitude / 16000);
        lo = std::min(lo, db), hi = std::max(hi, db);
    }
    q.rippleDb = hi - lo;
    if (outRate < inRate) {
        const double f = 0.5 * (outRate / 2.0 + inRate / 2.0) + 0.013 * inRate;
        const auto out = convert(MakeTone(static_cast<size_t>(inRate), 1, f, inRate, 16000));
        const size_t skip = out.size() / 8;
        double e = 0;
        for (size_t i = skip; i + skip < out.size(); ++i) e += double(out[i]) * out[i];
        q.stopDb = out.size() > 4000 ? Db(std::sqrt(2.0 * e / double(out.size() - 2 * skip)) / 16000) : 0;
    }
    return q;
}

void BM_Src(benchmark::State& state) {
    const int inRate = static_cast<int>(state.range(0)), outRate = static_cast<int>(state.range(1));
    const auto input = MakeTone(static_cast<size_t>(inRate) * 10, 1, 997.0, inRate, 12000);  // 10 s
    CSampleRateConverter probe;
    if (!probe.Init(inRate, 1, outRate, 1, 96)) {
        state.SkipWithError("pair not supported");
        return;
    }
    const double outExact = double(inRate) * probe.GetL() / probe.GetM();
    double ours = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        auto out = Ours(inRate, outRate, input);
        ours += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        benchmark::DoNotOptimize(out.data());
    }
    const double perRun = ours / static_cast<double>(state.iterations());
    state.counters["x_realtime"] = 10.0 / perRun;
    const Quality q = Measure(inRate, outRate, outExact, [&](const std::vector<int16_t>& v) {
        return Ours(inRate, outRate, v);
    });
    state.counters["tone_db"] = q.toneDb;
    state.counters["noise_db"] = q.noiseDb;
    state.counters["ripple_db"] = q.rippleDb;
    if (outRate < inRate) state.counters["stop_db"] = q.stopDb;
    if (!HaveSox()) {
        state.SetLabel("sox not on PATH: no comparison");
        return;
    }
    double soxSeconds = 0;
    Sox(inRate, outRate, input, &soxSeconds);
    state.counters["vs_sox"] = soxSeconds / perRun;
    double unused = 0;
    const Quality s = Measure(inRate, outRate, outRate, [&](const std::vector<int16_t>& v) {
        return Sox(inRate, outRate, v, &unused);
    });
    state.counters["sox_tone_db"] = s.toneDb;
    state.counters["sox_noise_db"] = s.noiseDb;
    state.counters["sox_ripple_db"] = s.rippleDb;
    if (outRate < inRate) state.counters["sox_stop_db"] = s.stopDb;
}

BENCHMARK(BM_Src)
    ->Args({44100, 48000})
    ->Args({48000, 44100})
    ->Args({8000, 48000})
    ->Args({48000, 8000})
    ->Args({16000, 48000})
    ->Args({48000, 16000})
    ->Args({32000, 48000})
    ->Args({48000, 32000})
    ->Args({22050, 48000})
    ->Args({48000, 24000})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
