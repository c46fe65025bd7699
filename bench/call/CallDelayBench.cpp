// Mouth-to-ear delay of calls between two stations in one process on the
// real audio engine: each station's clocked virtual device (both on one
// simulated clock) captures a click train, the far device plays it, and the
// click is found there by cross-correlation with the one sent. Printed per
// codec and direction beside the sum of the buffer sizes the audio crosses,
// with the caller's worker-pass period while connected.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "call/EngineStations.h"
#include "codecs/FrameDuration.h"
#include "support/DelayBench.h"

namespace {

using delay_bench::Percentile;

constexpr int kRate = 48000;
constexpr int kPeriod = kRate;          // one click a second
constexpr int kClickAt = kRate / 10;    // 100 ms into each second
constexpr int kClickFrames = kRate / 500;  // 2 ms of 1 kHz

struct DelayCase {
    const char* name;
    int codingType, sampleRate, mode, bitRate;
    uint32_t runMs;
};

const DelayCase kCases[] = {
    {"PCM 48k mono", CODING_PCM, 48000, DEVICEMODE_MONO, 768000, 4000},
    {"G.711 A-law", CODING_G711_ALAW, 8000, DEVICEMODE_MONO, 64000, 4000},
    {"G.711 mu-law", CODING_G711_ULAW, 8000, DEVICEMODE_MONO, 64000, 4000},
    {"G.722", CODING_G722, 16000, DEVICEMODE_MONO, 64000, 7000},
    {"Layer II 48k stereo 256k", CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 256000, 4000},
    {"Layer II 48k joint 128k", CODING_MPEG_L2, 48000, DEVICEMODE_JOINT_STEREO, 128000, 4000},
    {"Layer II 24k mono 64k", CODING_MPEG_L2, 24000, DEVICEMODE_MONO, 64000, 4000},
    {"apt-X 48k stereo", CODING_APTX, 48000, DEVICEMODE_STEREO, 0, 4000},
    {"enhanced apt-X 48k stereo", CODING_APTX_ENH, 48000, DEVICEMODE_STEREO, 0, 4000},
};

std::vector<int16_t> ClickTrain(int channels) {
    std::vector<int16_t> v(static_cast<size_t>(kPeriod * channels), 0);
    for (int i = 0; i < kClickFrames; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / kClickFrames);
        const auto s = static_cast<int16_t>(std::lround(16000.0 * w * std::sin(2.0 * M_PI * 1000.0 * i / kRate)));
        for (int c = 0; c < channels; ++c) v[static_cast<size_t>((kClickAt + i) * channels + c)] = s;
    }
    return v;
}

std::string WriteClickFile(const CTempDir& dir, const std::string& name, int channels) {
    const std::string path = dir.File(name);
    const std::vector<int16_t> v = ClickTrain(channels);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(v.data()),
                                                static_cast<std::streamsize>(v.size() * 2));
    return path;
}

// Delay in ms of each click the device played after `fromFrame`; `offset` is
// the device frames the capture had made when playback began.
std::vector<double> ClickDelays(const std::vector<int16_t>& played, int channels, int64_t offset, size_t fromFrame) {
    const std::vector<int16_t> sent = ClickTrain(1);
    const size_t frames = played.size() / static_cast<size_t>(channels);
    std::vector<double> delays;
    for (size_t start = fromFrame; start + kPeriod <= frames; start += kPeriod) {
        // Cross-correlate one second of what played with the click at every lag.
        double best = 0;
        int64_t bestLag = -1;
        for (int64_t lag = 0; lag < kPeriod; ++lag) {
            // Sent frame s plays at frame s - offset + lag: look where the click would land.
            const int64_t base = static_cast<int64_t>(start);
            const int64_t at = base + ((kClickAt - offset + lag - base) % kPeriod + kPeriod) % kPeriod;
            if (at + kClickFrames >= static_cast<int64_t>(frames)) continue;
            double sum = 0;
            for (int i = 0; i < kClickFrames; i += 2)
                sum += static_cast<double>(played[static_cast<size_t>((at + i) * channels)]) * sent[kClickAt + i];
            if (sum > best) best = sum, bestLag = lag;
        }
        if (bestLag >= 0) delays.push_back(bestLag * 1000.0 / kRate);
    }
    return delays;
}

void BM_CallMouthToEar(benchmark::State& state) {
    const DelayCase& c = kCases[state.range(0)];
    const int channels = c.mode == DEVICEMODE_MONO ? 1 : 2;
    for (auto _ : state) {
        VirtualWaveClear();
        CTempDir dir;
        setenv("VELMORA_REGISTRY_FILE", dir.File("registry").c_str(), 1);
        CStation a(dir, "Bench A", TestPort(0));
        CStation b(dir, "Bench B", TestPort(1));
        for (const char* name : {"Bench A Loop", "Bench B Loop"}) {
            VirtualWaveConfig v;
            v.name = name;
            v.simulatedClock = true;
            v.sourceFile = WriteClickFile(dir, std::string(name) + ".raw", channels);
            v.sinkSeconds = 20;
            VirtualWaveAdd(v);
        }
        const CVirtualStudio studioA{"Bench A Loop", 0}, studioB{"Bench B Loop", 1};
        if (!StartOnRealEngine(a, studioA) || !StartOnRealEngine(b, studioB)) {
            state.SkipWithError("stations did not start");
            return;
        }
        CLockStepClock clock({&a, &b});
        PhonebookEntry e = TcpEntry(b.port, c.codingType, c.sampleRate, c.mode);
        e.format.bitRate = c.bitRate ? c.bitRate : DerivedBitRate(e.format);
        if (!a.WaitState(16) || !b.WaitState(16) || !a.engine->Connect(e) || !a.WaitState(50, 20000) ||
            !b.WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 20000) || !a.WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 20000)) {
            state.SkipWithError("no call");
            return;
        }
        const uint32_t connectedAt = timeGetTime();
        clock.WaitDeviceMs(c.runMs);
        clock.Stop();  // both devices now stand at the same instant
        const uint32_t endAt = timeGetTime();
        VirtualWaveStats inA, outA, inB, outB;
        VirtualWaveGetStats("Bench A Loop", 0, &inA);
        VirtualWaveGetStats("Bench A Loop", 1, &outA);
        VirtualWaveGetStats("Bench B Loop", 0, &inB);
        VirtualWaveGetStats("Bench B Loop", 1, &outB);
        const auto offsetAB = static_cast<int64_t>(inA.framesCaptured) - static_cast<int64_t>(outB.framesPlayed);
        const auto offsetBA = static_cast<int64_t>(inB.framesCaptured) - static_cast<int64_t>(outA.framesPlayed);
        const std::vector<int16_t> heardB = PlayedBy(studioB, channels), heardA = PlayedBy(studioA, channels);
        const size_t judgeFrom = [&] {
            const size_t frames = std::min(heardA.size(), heardB.size()) / static_cast<size_t>(channels);
            return frames > 3u * kPeriod ? frames - 3u * kPeriod : 0u;
        }();
        const std::vector<double> ab = ClickDelays(heardB, channels, offsetAB, judgeFrom);
        const std::vector<double> ba = ClickDelays(heardA, channels, offsetBA, judgeFrom);

        uint32_t starts[CCallEngine::kPassLogSize];
        const int n = a.engine->CopyPassStarts(starts, CCallEngine::kPassLogSize);
        std::vector<double> periods;
        for (int i = 1; i < n; ++i)
            if (starts[i - 1] >= connectedAt && starts[i] <= endAt) periods.push_back(starts[i] - starts[i - 1]);

        AudioFormat f;
        a.engine->GetEncoderFormat(&f);
        const double frameMs = GetFrameDurationMs(f);
        const double buffersMs = delay_bench::EngineBuffersMs(frameMs);
        state.counters["delay_ab_ms"] = Percentile(ab, 0.5);
        state.counters["delay_ba_ms"] = Percentile(ba, 0.5);
        state.counters["buffers_ms"] = buffersMs;
        state.counters["pass_ms_median"] = Percentile(periods, 0.5);
        state.counters["pass_ms_p99"] = Percentile(periods, 0.99);
        state.counters["pass_ms_max"] = Percentile(periods, 1.0);
        std::printf("%-26s mouth-to-ear A->B %6.1f ms, B->A %6.1f ms (median of %zu/%zu clicks); buffers %6.1f ms "
                    "(frame %.0f ms); worker pass %.1f ms median, %.1f p99, %.1f max\n",
                    c.name, Percentile(ab, 0.5), Percentile(ba, 0.5), ab.size(), ba.size(), buffersMs, frameMs,
                    Percentile(periods, 0.5), Percentile(periods, 0.99), Percentile(periods, 1.0));
        a.engine->Disconnect();
        a.engine.reset();
        b.engine.reset();
        VirtualWaveClear();
    }
}

BENCHMARK(BM_CallMouthToEar)->Apply(delay_bench::OneRunPerCase<static_cast<int>(std::size(kCases))>);

}  // namespace

BENCHMARK_MAIN();
