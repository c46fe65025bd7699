#pragma once
// How a call's far end is judged: what a station played must carry the
// other station's tone on every channel after the decoder's start-up - the
// right frequency, level and noise, no gap and no long wait between frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <vector>

#include "audio/SampleRateConverter.h"
#include "audio/SrcDesign.h"
#include "audio/ToneAnalysis.h"
#include "call/fakes/ToneAudio.h"

struct CodecCase {
    const char* name;
    int codingType;
    int sampleRate;
    int mode;
    double levelToleranceDb;  // level at the far end against the sent tone
    double snrFloorDb;        // tone against everything else the fit leaves
    uint32_t callMs = 1200;   // how long the call runs before it is judged
    double muteMs = 0;        // silence the decoder owes after it opens
    int bitRate = 0;          // 0: the rate the format implies
};

inline void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.name; }

struct Measured {
    double hz = 0, levelDb = 0, snrDb = 0, maxEarGapMs = 0;
};

// The gain of the capture and playback converters at f when the call
// runs at another rate than the devices.
inline double ConverterGain(int callRate, double f) {
    if (callRate == CToneStation::kDeviceRate) return 1.0;
    CSampleRateConverter down, up;
    if (!down.Init(CToneStation::kDeviceRate, 1, callRate, 1, 96) ||
        !up.Init(callRate, 1, CToneStation::kDeviceRate, 1, 96))
        return 0.0;
    return SrcDesign(down, CToneStation::kDeviceRate).Gain(f) * SrcDesign(up, callRate).Gain(f);
}

// Frequency from the first and last rising zero crossing, each placed
// between its two samples.
inline double MeasureHz(const std::vector<int16_t>& pcm, size_t first, size_t count, int channels, int ch) {
    double t0 = -1, t1 = -1;
    int crossings = 0;
    for (size_t i = first + 1; i < first + count; ++i) {
        const double a = pcm[(i - 1) * channels + ch], b = pcm[i * channels + ch];
        if (a < 0 && b >= 0) {
            const double t = static_cast<double>(i - 1) + a / (a - b);
            if (t0 < 0) t0 = t;
            t1 = t;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * CToneStation::kDeviceRate / (t1 - t0);
}

// The longest wait between played frames during which the hearing station's
// worker kept asking for playback (kBusyCalls times or more): a wait while
// the busy machine gave the worker no time says nothing about the call.
// Called under the station's lock.
inline double LongestWaitWhileRunning(const CToneStation& heard, size_t from) {
    constexpr long kBusyCalls = 20;
    const std::vector<uint32_t>& calls = heard.playbackCallsMs;
    double longest = 0;
    for (size_t i = from + 1; i < heard.earTimeMs.size(); ++i) {
        const double t0 = heard.earTimeMs[i - 1], t1 = heard.earTimeMs[i];
        if (t1 - t0 <= longest) continue;
        const auto lo = std::upper_bound(calls.begin(), calls.end(), t0,
                                         [](double t, uint32_t c) { return t < static_cast<double>(c); });
        const auto hi = std::lower_bound(calls.begin(), calls.end(), t1,
                                         [](uint32_t c, double t) { return static_cast<double>(c) < t; });
        if (hi - lo >= kBusyCalls) longest = t1 - t0;
    }
    return longest;
}

// What `heard` played carries `sent`'s tone on every channel: after the
// start-up no window of 2 ms without it, the right frequency, level and
// noise, and no long wait between played frames while its worker ran.
inline void ExpectTone(const char* who, CToneStation& heard, const CToneStation& sent, const CodecCase& c) {
    const int channels = c.mode == DEVICEMODE_MONO ? 1 : 2;
    std::lock_guard<std::mutex> g(heard.lock);
    ASSERT_EQ(heard.lastReceiveFormat.codingType, c.codingType) << who;
    ASSERT_EQ(heard.playedChannels, channels) << who;
    const size_t frames = heard.played.size() / static_cast<size_t>(channels);
    // Start-up: the decoders' own delay and sync, then the tone.
    size_t onset = 0;
    const double quiet = 0.3 * sent.toneLevel * 32767.0;
    while (onset < frames && std::abs(heard.played[onset * channels]) < quiet) ++onset;
    const size_t settled = onset + CToneStation::kDeviceRate / 20;  // 50 ms
    const size_t window = CToneStation::kDeviceRate / 2;            // the last 0.5 s
    ASSERT_GT(frames, settled + window) << who << ": too little audio arrived (" << frames << " frames, onset "
                                        << onset << ")";
    const size_t first = frames - window;
    // The tone starts once the decoder's own start-up is over: at once,
    // or when its mute ends.
    const double onsetMs = onset * 1000.0 / CToneStation::kDeviceRate;
    EXPECT_GE(onsetMs, c.muteMs) << who;
    EXPECT_LT(onsetMs, c.muteMs + 100.0) << who;
    Measured m;
    m.maxEarGapMs = LongestWaitWhileRunning(heard, settled);
    for (int ch = 0; ch < channels; ++ch) {
        const double hz = sent.toneHz * (ch == 1 ? 1.5 : 1.0);
        const double expected = sent.toneLevel * 32767.0 * ConverterGain(c.sampleRate, hz);
        for (size_t w = settled; w + 96 <= frames; w += 96) {
            int peak = 0;
            for (size_t i = w; i < w + 96; ++i) peak = std::max(peak, std::abs(int(heard.played[i * channels + ch])));
            ASSERT_GT(peak, 0.7 * expected) << who << ": gap at frame " << w << " of " << frames << ", channel " << ch;
        }
        m.hz = MeasureHz(heard.played, first, window, channels, ch);
        const ToneFit fit = FitTone(heard.played.data(), first, window, channels, ch, hz, CToneStation::kDeviceRate);
        m.levelDb = Db(fit.amplitude / expected);
        m.snrDb = Db(fit.amplitude / std::sqrt(2.0) / std::max(fit.residualRms, 1e-9));
        std::printf("%s %s hears ch %d: %.2f Hz (sent %.0f), level %+.3f dB, SNR %.1f dB, onset after %.1f ms "
                    "of audio, longest wait between frames while the worker ran %.1f ms\n",
                    c.name, who, ch, m.hz, hz, m.levelDb, m.snrDb, onsetMs, m.maxEarGapMs);
        EXPECT_NEAR(m.hz, hz, 0.01 * hz) << who << " channel " << ch;
        EXPECT_NEAR(m.levelDb, 0.0, c.levelToleranceDb) << who << " channel " << ch;
        EXPECT_GT(m.snrDb, c.snrFloorDb) << who << " channel " << ch;
    }
    // Frames arrive one pass at a time; a lost or stalled block would leave
    // the loudspeaker waiting far longer than a pass or two.
    EXPECT_LT(m.maxEarGapMs, 100.0) << who;
}

