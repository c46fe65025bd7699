// A library clip played into a TCP call on the real engine: the far station
// hears the clip alone with the microphone off, clip and microphone with it
// on, and the clip level scales the clip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "EngineStations.h"
#include "audio/ToneAnalysis.h"
#include "codecs/G7xxPeer.h"

namespace {

constexpr int kDeviceRate = 48000;
constexpr double kMicHz = 1000.0;
constexpr double kMicLevel = 0.5;
constexpr double kClipHz = 2500.0;
constexpr double kClipLevel = 0.4;

struct ClipCallTest : CTwoStudiosTest<> {
    void SetUp() override { MakeStudios("Clip Studio A", kMicHz, kMicLevel, "Clip Studio B", 440.0, 0.25); }

    // Median level in dB full scale of `hz` over 10 ms pieces (whole periods of both tones) of the
    // last half second B played.
    double HeardDb(double hz) const {
        const std::vector<int16_t> played = PlayedBy(m_studioB, 1);
        const size_t piece = kDeviceRate / 100;
        std::vector<double> levels;
        for (size_t w = played.size() - kDeviceRate / 2; w + piece <= played.size(); w += piece)
            levels.push_back(Db(FitTone(played.data(), w, piece, 1, 0, hz, kDeviceRate).amplitude / 32767.0));
        std::sort(levels.begin(), levels.end());
        return levels[levels.size() / 2];
    }
};

TEST_F(ClipCallTest, ClipIsHeardAtTheFarStationWithAndWithoutTheMicrophone) {
    if (!g7xx_test::HavePeer("sox")) GTEST_SKIP() << "sox missing";
    const std::string clip = (m_dir.Path() / "0001 Jingle.mpcm").string();
    ASSERT_EQ(g7xx_test::RunCommand("sox -q -D -n -r 48000 -c 1 -b 16 -e signed -t raw '" + clip +
                                    "' synth 30 sine 2500 vol 0.4"),
              0);
    const PhonebookEntry e = TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_MONO);
    ASSERT_TRUE(StartOnRealEngine(*m_a, m_studioA));
    ASSERT_TRUE(StartOnRealEngine(*m_b, m_studioB));
    m_clock = std::make_unique<CLockStepClock>(std::vector<CStation*>{m_a.get(), m_b.get()});
    ASSERT_TRUE(m_a->WaitState(16));
    ASSERT_TRUE(m_b->WaitState(16));
    ASSERT_TRUE(m_a->engine->Connect(e));
    ASSERT_TRUE(m_a->WaitState(CALL_CONNECTED, 20000)) << m_a->Dump();
    ASSERT_TRUE(m_b->WaitState(CALL_CONNECTED, 20000)) << m_b->Dump();
    ASSERT_TRUE(m_clock->WaitDeviceMs(1500));
    EXPECT_NEAR(HeardDb(kMicHz), Db(kMicLevel), 0.5);  // the microphone before the clip

    // Microphone off: the clip alone.
    ASSERT_TRUE(m_a->engine->SetClipFlag(0));
    ASSERT_TRUE(m_a->engine->SetClipLevel(0));
    ASSERT_TRUE(m_a->engine->LoadClip(clip.c_str()));
    ASSERT_TRUE(m_a->engine->PlayClip());
    ASSERT_TRUE(m_a->WaitState(CALL_CONNECTED_CLIP_PLAYING, 20000)) << m_a->Dump();
    ASSERT_TRUE(m_clock->WaitDeviceMs(2000));
    const double clipAlone = HeardDb(kClipHz);
    const double micUnderClip = HeardDb(kMicHz);
    std::printf("mic off: clip %.2f dBFS, microphone %.2f dBFS\n", clipAlone, micUnderClip);
    EXPECT_NEAR(clipAlone, Db(kClipLevel), 0.5);
    EXPECT_LT(micUnderClip, -60.0);

    // Microphone on and the clip 6 steps down: both, the clip divided by e^0.6.
    ASSERT_TRUE(m_a->engine->SetClipFlag(1));
    ASSERT_TRUE(m_a->engine->SetClipLevel(-6));
    ASSERT_TRUE(m_clock->WaitDeviceMs(2000));
    const double clipWithMic = HeardDb(kClipHz);
    const double micWithClip = HeardDb(kMicHz);
    std::printf("mic on, clip level -6: clip %.2f dBFS, microphone %.2f dBFS\n", clipWithMic, micWithClip);
    EXPECT_NEAR(clipWithMic, Db(kClipLevel / std::exp(0.6)), 0.5);
    EXPECT_NEAR(micWithClip, Db(kMicLevel), 0.5);

    ASSERT_TRUE(m_a->engine->StopClip());
    ASSERT_TRUE(m_a->WaitState(CALL_CONNECTED, 20000));
    ASSERT_TRUE(m_a->engine->Disconnect());
    ASSERT_TRUE(m_a->WaitState(16, 20000));
    ASSERT_TRUE(m_b->WaitState(16, 20000));
}

}  // namespace
