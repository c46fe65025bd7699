// The tone stand-in's microphone on a simulated clock: a worker kept from
// running loses capture, never the tone's phase. Its clock counts whole
// milliseconds, 48 frames each: a stretch lost by the clock once skipped a
// whole number of 1 kHz periods on the left but, when odd, half a period of
// the right channel's 1.5 kHz, and a stereo call heard its right channel low.
#include <gtest/gtest.h>

#include <vector>

#include "audio/ToneAnalysis.h"
#include "call/fakes/ToneAudio.h"

namespace {

TEST(ToneAudioTest, StarvedMicrophoneKeepsBothChannelsInPhase) {
    CSimClock clock(1000);
    auto station = std::make_shared<CToneStation>();
    CToneAudio audio(station);
    ASSERT_EQ(audio.Init(0), 1);
    AudioFormat f;
    f.codingType = CODING_PCM;
    f.sampleRate = 48000;
    f.deviceMode = DEVICEMODE_STEREO;
    f.frameBytes = 4608;
    f.direction = DIRECTION_SEND_ONLY;
    audio.SetSendFormat(&f);
    ASSERT_EQ(audio.OpenEncoder(), 1);

    std::vector<int16_t> captured;
    auto take = [&] {
        audio.EncodeCapture();
        const int n = audio.GetSendFill();
        std::vector<int16_t> part(static_cast<size_t>(n / 2));
        ASSERT_EQ(audio.GetSendData(reinterpret_cast<uint8_t*>(part.data()), n), n);
        captured.insert(captured.end(), part.begin(), part.end());
    };
    clock.AdvanceMs(20);
    take();
    const size_t before = captured.size() / 2;
    // Far longer than the microphone keeps, and an odd number of ms.
    clock.AdvanceMs(181);
    take();
    const size_t frames = captured.size() / 2;
    ASSERT_GE(before, 480u);
    ASSERT_GE(frames, before + 480);
    for (int ch = 0; ch < 2; ++ch) {
        const double hz = station->toneHz * (ch == 1 ? 1.5 : 1.0);
        // One tone across the join: a phase step would cancel half of it.
        const ToneFit fit = FitTone(captured.data(), before - 480, 960, 2, ch, hz, CToneStation::kDeviceRate);
        EXPECT_NEAR(Db(fit.amplitude / (station->toneLevel * 32767.0)), 0.0, 0.01) << "channel " << ch;
        EXPECT_LT(fit.residualRms, 0.001 * fit.amplitude) << "channel " << ch;
    }
}

}  // namespace
