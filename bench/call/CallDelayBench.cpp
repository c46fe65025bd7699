// Mouth-to-ear delay of a PCM call between two stations on loopback, with the
// tone audio stand-in as devices (a click train in, cross-correlation with
// the click out), against the sum of the buffers the audio crosses; and the
// period of the caller's worker passes while connected.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "call/CallHarness.h"

namespace {

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

void BM_PcmCallMouthToEar(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    const int mode = static_cast<int>(state.range(1));
    for (auto _ : state) {
        CTempDir dir;
        setenv("VELMORA_REGISTRY_FILE", dir.File("registry").c_str(), 1);
        CStation a(dir, "Bench A", TestPort(4));
        CStation b(dir, "Bench B", TestPort(5));
        a.tone->clickEveryMs = 250;
        if (!a.Start() || !b.Start() || !a.WaitState(16) || !b.WaitState(16)) {
            state.SkipWithError("stations did not start");
            return;
        }
        if (!a.engine->Connect(TcpEntry(b.port, CODING_PCM, rate, mode)) || !a.WaitState(50) ||
            !b.WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 3000)) {
            state.SkipWithError("no call");
            return;
        }
        const uint32_t connectedAt = timeGetTime();
        Sleep(3000);
        const uint32_t endAt = timeGetTime();
        a.engine->StopWorker();
        b.engine->StopWorker();

        // Each click that arrived: the ear time of its peak minus its mouth time.
        std::vector<double> delays;
        {
            std::lock_guard<std::mutex> g1(a.tone->lock);
            std::lock_guard<std::mutex> g2(b.tone->lock);
            const int ch = b.tone->playedChannels;
            const std::vector<int16_t>& heard = b.tone->played;
            const size_t frames = ch ? heard.size() / static_cast<size_t>(ch) : 0;
            for (size_t i = 1; i + 1 < frames; ++i) {
                const int v = heard[i * ch];
                // The converter spreads the click: its peak is the local maximum above a third of full scale.
                if (v < 10000 || v < heard[(i - 1) * ch] || v < heard[(i + 1) * ch]) continue;
                const double ear = b.tone->earTimeMs[i];
                double mouth = -1;
                for (double m : a.tone->clickMouthMs)
                    if (m <= ear) mouth = m;
                if (mouth >= 0) delays.push_back(ear - mouth);
            }
        }
        uint32_t starts[CCallEngine::kPassLogSize];
        const int n = a.engine->CopyPassStarts(starts, CCallEngine::kPassLogSize);
        std::vector<double> periods;
        for (int i = 1; i < n; ++i)
            if (starts[i - 1] >= connectedAt && starts[i] <= endAt) periods.push_back(starts[i] - starts[i - 1]);

        AudioFormat f;
        a.engine->GetEncoderFormat(&f);
        const double frameMs = f.frameBytes * 1000.0 / (rate * 2.0 * ChannelsOfDeviceMode(mode));
        // Capture waits for a whole frame, the send FIFO holds one, the
        // receive FIFO one: three frames, plus the transport's two-frame
        // send queue when the link lags.
        const double buffersMs = 3 * frameMs;
        const double delay = Percentile(delays, 0.5);
        state.counters["delay_ms_median"] = delay;
        state.counters["delay_ms_max"] = Percentile(delays, 1.0);
        state.counters["buffers_ms"] = buffersMs;
        state.counters["pass_ms_median"] = Percentile(periods, 0.5);
        state.counters["pass_ms_p99"] = Percentile(periods, 0.99);
        state.counters["pass_ms_max"] = Percentile(periods, 1.0);
        std::printf("PCM %d Hz %s: mouth-to-ear %.1f ms median over %zu clicks (max %.1f); buffers %.1f ms "
                    "(3 frames of %.1f ms); worker pass %.1f ms median, %.1f p99, %.1f max over %zu passes\n",
                    rate, mode == DEVICEMODE_MONO ? "mono" : "stereo", delay, delays.size(),
                    Percentile(delays, 1.0), buffersMs, frameMs, Percentile(periods, 0.5),
                    Percentile(periods, 0.99), Percentile(periods, 1.0), periods.size());
    }
}

BENCHMARK(BM_PcmCallMouthToEar)
    ->Args({48000, DEVICEMODE_MONO})
    ->Args({48000, DEVICEMODE_STEREO})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
