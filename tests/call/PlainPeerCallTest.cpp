// A station on the real audio engine, with a virtual device on the real
// clock, against a plain socket that plays the far end byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "EngineStations.h"
#include "audio/ToneAnalysis.h"
#include "net/fakes/LoopbackPeer.h"

using namespace loopback;

namespace {

constexpr int kPcmBytesPerSecond = 48000 * 2;  // 48 kHz mono

AudioFormat PcmMono48k() {
    AudioFormat f;
    f.codingType = CODING_PCM;
    f.bitRate = 768000;
    f.sampleRate = 48000;
    f.deviceMode = DEVICEMODE_MONO;
    f.frameBytes = 2304;
    return f;
}

CVirtualStudio AddRealClockStudio(const std::string& name, double toneHz, double level) {
    VirtualWaveConfig c;
    c.name = name;
    c.toneHz = toneHz;
    c.toneLevel = level;
    c.sinkSeconds = 20;
    EXPECT_EQ(VirtualWaveAdd(c), 1);
    return {name, 0};
}

struct PlainPeerCallTest : ::testing::Test {
    void SetUp() override {
        VirtualWaveClear();
        setenv("VELMORA_REGISTRY_FILE", m_dir.File("registry").c_str(), 1);
        m_station = std::make_unique<CStation>(m_dir, "Studio A", TestPort(0));
    }
    // On the real clock, or on the simulated one that the test moves.
    void StartStation(bool realClock) {
        m_studio = realClock ? AddRealClockStudio("Studio A Loop", 1000.0, 0.5)
                             : AddVirtualStudio("Studio A Loop", 0, 1000.0, 0.5);
        ASSERT_TRUE(StartOnRealEngine(*m_station, m_studio));
        ASSERT_TRUE(m_station->WaitState(16));
    }
    void TearDown() override {
        m_station.reset();
        VirtualWaveClear();
    }

    CTempDir m_dir;
    std::unique_ptr<CStation> m_station;
    CVirtualStudio m_studio;
};

// The capture's start-up silence must leave at the device's pace: a peer
// that calls for 8 s gets no more than 8.5 s of audio, and at no moment more
// than 0.1 s ahead of the time the call has run. A busy machine may hold the
// audio back and let it through later; only a burst ever runs ahead.
TEST_F(PlainPeerCallTest, AnsweredCallSendsAudioAtTheDevicesPace) {
    StartStation(true);
    Conn peer;
    ASSERT_TRUE(peer.Connect(static_cast<uint16_t>(m_station->port)));
    ASSERT_TRUE(peer.SendAll(MakeFrame(CTRL_FORMAT, FormatPayload(PcmMono48k()))));
    const auto start = std::chrono::steady_clock::now();
    Bytes stream;
    double mostAheadSeconds = -1e9;
    for (;;) {
        const Bytes got = peer.Read(20);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                            .count();
        stream.insert(stream.end(), got.begin(), got.end());
        // The stream's bytes beside what the call's time allows, as audio
        // seconds (the few bytes of control frames count as audio here).
        mostAheadSeconds =
            std::max(mostAheadSeconds, static_cast<double>(stream.size()) / kPcmBytesPerSecond - ms / 1000.0);
        if (ms >= 8000) break;
    }
    Bytes audio;
    std::vector<Frame> frames;
    Split(stream, &audio, &frames);
    const double seconds = static_cast<double>(audio.size()) / kPcmBytesPerSecond;
    std::printf("8 s call: %.2f s of audio, at most %.3f s ahead of the call's time\n", seconds, mostAheadSeconds);
    EXPECT_GT(seconds, 6.0) << "the station must send at all";
    EXPECT_LE(seconds, 8.5);
    EXPECT_LE(mostAheadSeconds, 0.1);
    peer.Close();
    EXPECT_TRUE(m_station->WaitState(16, 20000));
}

// The peer answers with its identity and its format in one segment, then
// PCM: the station takes both and plays the peer's tone for the whole call.
TEST_F(PlainPeerCallTest, IdentityAndFormatInOneSegmentAreBothTaken) {
    StartStation(false);
    Listener far;
    PhonebookEntry e = TcpEntry(far.port, CODING_PCM, 48000, DEVICEMODE_MONO);
    ASSERT_TRUE(m_station->engine->Connect(e));
    Conn peer;
    for (int i = 0; i < 5000 && peer.s == ws::INVALID_SOCKET; ++i) {
        peer.s = far.Accept();
        if (peer.s == ws::INVALID_SOCKET) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_NE(peer.s, ws::INVALID_SOCKET);
    ws::SetNonBlocking(peer.s, true);
    StationIdentity id;
    std::snprintf(id.stationName, sizeof id.stationName, "Plain Peer");
    std::snprintf(id.productName, sizeof id.productName, "Velmora");
    id.versionNumber = kStationVersionNumber;
    Bytes idBytes(kStationIdentityBytes);
    StoreStationIdentity(id, idBytes.data());
    Bytes segment = MakeFrame(CTRL_PEERINFO, idBytes);
    const Bytes format = MakeFrame(CTRL_FORMAT, FormatPayload(PcmMono48k()));
    segment.insert(segment.end(), format.begin(), format.end());
    ASSERT_TRUE(peer.SendAll(segment));
    // 440 Hz at quarter scale, one 24 ms frame at a time in step with the
    // station's device clock, two frames ahead of it.
    const std::vector<int16_t> tone = MakeTone(48000 * 6, 1, 440.0, 48000.0, 0.25 * 32767.0);
    size_t sent = 0;
    bool sendFailed = false;
    const uint64_t t0 = VirtualWaveNowMs();
    CLockStepClock clock({m_station.get()}, [&] {
        while (!sendFailed && (sent + 1) * 1152 <= tone.size() && sent * 24 < VirtualWaveNowMs() - t0 + 48) {
            Bytes pcm(2304);
            std::memcpy(pcm.data(), tone.data() + sent * 1152, pcm.size());
            sendFailed = !peer.SendAll(pcm);
            ++sent;
        }
        peer.Read(0);  // what the station sends is not judged here
    });
    ASSERT_TRUE(clock.WaitDeviceMs(5000));
    clock.Stop();
    EXPECT_FALSE(sendFailed);
    AudioFormat decoder;
    m_station->engine->GetDecoderFormat(&decoder);
    EXPECT_EQ(decoder.codingType, CODING_PCM);
    StationIdentity remote;
    m_station->engine->GetRemoteIdentity(&remote);
    EXPECT_STREQ(remote.stationName, "Plain Peer");
    // The last two seconds played carry the peer's tone.
    const std::vector<int16_t> played = PlayedBy(m_studio, 1);
    ASSERT_GT(played.size(), 48000u * 2);
    const size_t first = played.size() - 48000 * 2;
    int heard = 0, pieces = 0;
    for (size_t w = first; w + 240 <= played.size(); w += 240, ++pieces) {
        const ToneFit fit = FitTone(played.data(), w, 240, 1, 0, 440.0, 48000.0);
        if (std::abs(Db(fit.amplitude / (0.25 * 32767.0))) < 1.0) ++heard;
    }
    std::printf("peer's tone in %d of %d pieces of the last 2 s\n", heard, pieces);
    EXPECT_GT(heard, pieces * 9 / 10);
    ASSERT_TRUE(m_station->engine->Disconnect());
    EXPECT_TRUE(m_station->WaitState(16, 20000));
}

}  // namespace
