// Whole TCP calls between two stations whose audio runs through the real
// codecs: each station's tone goes out encoded, comes back decoded at the far
// end, and is judged there by frequency, level, noise and continuity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "CallHarness.h"
#include "ToneCheck.h"

namespace {

struct CodecCallTest : ::testing::TestWithParam<CodecCase> {
    void SetUp() override {
        MakeTwoStations(m_dir, m_a, m_b);
        m_a->tone->toneHz = 1000.0;
        m_a->tone->toneLevel = 0.5;
    }
    void TearDown() override {
        m_a.reset();
        m_b.reset();
    }

    void Call(const PhonebookEntry& entry, uint32_t ms) { CallBothWays(*m_a, *m_b, entry, ms); }

    CTempDir m_dir;
    std::unique_ptr<CStation> m_a;
    std::unique_ptr<CStation> m_b;
};

TEST_P(CodecCallTest, ToneBothWaysThroughTheCodec) {
    const CodecCase& c = GetParam();
    PhonebookEntry e = TcpEntry(m_b->port, c.codingType, c.sampleRate, c.mode);
    e.format.bitRate = DerivedBitRate(e.format);
    Call(e, c.callMs);
    if (HasFatalFailure()) return;
    AudioFormat sends, hears;
    m_a->engine->GetEncoderFormat(&sends);
    m_b->engine->GetEncoderFormat(&hears);
    EXPECT_EQ(sends.codingType, c.codingType);
    EXPECT_EQ(hears.codingType, c.codingType);  // the answer comes back the same way
    EXPECT_EQ(m_a->tone->lastSendFormat.codingType, c.codingType);
    EXPECT_EQ(m_b->tone->lastSendFormat.codingType, c.codingType);
    ExpectTone("answerer", *m_b->tone, *m_a->tone, c);
    ExpectTone("caller", *m_a->tone, *m_b->tone, c);
    ASSERT_TRUE(m_a->engine->Disconnect());
    ASSERT_TRUE(m_a->WaitState(16));
    ASSERT_TRUE(m_b->WaitState(16, 12000));
}

// G.711 quantises each sample on a logarithmic scale whose error stays about
// 38 dB below a tone at these levels (floor 30 dB); that error is spread over
// the spectrum, so the fitted level moves by far less than 0.3 dB. apt-X at
// 4:1 codes a steady tone in its sub-bands with the error some 65 dB down
// (floor 50 dB) and its filter bank passes the tone at unity, so 0.2 dB.
// G.722's lower band codes these tones with the error some 47 dB down (floor
// 40 dB); its decoder stays silent for the first 3.2 s of every call.
INSTANTIATE_TEST_SUITE_P(
    TcpCalls, CodecCallTest,
    ::testing::Values(CodecCase{"G711ALaw", CODING_G711_ALAW, 8000, DEVICEMODE_MONO, 0.3, 30.0},
                      CodecCase{"G711MuLaw", CODING_G711_ULAW, 8000, DEVICEMODE_MONO, 0.3, 30.0},
                      CodecCase{"AptxStereo48k", CODING_APTX, 48000, DEVICEMODE_STEREO, 0.2, 50.0},
                      CodecCase{"AptxEnhStereo48k", CODING_APTX_ENH, 48000, DEVICEMODE_STEREO, 0.2, 50.0},
                      CodecCase{"AptxMono32k", CODING_APTX, 32000, DEVICEMODE_MONO, 0.2, 50.0},
                      CodecCase{"G722", CODING_G722, 16000, DEVICEMODE_MONO, 0.3, 40.0, 4200, 3200.0}),
    [](const ::testing::TestParamInfo<CodecCase>& i) { return std::string(i.param.name); });

}  // namespace
