// Whole calls between two stations over loopback TCP, each with a message
// sink as main window and the tone audio stand-in.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "CallHarness.h"
#include "audio/ToneAnalysis.h"

namespace {

struct CallLoopbackTest : ::testing::Test {
    void SetUp() override {
        setenv("VELMORA_REGISTRY_FILE", m_dir.File("registry").c_str(), 1);
        m_a = std::make_unique<CStation>(m_dir, "Studio A", TestPort(0));
        m_b = std::make_unique<CStation>(m_dir, "Studio B", TestPort(1));
        m_b->tone->toneHz = 440.0;
        m_b->tone->toneLevel = 0.25;
    }
    void TearDown() override {
        m_a.reset();
        m_b.reset();
    }

    // Connected both ways, audio flowing for `ms`.
    void Call(const PhonebookEntry& entry, uint32_t ms) {
        ASSERT_TRUE(m_a->Start());
        ASSERT_TRUE(m_b->Start());
        ASSERT_TRUE(m_a->WaitState(16));
        ASSERT_TRUE(m_b->WaitState(16));
        ASSERT_EQ(m_a->engine->GetAvailableTransports(), static_cast<uint32_t>(TRANSPORT_TCP));
        ASSERT_TRUE(m_a->engine->Connect(entry));
        ASSERT_TRUE(m_a->WaitState(50)) << m_a->Dump();
        ASSERT_TRUE(m_b->WaitState(50)) << m_b->Dump();
        ASSERT_TRUE(m_b->WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 3000));
        ASSERT_TRUE(m_a->WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 3000));
        Sleep(ms);
    }

    // The last `seconds` of what a station heard carry the other's tone.
    static void ExpectTone(CToneStation& heard, const CToneStation& sent, int channels, double seconds = 0.3) {
        std::lock_guard<std::mutex> g(heard.lock);
        ASSERT_EQ(heard.playedChannels, channels);
        const size_t frames = heard.played.size() / static_cast<size_t>(channels);
        const size_t count = static_cast<size_t>(seconds * CToneStation::kDeviceRate);
        ASSERT_GT(frames, count) << "too little audio arrived";
        const size_t first = frames - count;
        for (int ch = 0; ch < channels; ++ch) {
            const double hz = sent.toneHz * (ch == 1 ? 1.5 : 1.0);
            const ToneFit fit = FitTone(heard.played.data(), first, count, channels, ch, hz, CToneStation::kDeviceRate);
            const double expected = sent.toneLevel * 32767.0;
            EXPECT_NEAR(Db(fit.amplitude / expected), 0.0, 1.0) << "channel " << ch << " at " << hz << " Hz";
            // Only that tone: what the fit leaves is far below it.
            EXPECT_LT(fit.residualRms, 0.05 * fit.amplitude) << "channel " << ch;
        }
    }

    CTempDir m_dir;
    std::unique_ptr<CStation> m_a;
    std::unique_ptr<CStation> m_b;
};

TEST_F(CallLoopbackTest, MonoPcm48kToneBothWaysThenCallerHangsUp) {
    Call(TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_MONO), 800);
    ExpectTone(*m_b->tone, *m_a->tone, 1);
    ExpectTone(*m_a->tone, *m_b->tone, 1);
    ASSERT_TRUE(m_a->engine->Disconnect());
    ASSERT_TRUE(m_a->WaitState(16));
    ASSERT_TRUE(m_b->WaitState(16, 12000));
    const std::vector<int> caller = m_a->States();
    ASSERT_GE(caller.size(), 4u);
    EXPECT_EQ(caller[caller.size() - 4], 32);
    EXPECT_EQ(caller[caller.size() - 3], 48);
    EXPECT_EQ(caller[caller.size() - 2], 50);
    EXPECT_EQ(caller.back(), 16);
    int code = -1;
    EXPECT_EQ(m_a->engine->TakeErrorCode(&code), 0);
    EXPECT_EQ(code, 0);
    char text[200];
    EXPECT_EQ(m_a->engine->TakeErrorText(text, sizeof text), 0);
    // The answering side went through the check state on its way up.
    const std::vector<int> answerer = m_b->States();
    EXPECT_NE(std::find(answerer.begin(), answerer.end(), 48), answerer.end());
    EXPECT_NE(std::find(answerer.begin(), answerer.end(), 49), answerer.end());
    EXPECT_EQ(answerer.back(), 16);
    EXPECT_EQ(m_a->engine->IsConnectionActive(), 0);
}

}  // namespace
