// The TCP transport over 127.0.0.1: two transports talking, and transports
// against a plain socket that plays the far end byte for byte. Protocol time
// is a CSimClock; real time only lets loopback packets arrive.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <numeric>

#include "fakes/LoopbackPeer.h"
#include "net/TcpTransport.h"
#include "platform/Clock.h"
#include "support/Layer2PacketFrame.h"

using namespace loopback;

namespace {

AudioFormat G722Format(int direction = DIRECTION_BOTH) {
    AudioFormat f;
    f.codingType = CODING_G722;
    f.bitRate = 64000;
    f.sampleRate = 16000;
    f.deviceMode = DEVICEMODE_MONO;
    f.frameBytes = 480;
    f.direction = direction;
    return f;
}

AudioFormat Layer2Format() {
    AudioFormat f;
    f.codingType = CODING_MPEG_L2;
    f.bitRate = 128000;
    f.sampleRate = 48000;
    f.deviceMode = DEVICEMODE_STEREO;
    f.frameBytes = 384;
    return f;
}

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

struct TcpTransportTest : ::testing::Test {
    CSimClock m_clock{5000};
    CTcpTransport m_caller;
    CTcpTransport m_answerer;
    uint16_t m_port = FreePort();

    void SetUp() override {
        ASSERT_EQ(m_caller.Init(10240, 4, "127.0.0.1", 1080), 1);
        ASSERT_EQ(m_answerer.Init(10240, 4, "127.0.0.1", 1080), 1);
        ASSERT_EQ(m_caller.Open(), 1);
        ASSERT_EQ(m_answerer.Open(), 1);
    }

    void ConnectPair(const AudioFormat& callerFormat) {
        ASSERT_EQ(m_answerer.Listen(m_port), 1);
        m_caller.SetSendFormat(&callerFormat);
        ASSERT_EQ(m_caller.Connect("127.0.0.1", m_port, 0), 1);
        EXPECT_EQ(m_caller.GetState(), 32);
        ASSERT_TRUE(Pump({&m_caller, &m_answerer}, [&] {
            return m_caller.GetState() == 48 && m_answerer.GetState() == 48;
        }));
    }

    // A plain socket peer is accepted and its first 16 bytes of audio have arrived.
    void AcceptPlainPeerWithAudio(Conn& peer) {
        ASSERT_EQ(m_answerer.Listen(m_port), 1);
        ASSERT_TRUE(peer.Connect(m_port));
        ASSERT_TRUE(Pump({&m_answerer}, [&] { return m_answerer.GetState() == 48; }));
        ASSERT_TRUE(peer.SendAll(Pattern(16, 2)));
        ASSERT_TRUE(Pump({&m_answerer}, [&] { return m_answerer.GetReceiveAvailable() > 0; }));
    }

    // Reads audio from t until want bytes came, polling both transports.
    Bytes Receive(CTcpTransport& t, size_t want) {
        Bytes got;
        Pump({&m_caller, &m_answerer}, [&] {
            uint8_t buf[4096];
            const int n = t.ReadAudio(buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
            return got.size() >= want;
        });
        return got;
    }
};

}  // namespace

TEST_F(TcpTransportTest, TwoTransportsExchangeAudioAndFramesBothWays) {
    ConnectPair(G722Format());
    const AudioFormat answerFormat = Layer2Format();
    m_answerer.SetSendFormat(&answerFormat);

    // Caller to answerer: the format arrives with the first audio.
    const Bytes up = Pattern(900, 1);
    ASSERT_EQ(m_caller.WriteAudio(up.data(), 450), 1);
    EXPECT_TRUE(Pump({&m_caller, &m_answerer}, [&] { return m_answerer.IsReceiveFormatChanged() != 0; }));
    ASSERT_EQ(m_caller.WriteAudio(up.data() + 450, 450), 1);
    EXPECT_EQ(Receive(m_answerer, 900), up);
    AudioFormat got;
    m_answerer.GetReceiveFormat(&got);
    EXPECT_EQ(got.codingType, CODING_G722);
    EXPECT_EQ(got.bitRate, 64000);  // recomputed from the rate
    EXPECT_EQ(got.aptxOption, 1);
    EXPECT_FALSE(m_answerer.IsReceiveFormatChanged());

    // Answerer to caller.
    const Bytes down = Pattern(768, 9);
    Bytes frames(768);
    for (int i = 0; i < 2; ++i) {
        std::memcpy(frames.data() + 384 * i, down.data() + 384 * i, 384);
        frames[384 * i] = 0xFF;  // a Layer II stream starts each frame with its sync word
        frames[384 * i + 1] = 0xFD;
    }
    ASSERT_EQ(m_answerer.WriteAudio(frames.data(), 768), 1);
    EXPECT_EQ(Receive(m_caller, 768), frames);
    m_caller.GetReceiveFormat(&got);
    EXPECT_EQ(got.codingType, CODING_MPEG_L2);

    // Frames both ways, between audio.
    uint8_t values[12];
    BufferingValues bv;
    bv.connectionType = 20;
    bv.bufferingMode = 10;
    bv.bufferMs = 250;
    StoreBufferingValues(bv, values);
    ASSERT_EQ(m_caller.WriteAudio(up.data(), 100), 1);
    ASSERT_EQ(m_caller.SendControl(CTRL_BUFFERING, values, 12), 1);
    ASSERT_TRUE(Pump({&m_caller, &m_answerer}, [&] {
        m_answerer.GetReceiveAvailable();
        return m_answerer.GetControlType() == CTRL_BUFFERING;
    }));
    EXPECT_EQ(m_answerer.GetControlLength(), 12);
    uint8_t read[16];
    std::memset(read, 0xAA, sizeof read);
    EXPECT_EQ(m_answerer.ReadControl(read, 16), 1);
    EXPECT_EQ(std::memcmp(read, values, 12), 0);
    EXPECT_EQ(read[12], 0);  // the rest zero-filled
    EXPECT_EQ(read[15], 0);
    EXPECT_EQ(m_answerer.GetControlType(), 0);
    EXPECT_EQ(m_answerer.ReadControl(read, 16), 0);
    EXPECT_EQ(Receive(m_answerer, 100), Bytes(up.begin(), up.begin() + 100));

    StationIdentity id;
    std::strcpy(id.stationName, "Studio B");
    id.versionNumber = kStationVersionNumber;
    uint8_t record[124];
    StoreStationIdentity(id, record);
    ASSERT_EQ(m_answerer.SendControl(CTRL_PEERINFO, record, 124), 1);
    ASSERT_TRUE(Pump({&m_caller, &m_answerer}, [&] {
        m_caller.GetReceiveAvailable();
        return m_caller.GetControlType() == CTRL_PEERINFO;
    }));
    uint8_t small[8];
    EXPECT_EQ(m_caller.ReadControl(small, 8), 1);  // shorter: copied in part, frame freed
    EXPECT_EQ(std::memcmp(small, record, 8), 0);
    EXPECT_EQ(m_caller.GetControlType(), 0);

    char peer[32];
    ASSERT_EQ(m_caller.GetPeerAddress(peer, sizeof peer), 1);
    EXPECT_STREQ(peer, "127.0.0.1");
}

TEST_F(TcpTransportTest, CallerSendsBufferingValuesInItsFormatFrameAndAnswererTakesThem) {
    m_caller.SetBuffering(20, 20, 500);
    ConnectPair(G722Format());
    const Bytes audio = Pattern(10, 3);
    ASSERT_EQ(m_caller.WriteAudio(audio.data(), 10), 1);
    ASSERT_TRUE(Pump({&m_caller, &m_answerer}, [&] { return m_answerer.IsReceiveFormatChanged() != 0; }));
    int type = 0, mode = 0, ms = 0;
    ASSERT_EQ(m_answerer.GetBuffering(&type, &mode, &ms), 1);
    EXPECT_EQ(type, 20);
    EXPECT_EQ(mode, 20);
    EXPECT_EQ(ms, 500);
}

TEST_F(TcpTransportTest, FormatFrameGoesFirstAndIsResentEveryTwoSecondsUntilThePeersArrives) {
    Listener far;
    const AudioFormat f = G722Format();
    m_caller.SetSendFormat(&f);
    ASSERT_EQ(m_caller.Connect("127.0.0.1", far.port, 0), 1);
    Conn peer;
    ASSERT_TRUE(Pump({&m_caller}, [&] {
        if (peer.s == ws::INVALID_SOCKET) peer.s = far.Accept();
        return m_caller.GetState() == 48;
    }));
    if (peer.s == ws::INVALID_SOCKET) peer.s = far.Accept();
    ASSERT_NE(peer.s, ws::INVALID_SOCKET);
    ws::SetNonBlocking(peer.s, true);
    const Bytes audio = Pattern(480, 5);
    ASSERT_EQ(m_caller.WriteAudio(audio.data(), 480), 1);
    m_caller.Poll();
    Bytes stream = peer.Read();
    ASSERT_GE(stream.size(), 104u);
    EXPECT_EQ(std::memcmp(stream.data(), "Qiv", 4), 0);
    EXPECT_EQ(GetLe32(stream.data() + 4), 10u);
    EXPECT_EQ(GetLe32(stream.data() + 8), 88u);
    const AudioFormat sent = LoadAudioFormat(stream.data() + 16);
    EXPECT_EQ(sent.codingType, CODING_G722);
    EXPECT_EQ(GetLe32(stream.data() + 16 + 72), 1u);
    EXPECT_EQ(Bytes(stream.begin() + 104, stream.end()), audio);

    auto formatFrames = [&](const Bytes& s) {
        std::vector<Frame> frames;
        Split(s, nullptr, &frames);
        int n = 0;
        for (const Frame& fr : frames) n += fr.type == CTRL_FORMAT;
        return n;
    };
    // Not yet: 1999 ms.
    m_clock.AdvanceMs(1999);
    m_caller.Poll();
    m_caller.WriteAudio(audio.data(), 10);
    m_caller.Poll();
    EXPECT_EQ(formatFrames(peer.Read(20)), 0);
    // At 2000 ms it goes again, and again after two more seconds.
    for (int round = 0; round < 2; ++round) {
        m_clock.AdvanceMs(round == 0 ? 1 : 2000);
        m_caller.Poll();
        m_caller.Poll();
        EXPECT_EQ(formatFrames(peer.Read()), 1) << round;
    }
    // The peer's format stops the repetition.
    ASSERT_TRUE(peer.SendAll(MakeFrame(CTRL_FORMAT, FormatPayload(Layer2Format()))));
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.IsReceiveFormatChanged() != 0; }));
    for (int i = 0; i < 3; ++i) {
        m_clock.AdvanceMs(2000);
        m_caller.Poll();
        m_caller.Poll();
    }
    EXPECT_EQ(formatFrames(peer.Read(20)), 0);
    EXPECT_EQ(m_caller.GetState(), 48);
}

TEST_F(TcpTransportTest, ReceiveOnlySideAnnouncesAtOnceAndSendsKeepAlivesEveryThreeSeconds) {
    Listener far;
    ASSERT_EQ(m_caller.Connect("127.0.0.1", far.port, 0), 1);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
    Conn peer(far.Accept());
    ASSERT_NE(peer.s, ws::INVALID_SOCKET);
    const AudioFormat f = G722Format(DIRECTION_RECEIVE_ONLY);
    m_caller.SetSendFormat(&f);
    std::vector<Frame> frames;
    Split(peer.Read(), nullptr, &frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].type, CTRL_FORMAT);
    EXPECT_EQ(frames[0].payload.size(), 88u);
    EXPECT_EQ(LoadAudioFormat(frames[0].payload.data()).direction, DIRECTION_RECEIVE_ONLY);
    // The peer's format ends the format repetition; keep-alives go on.
    ASSERT_TRUE(peer.SendAll(MakeFrame(CTRL_FORMAT, FormatPayload(G722Format(DIRECTION_SEND_ONLY)))));
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.IsReceiveFormatChanged() != 0; }));
    const Bytes keepAlive = MakeFrame(CTRL_KEEPALIVE, {});
    for (int i = 0; i < 3; ++i) {
        m_clock.AdvanceMs(2999);
        m_caller.Poll();
        EXPECT_TRUE(peer.Read(5).empty());
        m_clock.AdvanceMs(1);
        m_caller.Poll();
        EXPECT_EQ(peer.Read(), keepAlive) << i;
        // The peer's audio keeps the receive side alive; no send time-out on a receive-only side.
        ASSERT_TRUE(peer.SendAll(Pattern(10, 1)));
        Pump({&m_caller}, [&] { return m_caller.GetReceiveAvailable() >= 10; });
        m_caller.FlushReceive();
    }
    EXPECT_EQ(m_caller.GetState(), 48);
}

TEST_F(TcpTransportTest, EightSecondsOfSilenceEndWith10060) {
    Listener far;
    const AudioFormat f = G722Format(DIRECTION_RECEIVE_ONLY);
    ASSERT_EQ(m_caller.Connect("127.0.0.1", far.port, 0), 1);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
    Conn peer(far.Accept());
    m_caller.SetSendFormat(&f);  // time-outs now 8 s; only the receive one on this side
    ASSERT_TRUE(peer.SendAll(Pattern(4, 1)));
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetReceiveAvailable() >= 4; }));
    m_clock.AdvanceMs(7999);
    m_caller.Poll();
    EXPECT_EQ(m_caller.GetState(), 48);
    m_clock.AdvanceMs(1);
    m_caller.Poll();
    EXPECT_EQ(m_caller.GetState(), 16);
    EXPECT_EQ(m_caller.GetLastError(), 10060);
    EXPECT_EQ(m_caller.GetLastError(), 0);  // read and cleared
}

TEST_F(TcpTransportTest, SilenceAtTheStartEndsAfterSixteenSeconds) {
    // A plain caller: no connect worker moves the clock while the answerer counts.
    ASSERT_EQ(m_answerer.Listen(m_port), 1);
    Conn caller;
    ASSERT_TRUE(caller.Connect(m_port));
    ASSERT_TRUE(Pump({&m_answerer}, [&] { return m_answerer.GetState() == 48; }));
    m_clock.AdvanceMs(15999);
    m_answerer.Poll();
    EXPECT_EQ(m_answerer.GetState(), 48);
    m_clock.AdvanceMs(1);
    m_answerer.Poll();
    EXPECT_EQ(m_answerer.GetState(), 16);
    EXPECT_EQ(m_answerer.GetLastError(), 10060);
}

TEST_F(TcpTransportTest, KilledPeerGives10054AndTheAnswererListensAgain) {
    Conn peer;
    AcceptPlainPeerWithAudio(peer);
    if (HasFatalFailure()) return;
    peer.Kill();
    ASSERT_TRUE(Pump({&m_answerer}, [&] { return m_answerer.GetState() != 48; }));
    EXPECT_EQ(m_answerer.GetLastError(), 10054);
    EXPECT_EQ(m_answerer.GetState(), 18);
    Conn again;
    ASSERT_TRUE(again.Connect(m_port));
    EXPECT_TRUE(Pump({&m_answerer}, [&] { return m_answerer.GetState() == 48; }));
}

TEST_F(TcpTransportTest, ClosedPortGives10061AndTheCallerListensAgain) {
    const uint16_t mine = FreePort();
    ASSERT_EQ(m_caller.Listen(mine), 1);
    EXPECT_EQ(m_caller.GetState(), 18);
    ASSERT_EQ(m_caller.Connect("127.0.0.1", m_port, 0), 1);  // nobody listens on m_port
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() != 32; }));
    EXPECT_EQ(m_caller.GetState(), 18);
    EXPECT_EQ(m_caller.GetState() & 0xF0, 16);
    EXPECT_EQ(m_caller.GetLastError(), 10061);
    Conn incoming;
    ASSERT_TRUE(incoming.Connect(mine));
    EXPECT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
}

TEST_F(TcpTransportTest, UnansweredConnectGivesUpWith10060) {
    // A listener whose backlog is full drops further SYNs: the connect stays under way.
    Listener full(0);
    Conn fill1, fill2;
    fill1.Connect(full.port);
    fill2.s = ws::socket(ws::SocketKind::Stream);
    ws::SetNonBlocking(fill2.s, true);
    ws::connect(fill2.s, Address(full.port));
    m_caller.SetConnectTimeout(21000);
    ASSERT_EQ(m_caller.Connect("127.0.0.1", full.port, 0), 1);
    Pump({&m_caller}, [] { return false; }, 100);
    if (m_caller.GetState() != 32) GTEST_SKIP() << "the kernel took the connection: no SYN was dropped";
    m_clock.AdvanceMs(21000);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() != 32; }));
    EXPECT_EQ(m_caller.GetState(), 17);
    EXPECT_EQ(m_caller.GetLastError(), 10060);
}

TEST_F(TcpTransportTest, RefusedDestinationsLeaveTheListenerListening) {
    const uint16_t mine = FreePort();
    ASSERT_EQ(m_caller.Listen(mine), 1);
    struct Case {
        const char* address;
        int port;
        int error;
    };
    const Case cases[] = {{"127.0.0.1", 0, 10022},         {"127.0.0.1", 65536, 10022},
                          {"127.0.0.1", 70000, 10022},     {"127.0.0.1", static_cast<int>(0x98816b8au), 10022},
                          {"", 5003, 10022},               {" *_ ", 5003, 10022},
                          {"no-such-host.invalid", 5003, -1}};  // whatever the resolver says
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + ":" + std::to_string(c.port));
        EXPECT_EQ(m_caller.Connect(c.address, c.port, 0), 0);
        const int error = m_caller.GetLastError();
        if (c.error < 0) {
            EXPECT_NE(error, 0);
        } else {
            EXPECT_EQ(error, c.error);
        }
        EXPECT_EQ(m_caller.GetState(), 18);
    }
    Conn incoming;
    ASSERT_TRUE(incoming.Connect(mine));
    EXPECT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
}

TEST_F(TcpTransportTest, BindFailureIsReportedNotListening) {
    Listener taken;
    EXPECT_EQ(m_caller.Listen(taken.port), 0);
    EXPECT_EQ(m_caller.GetState(), 17);
    EXPECT_EQ(m_caller.GetLastError(), 10048);
}

TEST_F(TcpTransportTest, DestinationTextIsCleanedOfBlanksStarsAndUnderscores) {
    ASSERT_EQ(m_answerer.Listen(m_port), 1);
    ASSERT_EQ(m_caller.Connect(" 127.0_.0.*1 ", m_port, 0), 1);
    EXPECT_TRUE(Pump({&m_caller, &m_answerer}, [&] { return m_caller.GetState() == 48; }));
}

TEST_F(TcpTransportTest, StateFlagsAndClose) {
    EXPECT_EQ(m_caller.IsStateChanged(), 1);
    EXPECT_EQ(m_caller.GetState(), 17);
    EXPECT_EQ(m_caller.IsStateChanged(), 0);
    EXPECT_EQ(m_caller.Init(10240, 4, "", 1080), 0);  // only once
    m_caller.Close();
    EXPECT_EQ(m_caller.IsStateChanged(), 1);
    EXPECT_EQ(m_caller.GetState(), 16);
    EXPECT_EQ(m_caller.IsReceiveFormatChanged(), 1);
    uint8_t b[4] = {};
    EXPECT_EQ(m_caller.WriteAudio(b, 4), 0);  // not connected
    EXPECT_EQ(m_caller.ReadAudio(b, 4), 0);
    EXPECT_EQ(m_caller.SendControl(CTRL_KEEPALIVE, nullptr, 0), 0);
    CTcpTransport bad;
    EXPECT_EQ(bad.Init(10240, 3, "127.0.0.1", 1080), 0);  // SOCKS 3 does not exist
    EXPECT_EQ(bad.GetState(), 0);
}

TEST_F(TcpTransportTest, ControlFrameLargerThanTheSendRoomIsRefused) {
    CTcpTransport small;
    ASSERT_EQ(small.Init(1024, 4, "127.0.0.1", 1080), 1);
    ASSERT_EQ(small.Open(), 1);
    ASSERT_EQ(m_answerer.Listen(m_port), 1);
    ASSERT_EQ(small.Connect("127.0.0.1", m_port, 0), 1);
    ASSERT_TRUE(Pump({&small, &m_answerer}, [&] { return small.GetState() == 48; }));
    const Bytes big(1024 - 16 + 1, 1);
    EXPECT_EQ(small.SendControl(CTRL_DELAY, big.data(), static_cast<int>(big.size())), 0);
    EXPECT_EQ(small.SendControl(CTRL_DELAY, big.data(), static_cast<int>(big.size()) - 1), 1);
    EXPECT_EQ(small.SendControl(CTRL_DELAY, big.data(), -1), 0);
}

TEST_F(TcpTransportTest, PeerFrameSizesOfZeroNegativeOrHugeKeepTheReceiverWorking) {
    Listener far;
    ASSERT_EQ(m_caller.Connect("127.0.0.1", far.port, 0), 1);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
    Conn peer(far.Accept());
    for (int32_t frameBytes : {0, -5, 0x7FFFFFFF}) {
        AudioFormat f = G722Format();
        f.codingType = CODING_PCM;
        f.sampleRate = 32000 + frameBytes % 7;  // each a new format
        f.frameBytes = frameBytes;
        ASSERT_TRUE(peer.SendAll(MakeFrame(CTRL_FORMAT, FormatPayload(f))));
        const Bytes audio = Pattern(3000, static_cast<uint8_t>(frameBytes));
        ASSERT_TRUE(peer.SendAll(audio));
        Bytes got;
        Pump({&m_caller}, [&] {
            uint8_t buf[4096];
            const int n = m_caller.ReadAudio(buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
            return got.size() >= audio.size();
        });
        EXPECT_EQ(got, audio) << frameBytes;
        EXPECT_TRUE(m_caller.IsReceiveFormatChanged());
        AudioFormat rf;
        m_caller.GetReceiveFormat(&rf);
        EXPECT_EQ(rf.frameBytes, frameBytes);
    }
    // A format frame too short to hold a format is not taken.
    ASSERT_TRUE(peer.SendAll(MakeFrame(CTRL_FORMAT, Bytes(10, 1))));
    Pump({&m_caller}, [&] { return false; }, 30);
    EXPECT_FALSE(m_caller.IsReceiveFormatChanged());
    EXPECT_EQ(m_caller.GetState(), 48);
}

TEST_F(TcpTransportTest, FormatFrameDirectionIsMirroredOnReceipt) {
    Listener far;
    ASSERT_EQ(m_caller.Connect("127.0.0.1", far.port, 0), 1);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
    Conn peer(far.Accept());
    ASSERT_TRUE(peer.SendAll(MakeFrame(CTRL_FORMAT, FormatPayload(G722Format(DIRECTION_SEND_ONLY)))));
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.IsReceiveFormatChanged() != 0; }));
    AudioFormat rf;
    m_caller.GetReceiveFormat(&rf);
    EXPECT_EQ(rf.direction, DIRECTION_RECEIVE_ONLY);
    // The same format again changes nothing.
    ASSERT_TRUE(peer.SendAll(MakeFrame(CTRL_FORMAT, FormatPayload(G722Format(DIRECTION_SEND_ONLY)))));
    Pump({&m_caller}, [&] { return false; }, 30);
    EXPECT_FALSE(m_caller.IsReceiveFormatChanged());
}

TEST_F(TcpTransportTest, FramesSplitAtEveryByteAreFoundWholeAndAudioIsKept) {
    Listener far;
    ASSERT_EQ(m_caller.Connect("127.0.0.1", far.port, 0), 1);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
    Conn peer(far.Accept());
    const Bytes frame = MakeFrame(CTRL_DELAY, Pattern(32, 4));
    const Bytes before = Pattern(5, 50);
    const Bytes after = Pattern(7, 90);
    for (size_t cut = 0; cut <= frame.size(); ++cut) {
        SCOPED_TRACE(cut);
        Bytes first = before;
        first.insert(first.end(), frame.begin(), frame.begin() + static_cast<long>(cut));
        ASSERT_TRUE(peer.SendAll(first));
        Pump({&m_caller}, [&] { return false; }, 3);
        if (cut > 0 && cut < frame.size()) {
            EXPECT_EQ(m_caller.GetControlType(), 0);
            EXPECT_EQ(m_caller.GetReceiveAvailable(), 0);
            uint8_t b[64];
            EXPECT_EQ(m_caller.ReadAudio(b, sizeof b), 0);
        }
        Bytes second(frame.begin() + static_cast<long>(cut), frame.end());
        second.insert(second.end(), after.begin(), after.end());
        ASSERT_TRUE(peer.SendAll(second));
        ASSERT_TRUE(Pump({&m_caller}, [&] {
            m_caller.GetReceiveAvailable();
            return m_caller.GetControlType() == CTRL_DELAY;
        }));
        uint8_t payload[32];
        ASSERT_EQ(m_caller.ReadControl(payload, 32), 1);
        EXPECT_EQ(Bytes(payload, payload + 32), Pattern(32, 4));
        Bytes audio;
        Pump({&m_caller}, [&] {
            uint8_t b[64];
            const int n = m_caller.ReadAudio(b, sizeof b);
            if (n > 0) audio.insert(audio.end(), b, b + n);
            return audio.size() >= 12;
        });
        Bytes want = before;
        want.insert(want.end(), after.begin(), after.end());
        EXPECT_EQ(audio, want);
    }
}

TEST_F(TcpTransportTest, TinySendBufferWithStalledReaderCorruptsNothing) {
    Listener far;
    m_caller.SetSocketBufferBytes(2048);
    AudioFormat f = G722Format();
    f.frameBytes = 1000;
    m_caller.SetSendFormat(&f);
    ASSERT_EQ(m_caller.Connect("127.0.0.1", far.port, 0), 1);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
    Conn peer(far.Accept());
    ws::SetReceiveBufferSize(peer.s, 2048);
    // Write audio and frames until the socket pushes back hard; nobody reads.
    Bytes sentAudio;
    std::vector<Bytes> sentFrames;
    uint8_t counter = 0;
    int refusedWrites = 0;
    for (int i = 0; i < 3000 && refusedWrites < 50; ++i) {
        const Bytes block = Pattern(333, counter++);
        if (m_caller.WriteAudio(block.data(), 333)) {
            sentAudio.insert(sentAudio.end(), block.begin(), block.end());
            refusedWrites = 0;
        } else {
            ++refusedWrites;
        }
        if (i % 3 == 0) {
            const Bytes payload = Pattern(40, static_cast<uint8_t>(i));
            if (m_caller.SendControl(CTRL_DELAY, payload.data(), 40)) sentFrames.push_back(payload);
        }
        m_caller.Poll();
    }
    ASSERT_EQ(m_caller.GetState(), 48);
    ASSERT_GT(refusedWrites, 0) << "the socket never pushed back";
    // Now read everything while the transport drains its queues.
    Bytes stream;
    Pump({&m_caller}, [&] {
        const Bytes got = peer.Read(1);
        stream.insert(stream.end(), got.begin(), got.end());
        return got.empty() && m_caller.GetSendSpace() == 2000;
    });
    // What the system's socket buffers still hold comes after that, as fast
    // as the machine lets it: read until all of it has come.
    Bytes audio;
    std::vector<Frame> frames;
    std::vector<Bytes> delays;
    const auto split = [&] {
        audio.clear();
        frames.clear();
        delays.clear();
        Split(stream, &audio, &frames);
        for (const Frame& fr : frames)
            if (fr.type == CTRL_DELAY) delays.push_back(fr.payload);
    };
    split();
    for (int i = 0; i < 200 && (audio.size() < sentAudio.size() || delays.size() < sentFrames.size()); ++i) {
        const Bytes more = peer.Read(50);
        stream.insert(stream.end(), more.begin(), more.end());
        split();
    }
    EXPECT_EQ(audio, sentAudio);
    for (const Frame& fr : frames) {
        if (fr.type != CTRL_DELAY) {
            EXPECT_EQ(fr.type, CTRL_FORMAT);
        }
    }
    EXPECT_EQ(delays, sentFrames);
}

TEST_F(TcpTransportTest, PeerPacketSwitchesToThePacketProtocol) {
    Listener far;
    AudioFormat f = Layer2Format();
    ASSERT_EQ(m_caller.Connect("127.0.0.1", far.port, 0), 1);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
    Conn peer(far.Accept());
    StationIdentity id;
    std::strcpy(id.stationName, "Packet station");
    std::strcpy(id.buildDate, "01-Jan-2009");
    id.versionNumber = 7;
    Bytes packet(kPeerPacketBytes);
    BuildPeerPacket(id, packet.data());
    ASSERT_TRUE(peer.SendAll(packet));
    ASSERT_TRUE(Pump({&m_caller}, [&] {
        m_caller.GetReceiveAvailable();
        return m_caller.GetControlType() == CTRL_PEERINFO;
    }));
    EXPECT_EQ(m_caller.GetProtocol(), CTcpTransport::kProtocolPackets);
    EXPECT_EQ(m_caller.GetControlLength(), 124);
    uint8_t record[124];
    ASSERT_EQ(m_caller.ReadControl(record, 124), 1);
    const StationIdentity got = LoadStationIdentity(record);
    EXPECT_STREQ(got.stationName, "Packet station");
    EXPECT_EQ(got.versionNumber, 7u);
    // Our identity goes back as a peer packet, not as a control frame.
    StationIdentity mine;
    std::strcpy(mine.stationName, "Studio A");
    std::strcpy(mine.buildDate, "20-Jan-2010");
    uint8_t mineRecord[124];
    StoreStationIdentity(mine, mineRecord);
    ASSERT_EQ(m_caller.SendControl(CTRL_PEERINFO, mineRecord, 124), 1);
    const Bytes back = peer.Read();
    ASSERT_EQ(back.size(), static_cast<size_t>(kPeerPacketBytes));
    EXPECT_EQ(back[0], 0xFF);
    EXPECT_EQ(back[1], 0x10);
    EXPECT_STREQ(StationIdentityFromPeerBlock(back.data() + 6).stationName, "Studio A");
    // Audio now leaves as packets; the first 75 are dropped unsent.
    m_caller.SetSendFormat(&f);
    Bytes frameBytes = Pattern(384, 1);
    int written = 0;
    Bytes sent;
    for (int i = 0; i < 200 && written < 80; ++i) {
        if (m_caller.WriteAudio(frameBytes.data(), 384)) ++written;
        m_caller.Poll();
    }
    ASSERT_EQ(written, 80);
    Pump({&m_caller}, [&] {
        const Bytes got2 = peer.Read(1);
        sent.insert(sent.end(), got2.begin(), got2.end());
        return sent.size() >= 5u * 384u;
    });
    EXPECT_EQ(sent.size(), 5u * 384u);
    // And packets from the peer are parsed: four to confirm the format, then audio.
    const Bytes mpeg = Layer2PacketFrame(Bytes(384, 0x33));
    Bytes six;
    for (int i = 0; i < 6; ++i) six.insert(six.end(), mpeg.begin(), mpeg.end());
    ASSERT_TRUE(peer.SendAll(six));
    Bytes audio;
    ASSERT_TRUE(Pump({&m_caller}, [&] {
        uint8_t b[1024];
        const int n = m_caller.ReadAudio(b, sizeof b);
        if (n > 0) audio.insert(audio.end(), b, b + n);
        return audio.size() >= 768;
    }));
    EXPECT_TRUE(m_caller.IsReceiveFormatChanged());
    AudioFormat rf;
    m_caller.GetReceiveFormat(&rf);
    EXPECT_EQ(rf.codingType, CODING_MPEG_L2);
    EXPECT_EQ(audio[382], 0);
    EXPECT_EQ(audio[100], 0x33);
}

TEST_F(TcpTransportTest, DestroyWhileConnectingJoinsTheWorker) {
    Listener far;
    auto* t = new CTcpTransport;
    ASSERT_EQ(t->Init(10240, 4, "127.0.0.1", 1080), 1);
    ASSERT_EQ(t->Open(), 1);
    ASSERT_EQ(t->Connect("127.0.0.1", far.port, 0), 1);
    delete t;  // the worker is still pausing or connecting
    CTcpTransport u;
    ASSERT_EQ(u.Init(10240, 4, "127.0.0.1", 1080), 1);
    ASSERT_EQ(u.Open(), 1);
    ASSERT_EQ(u.Connect("127.0.0.1", far.port, 0), 1);
    EXPECT_EQ(u.Close(), 1);
    EXPECT_EQ(u.GetState(), 16);
}

TEST_F(TcpTransportTest, MpegStreamIsHeldOnASyncWordAndFlushKeepsAFrameInProgress) {
    Listener far;
    ASSERT_EQ(m_caller.Connect("127.0.0.1", far.port, 0), 1);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
    Conn peer(far.Accept());
    ASSERT_TRUE(peer.SendAll(MakeFrame(CTRL_FORMAT, FormatPayload(Layer2Format()))));
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.IsReceiveFormatChanged() != 0; }));
    // Bytes before the first sync word are dropped.
    ASSERT_TRUE(peer.SendAll({0x01, 0x02, 0xFF, 0x03, 0xFF, 0xFD, 0x84, 0x00, 0x55}));
    Bytes audio;
    ASSERT_TRUE(Pump({&m_caller}, [&] {
        uint8_t b[64];
        const int n = m_caller.ReadAudio(b, sizeof b);
        if (n > 0) audio.insert(audio.end(), b, b + n);
        return audio.size() >= 5;
    }));
    EXPECT_EQ(audio, (Bytes{0xFF, 0xFD, 0x84, 0x00, 0x55}));
    // Audio, then the first half of a frame: a flush drops the audio only.
    const Bytes frame = MakeFrame(CTRL_DELAY, Pattern(32, 6));
    Bytes first = {0xFF, 0xFD, 0x84, 0x00};
    first.insert(first.end(), frame.begin(), frame.begin() + 20);
    ASSERT_TRUE(peer.SendAll(first));
    Pump({&m_caller}, [&] { return false; }, 20);
    m_caller.FlushReceive();
    ASSERT_TRUE(peer.SendAll(Bytes(frame.begin() + 20, frame.end())));
    EXPECT_TRUE(Pump({&m_caller}, [&] {
        m_caller.GetReceiveAvailable();
        return m_caller.GetControlType() == CTRL_DELAY;
    }));
}

TEST_F(TcpTransportTest, FlushKeepsWholeFramesWaitingBehindAPendingOne) {
    // A peer sends its identity, its format and audio in one segment. The
    // identity waits for the owner, who flushes audio while no format is
    // known: the format frame behind it must survive.
    Listener far;
    ASSERT_EQ(m_caller.Connect("127.0.0.1", far.port, 0), 1);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
    Conn peer(far.Accept());
    Bytes segment = Pattern(10, 1);
    const Bytes identity = MakeFrame(CTRL_PEERINFO, Pattern(124, 3));
    const Bytes format = MakeFrame(CTRL_FORMAT, FormatPayload(Layer2Format()));
    segment.insert(segment.end(), identity.begin(), identity.end());
    segment.insert(segment.end(), 7, 0x11);
    segment.insert(segment.end(), format.begin(), format.end());
    segment.insert(segment.end(), 30, 0x22);
    ASSERT_TRUE(peer.SendAll(segment));
    ASSERT_TRUE(Pump({&m_caller}, [&] {
        m_caller.GetReceiveAvailable();
        return m_caller.GetControlType() == CTRL_PEERINFO;
    }));
    m_caller.FlushReceive();
    EXPECT_EQ(m_caller.IsReceiveFormatChanged(), 0);
    uint8_t payload[124];
    ASSERT_EQ(m_caller.ReadControl(payload, sizeof payload), 1);
    EXPECT_EQ(Bytes(payload, payload + 124), Pattern(124, 3));
    m_caller.FlushReceive();
    ASSERT_TRUE(Pump({&m_caller}, [&] {
        m_caller.GetReceiveAvailable();
        return m_caller.IsReceiveFormatChanged() != 0;
    }));
    AudioFormat f;
    m_caller.GetReceiveFormat(&f);
    EXPECT_EQ(f.codingType, CODING_MPEG_L2);
    EXPECT_EQ(f.bitRate, 128000);
}

TEST_F(TcpTransportTest, AnswererListensOnTheSamePortRightAfterHangingUp) {
    ConnectPair(G722Format());
    m_answerer.HangUp();  // this side closes first: its end of the call lingers in TIME_WAIT
    EXPECT_EQ(m_answerer.GetState(), 16);
    ASSERT_EQ(m_answerer.Open(), 1);
    EXPECT_EQ(m_answerer.Listen(m_port), 1);
    EXPECT_EQ(m_answerer.GetState(), 18);
}

namespace {

// Audio flows both ways; `closing` hangs up with bytes from the other side
// still unread in its socket, while `other` goes on sending.
void HangUpWhileAudioFlows(CTcpTransport& closing, CTcpTransport& other, bool otherReceives) {
    const AudioFormat f = G722Format();
    closing.SetSendFormat(&f);
    other.SetSendFormat(&f);
    const Bytes block = Pattern(480, 3);
    ASSERT_EQ(closing.WriteAudio(block.data(), 480), 1);
    ASSERT_EQ(other.WriteAudio(block.data(), 480), 1);
    ASSERT_TRUE(Pump({&other}, [&] { return other.GetSendSpace() == 960; }));
    ASSERT_EQ(other.WriteAudio(block.data(), 480), 1);
    other.GetSendSpace();
    RealPause();  // arrives, but `closing` does not read it
    closing.HangUp();
    EXPECT_EQ(closing.GetState(), 16);
    EXPECT_EQ(closing.GetLastError(), 0);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (other.GetState() == 48 && std::chrono::steady_clock::now() < end) {
        other.WriteAudio(block.data(), 480);
        if (otherReceives)
            other.Poll();
        else
            other.GetSendSpace();  // sends only: no end of stream is read here
        RealPause();
    }
}

}  // namespace

TEST_F(TcpTransportTest, CallerHangsUpAndTheAnswererEndsWithoutAnErrorListeningAgain) {
    ConnectPair(G722Format());
    HangUpWhileAudioFlows(m_caller, m_answerer, true);
    EXPECT_EQ(m_answerer.GetState(), 18);
    EXPECT_EQ(m_answerer.GetLastError(), 0);
    // And takes the next call.
    ASSERT_EQ(m_caller.Open(), 1);
    ASSERT_EQ(m_caller.Connect("127.0.0.1", m_port, 0), 1);
    EXPECT_TRUE(Pump({&m_caller, &m_answerer}, [&] {
        return m_caller.GetState() == 48 && m_answerer.GetState() == 48;
    }));
}

TEST_F(TcpTransportTest, AnswererHangsUpAndTheCallerEndsWithoutAnError) {
    ConnectPair(G722Format());
    HangUpWhileAudioFlows(m_answerer, m_caller, true);
    EXPECT_EQ(m_caller.GetState(), 17);
    EXPECT_EQ(m_caller.GetLastError(), 0);
}

// The reset for audio that reached the closed side is met by a send before
// any end of stream is read: still a hang-up, not a failure.
TEST_F(TcpTransportTest, SendingIntoAHungUpPeerEndsWithoutAnError) {
    ConnectPair(G722Format());
    HangUpWhileAudioFlows(m_caller, m_answerer, false);
    EXPECT_EQ(m_answerer.GetState(), 18);
    EXPECT_EQ(m_answerer.GetLastError(), 0);
}

TEST_F(TcpTransportTest, PlainPeerClosingInOrderEndsWithoutAnError) {
    Conn peer;
    AcceptPlainPeerWithAudio(peer);
    if (HasFatalFailure()) return;
    peer.Close();
    ASSERT_TRUE(Pump({&m_answerer}, [&] { return m_answerer.GetState() != 48; }));
    EXPECT_EQ(m_answerer.GetState(), 18);
    EXPECT_EQ(m_answerer.GetLastError(), 0);
}

// A station killed mid-call, with nothing unread: the system closes its
// socket, and the far end must still see a reset, not a hang-up.
TEST_F(TcpTransportTest, KilledStationResetsItsCall) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        CTcpTransport far;
        char ok = far.Init(10240, 4, "127.0.0.1", 1080) && far.Open() && far.Listen(m_port) ? 1 : 0;
        if (write(ready[1], &ok, 1) != 1) _exit(2);
        for (;;) {
            far.Poll();
            uint8_t b[4096];
            while (far.ReadAudio(b, sizeof b) > 0) {
            }
            far.DiscardControl();
            RealPause();
        }
    }
    close(ready[1]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    ASSERT_EQ(ok, 1);
    const AudioFormat f = G722Format();
    m_caller.SetSendFormat(&f);
    ASSERT_EQ(m_caller.Connect("127.0.0.1", m_port, 0), 1);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() == 48; }));
    const Bytes block = Pattern(480, 4);
    ASSERT_EQ(m_caller.WriteAudio(block.data(), 480), 1);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetSendSpace() == 960; }));
    Pump({&m_caller}, [] { return false; }, 50);  // the far end reads it all
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(Pump({&m_caller}, [&] { return m_caller.GetState() != 48; }));
    EXPECT_EQ(m_caller.GetLastError(), 10054);
    EXPECT_EQ(m_caller.GetState(), 17);
}
