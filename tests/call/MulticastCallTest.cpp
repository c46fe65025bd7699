// Multicast calls between stations in network namespaces made by the test:
// station A sends its tone to the group, B and C receive it through the
// real codecs and are judged by frequency, level, noise and continuity.
#include <gtest/gtest.h>

#include <cstdio>

#include "CallHarness.h"
#include "ToneCheck.h"
#include "support/NetNamespace.h"

namespace {

constexpr const char* kGroup = "239.255.20.1";
constexpr int kGroupPort = 5004;

PhonebookEntry MulticastEntry(bool sender, int codingType, int sampleRate, int mode, int bitRate = 0) {
    PhonebookEntry e;
    e.connection.kind = TRANSPORT_MULTICAST;
    std::snprintf(e.connection.address, sizeof e.connection.address, "%s", kGroup);
    e.connection.port = kGroupPort;
    e.connection.flag = sender ? 1 : 0;
    e.connection.hops = 1;
    e.format.codingType = codingType;
    e.format.sampleRate = sampleRate;
    e.format.deviceMode = mode;
    e.format.bitRate = bitRate ? bitRate : DerivedBitRate(e.format);
    e.format.direction = sender ? DIRECTION_SEND_ONLY : DIRECTION_RECEIVE_ONLY;
    return e;
}

struct MulticastCallTest : ::testing::TestWithParam<CodecCase> {
    void SetUp() override {
        if (!m_net.IsUp()) GTEST_SKIP() << m_net.Why();
        setenv("VELMORA_REGISTRY_FILE", m_dir.File("registry").c_str(), 1);
        for (char s : {'a', 'b', 'c'}) {
            m_stations.push_back(std::make_unique<CStation>(m_dir, std::string("Studio ") + char(s - 32), TestPort(0)));
        }
        m_stations[0]->tone->toneHz = 1000.0;
        m_stations[0]->tone->toneLevel = 0.5;
    }
    void TearDown() override { m_stations.clear(); }

    // The engine and its worker start in the station's namespace and stay there.
    void StartIn(char s) {
        CNamespaceScope in(m_net, s);
        ASSERT_TRUE(in.IsIn());
        CStation& st = Station(s);
        ASSERT_TRUE(st.Start());
        ASSERT_TRUE(st.WaitState(16));
        ASSERT_EQ(st.engine->GetAvailableTransports(), static_cast<uint32_t>(TRANSPORT_TCP | TRANSPORT_MULTICAST));
    }
    CStation& Station(char s) { return *m_stations[static_cast<size_t>(s - 'a')]; }

    CTestNetwork m_net{"abc"};
    CTempDir m_dir;
    std::vector<std::unique_ptr<CStation>> m_stations;
};

TEST_P(MulticastCallTest, ToneFromTheSenderReachesEveryReceiver) {
    const CodecCase& c = GetParam();
    for (char s : {'a', 'b', 'c'}) {
        StartIn(s);
        if (HasFatalFailure()) return;
    }
    CStation& a = Station('a');
    for (char s : {'b', 'c'}) {
        ASSERT_TRUE(Station(s).engine->Connect(MulticastEntry(false, CODING_PCM, 48000, DEVICEMODE_MONO)));
        ASSERT_TRUE(Station(s).WaitState(50)) << Station(s).Dump();
    }
    ASSERT_TRUE(a.engine->Connect(MulticastEntry(true, c.codingType, c.sampleRate, c.mode, c.bitRate)));
    ASSERT_TRUE(a.WaitState(50)) << a.Dump();
    for (char s : {'b', 'c'}) {
        CStation& r = Station(s);
        ASSERT_TRUE(r.WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 6000)) << r.Dump();
        ASSERT_TRUE(r.WaitFor(WM_ENGINE_REMOTE_IDENTITY, 0, 6000)) << r.Dump();
        StationIdentity id;
        r.engine->GetRemoteIdentity(&id);
        EXPECT_STREQ(id.stationName, "Studio A");
        AudioFormat f;
        r.engine->GetDecoderFormat(&f);
        EXPECT_EQ(f.codingType, c.codingType);
        EXPECT_EQ(f.sampleRate, c.sampleRate);
    }
    Sleep(c.callMs);
    ExpectTone("B", *Station('b').tone, *a.tone, c);
    ExpectTone("C", *Station('c').tone, *a.tone, c);
    for (char s : {'a', 'b', 'c'}) {
        ASSERT_TRUE(Station(s).engine->Disconnect());
        ASSERT_TRUE(Station(s).WaitState(16)) << Station(s).Dump();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Group, MulticastCallTest,
    // PCM at 32 kHz passes the sample-rate converters both ways: their own
    // noise sits some 57 dB below the tone. Layer II at 192 kbit/s codes a
    // steady tone with its error some 88 dB down. Layer III at 128 kbit/s
    // stereo and at 32 kbit/s mono keeps the tone some 68 dB above its noise.
    ::testing::Values(CodecCase{"PcmMono48k", CODING_PCM, 48000, DEVICEMODE_MONO, 0.1, 60.0},
                      CodecCase{"PcmStereo32k", CODING_PCM, 32000, DEVICEMODE_STEREO, 0.1, 50.0},
                      CodecCase{"AptxStereo48k", CODING_APTX, 48000, DEVICEMODE_STEREO, 0.2, 50.0},
                      CodecCase{"AptxEnhStereo48k", CODING_APTX_ENH, 48000, DEVICEMODE_STEREO, 0.2, 50.0},
                      CodecCase{"Layer2Stereo48k", CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 0.2, 60.0, 1200, 0, 192000},
                      CodecCase{"Layer3Stereo48k", CODING_MPEG_L3, 48000, DEVICEMODE_STEREO, 0.2, 55.0, 1200, 0, 128000},
                      CodecCase{"Layer3Mono24k", CODING_MPEG_L3, 24000, DEVICEMODE_MONO, 0.2, 55.0, 1200, 0, 32000},
                      CodecCase{"G722", CODING_G722, 16000, DEVICEMODE_MONO, 0.3, 40.0, 4200, 3200.0}),
    [](const ::testing::TestParamInfo<CodecCase>& i) { return std::string(i.param.name); });

}  // namespace
