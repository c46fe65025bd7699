// The connection manager over real loopback sockets: its state codes, the
// incoming flag, the connection record and the refusals.
#include "net/ConnectionManager.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/Clock.h"
#include "platform/WinSock.h"
#include "support/FreePorts.h"
#include "support/TempDir.h"

namespace {

int Port(int offset) { return FreeTestPort(offset); }

struct ConnectionManagerTest : ::testing::Test {
    CSettings Station(const char* name, int port, int accept) {
        CSettings s(m_dir.File(name));
        s.WriteInt("TCP", "PortNumber", port);
        s.WriteInt("TCP", "AnswerAcceptCalls", accept);
        return s;
    }
    static ConnectionInfo Tcp(int port) {
        ConnectionInfo c;
        c.kind = TRANSPORT_TCP;
        std::strcpy(c.address, "127.0.0.1");
        c.port = port;
        return c;
    }
    // Polls both until each has taken a state change to `state` (or 3 s pass).
    static bool PollUntil(CConnectionManager& a, CConnectionManager* b, int state) {
        bool aDone = false, bDone = b == nullptr;
        // Generous: a checked build on a busy machine connects slowly.
        const uint32_t start = timeGetTime();
        while (timeGetTime() - start < 30000) {
            a.Poll();
            if (b) b->Poll();
            if (!aDone && a.IsStateChanged() && a.GetState() == state) aDone = true;
            if (!bDone && b->IsStateChanged() && b->GetState() == state) bDone = true;
            if (aDone && bDone) return true;
            Sleep(5);
        }
        return false;
    }
    CTempDir m_dir;
    char m_program[CConnectionManager::kProgramPathBytes] = "Velmora.Exe";
};

TEST_F(ConnectionManagerTest, InitOffersTcpAndMulticastAndWritesTheProgramPath) {
    CConnectionManager m(Station("a.ini", Port(0), 0));
    EXPECT_EQ(m.GetState(), 0);
    ASSERT_EQ(m.Init(m_program, 1), 1);
    EXPECT_EQ(m.GetTransportMask(), static_cast<uint32_t>(TRANSPORT_TCP | TRANSPORT_MULTICAST));
    EXPECT_EQ(m.IsStateChanged(), 1);
    EXPECT_EQ(m.GetState(), CONN_IDLE);
    EXPECT_EQ(m.IsStateChanged(), 0);
    EXPECT_EQ(m_program[0], '/');  // the full path of the running program
    EXPECT_EQ(m.GetConnectionType(), 0);
    EXPECT_EQ(m.GetControlType(), 0);  // nothing to forward to
    EXPECT_EQ(m.ReadAudio(nullptr, 0), 0);
}

TEST_F(ConnectionManagerTest, InitRefusesAnEmptyProgramName) {
    CConnectionManager m(Station("a.ini", Port(0), 0));
    char empty[CConnectionManager::kProgramPathBytes] = {};
    EXPECT_EQ(m.Init(empty, 0), 0);
}

TEST_F(ConnectionManagerTest, MiniIsdnOffersNoIpTransport) {
    CSettings s = Station("a.ini", Port(0), 0);
    s.WriteInt("MiniISDN", "Enabled", 1);
    CConnectionManager m(s);
    ASSERT_EQ(m.Init(m_program, 0), 1);
    EXPECT_EQ(m.GetTransportMask(), 0u);
    const ConnectionInfo target = Tcp(Port(1));
    EXPECT_EQ(m.Connect(&target), 0);
}

TEST_F(ConnectionManagerTest, AbsentKindIsRefusedWithoutAStateChange) {
    CConnectionManager m(Station("a.ini", Port(0), 0));
    ASSERT_EQ(m.Init(m_program, 0), 1);
    m.GetState();
    ConnectionInfo isdn = Tcp(0);
    isdn.kind = TRANSPORT_ISDN;
    EXPECT_EQ(m.Connect(&isdn), 0);
    EXPECT_EQ(m.IsStateChanged(), 0);
    EXPECT_EQ(m.GetState(), CONN_IDLE);
}

TEST_F(ConnectionManagerTest, CallerAndAnswererMeetOnLoopback) {
    CConnectionManager answerer(Station("b.ini", Port(0), 1));
    CConnectionManager caller(Station("a.ini", Port(1), 0));
    ASSERT_EQ(answerer.Init(m_program, 0), 1);
    ASSERT_EQ(caller.Init(m_program, 0), 1);
    answerer.StartListening();
    answerer.GetState();
    caller.GetState();
    const ConnectionInfo target = Tcp(Port(0));
    ASSERT_EQ(caller.Connect(&target), 1);
    EXPECT_EQ(caller.GetConnectionType(), TRANSPORT_TCP);
    // Until the change is taken, the connection is not handed out.
    ConnectionInfo out;
    EXPECT_EQ(caller.GetConnectionInfo(&out), 0);
    EXPECT_EQ(caller.GetState(), CONN_CONNECTING);
    EXPECT_EQ(caller.GetConnectionInfo(&out), 1);
    EXPECT_EQ(caller.Connect(&target), 0);  // busy
    ASSERT_TRUE(PollUntil(caller, &answerer, CONN_CONNECTED));
    EXPECT_EQ(caller.IsIncoming(), 0);
    EXPECT_EQ(answerer.IsIncoming(), 1);
    EXPECT_EQ(answerer.GetConnectionType(), TRANSPORT_TCP);
    EXPECT_EQ(answerer.IsConnectionInfoChanged(), 1);
    ASSERT_EQ(answerer.GetConnectionInfo(&out), 1);
    EXPECT_STREQ(out.address, "127.0.0.1");
    EXPECT_EQ(answerer.IsConnectionInfoChanged(), 0);
    ASSERT_EQ(caller.GetConnectionInfo(&out), 1);
    EXPECT_EQ(out.port, Port(0));
    // A connect while connected changes nothing.
    const ConnectionInfo other = Tcp(Port(1));
    EXPECT_EQ(caller.Connect(&other), 0);
    EXPECT_EQ(caller.GetConnectionType(), TRANSPORT_TCP);
    // A control frame goes through the active transport.
    const uint8_t payload[12] = {20, 0, 0, 0, 10, 0, 0, 0, 0xF4, 1, 0, 0};
    EXPECT_EQ(caller.SendControl(40, payload, 12), 1);
    const uint32_t start = timeGetTime();
    while (answerer.GetControlType() == 0 && timeGetTime() - start < 2000) {
        answerer.Poll();
        answerer.GetReceiveAvailable();
        Sleep(5);
    }
    EXPECT_EQ(answerer.GetControlType(), 40);
    uint8_t got[12];
    EXPECT_EQ(answerer.ReadControl(got, 12), 1);
    EXPECT_EQ(std::memcmp(got, payload, 12), 0);
    EXPECT_EQ(caller.Disconnect(), CONN_IDLE);
    EXPECT_EQ(caller.GetConnectionType(), 0);
    EXPECT_EQ(caller.Disconnect(), CONN_IDLE);  // only in 32 or 48
    EXPECT_EQ(caller.GetLastError(), 0);
}

// A multicast sender is up as soon as its socket is: 32, then 48 on the next
// poll, with the entry's address kept as it was. The "group" here is the
// loopback address, where a plain socket listens.
TEST_F(ConnectionManagerTest, MulticastSenderIsUpAtOnceAndEndsWithItsSocket) {
    const ws::SOCKET peer = ws::socket(ws::SocketKind::Datagram);
    ws::SocketAddress at;
    at.ip = ws::kAddressLoopback;
    ASSERT_EQ(ws::bind(peer, at), 0);
    ASSERT_EQ(ws::getsockname(peer, &at), 0);
    CConnectionManager m(Station("a.ini", Port(0), 0));
    ASSERT_EQ(m.Init(m_program, 0), 1);
    m.GetState();
    ConnectionInfo c;
    c.kind = TRANSPORT_MULTICAST;
    std::strcpy(c.address, "127.0.0.1");
    c.port = 0x10000 | at.port;  // taken as 16 bits
    c.flag = 1;
    c.hops = 2;
    ASSERT_EQ(m.Connect(&c), 1);
    EXPECT_EQ(m.GetState(), CONN_CONNECTING);
    EXPECT_EQ(m.GetTransport(TRANSPORT_TCP), nullptr);
    ASSERT_TRUE(PollUntil(m, nullptr, CONN_CONNECTED));
    EXPECT_EQ(m.IsIncoming(), 0);
    EXPECT_EQ(m.IsConnectionInfoChanged(), 1);
    ConnectionInfo got;
    ASSERT_EQ(m.GetConnectionInfo(&got), 1);
    EXPECT_STREQ(got.address, "127.0.0.1");
    EXPECT_EQ(m.GetConnectionType(), TRANSPORT_MULTICAST);
    AudioFormat f;
    f.codingType = CODING_PCM;
    f.sampleRate = 48000;
    f.deviceMode = DEVICEMODE_MONO;
    f.frameBytes = 2304;
    m.SetSendFormat(&f);
    EXPECT_EQ(m.GetSendSpace(), 2304);
    const uint8_t audio[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(m.WriteAudio(audio, 8), 1);
    uint8_t buf[256];
    int sizes[2] = {};
    for (int& n : sizes) n = ws::recvfrom(peer, buf, sizeof buf, nullptr);
    EXPECT_EQ(sizes[0], 16 + 72);  // the format, announced at once
    EXPECT_EQ(sizes[1], 8);
    EXPECT_EQ(m.Disconnect(), CONN_IDLE);
    EXPECT_EQ(m.WriteAudio(audio, 8), 0);
    ws::closesocket(peer);
}

TEST_F(ConnectionManagerTest, RefusedConnectFailsWith10061) {
    CConnectionManager caller(Station("a.ini", Port(1), 0));
    ASSERT_EQ(caller.Init(m_program, 0), 1);
    caller.GetState();
    const ConnectionInfo target = Tcp(Port(0));  // nobody listens
    ASSERT_EQ(caller.Connect(&target), 1);
    ASSERT_TRUE(PollUntil(caller, nullptr, CONN_FAILED));
    EXPECT_EQ(caller.GetLastError(0), 10061);
    EXPECT_EQ(caller.GetLastError(0), 0);  // handed over once
    caller.ClearFailure();
    EXPECT_EQ(caller.GetState(), CONN_IDLE);
}

TEST_F(ConnectionManagerTest, UndialableDestinationFailsWith10022AndTheStationStillAnswers) {
    CConnectionManager station(Station("b.ini", Port(0), 1));
    ASSERT_EQ(station.Init(m_program, 0), 1);
    station.StartListening();
    station.GetState();
    for (int port : {0, 65536, -1}) {
        const ConnectionInfo target = Tcp(port);
        EXPECT_EQ(station.Connect(&target), 0) << port;
        EXPECT_EQ(station.GetState(), CONN_FAILED);
        EXPECT_EQ(station.GetLastError(0), 10022);
        station.ClearFailure();
        EXPECT_EQ(station.GetState(), CONN_IDLE);
    }
    ConnectionInfo blank = Tcp(Port(1));
    blank.address[0] = 0;
    EXPECT_EQ(station.Connect(&blank), 0);
    EXPECT_EQ(station.GetLastError(0), 10022);
    station.ClearFailure();
    station.GetState();
    CConnectionManager caller(Station("a.ini", Port(1), 0));
    ASSERT_EQ(caller.Init(m_program, 0), 1);
    caller.GetState();
    const ConnectionInfo target = Tcp(Port(0));
    ASSERT_EQ(caller.Connect(&target), 1);
    EXPECT_TRUE(PollUntil(caller, &station, CONN_CONNECTED));
    EXPECT_EQ(station.IsIncoming(), 1);
}

}  // namespace

namespace {

// A transport of another kind beside TCP: what the manager does with every
// kind it keeps, seen from the transport.
struct FakeLog {
    int created = 0;
    int destroyed = 0;
    int polled = 0;
    int listened = 0;
};
FakeLog g_fake;

class CFakeTransport final : public CManagedTransport {
public:
    ~CFakeTransport() override { ++g_fake.destroyed; }
    int Start(const ConnectionInfo&, const AudioFormat&) override { return 0; }
    int StartListening(const CSettings&) override { return ++g_fake.listened, 7; }
    void HangUpConnection() override {}
    int GetLastError() override { return 0; }
    int GetState() override { return CONN_IDLE; }
    int IsStateChanged() override { return 0; }
    void SetSendFormat(const AudioFormat*) override {}
    void GetReceiveFormat(AudioFormat*) override {}
    int IsReceiveFormatChanged() override { return 0; }
    int ReadAudio(uint8_t*, int) override { return 0; }
    void FlushReceive() override {}
    int GetReceiveAvailable() override { return 0; }
    int WriteAudio(const uint8_t*, int) override { return 0; }
    void DiscardSendData() override {}
    int GetSendSpace() override { return 0; }
    int GetControlType() override { return 0; }
    int GetControlLength() override { return 0; }
    void DiscardControl() override {}
    int ReadControl(void*, int) override { return 0; }
    int SendControl(int, const void*, int) override { return 0; }
    void Poll() override { ++g_fake.polled; }

    static std::unique_ptr<CManagedTransport> Create(const CSettings&, int) {
        ++g_fake.created;
        return std::make_unique<CFakeTransport>();
    }
};

std::unique_ptr<CManagedTransport> Unavailable(const CSettings&, int) { return nullptr; }

TEST_F(ConnectionManagerTest, TransportsAreKeptByKindUntilACallPicksOne) {
    const TransportRegistration rows[] = {
        {TRANSPORT_TCP, false, RegisteredTransports()[0].create},
        {TRANSPORT_MULTICAST, false, &CFakeTransport::Create},
        {TRANSPORT_ISDN, true, &Unavailable},
    };
    g_fake = FakeLog();
    CConnectionManager answerer(Station("b.ini", Port(0), 1));
    ASSERT_EQ(answerer.Init(m_program, 0), 1);
    answerer.StartListening();
    {
        CConnectionManager caller(Station("a.ini", Port(1), 0), rows);
        ASSERT_EQ(caller.Init(m_program, 0), 1);
        EXPECT_EQ(caller.GetTransportMask(), static_cast<uint32_t>(TRANSPORT_TCP | TRANSPORT_MULTICAST));
        EXPECT_EQ(g_fake.created, 1);
        EXPECT_NE(caller.GetTransport(TRANSPORT_MULTICAST), nullptr);
        EXPECT_EQ(caller.GetTransport(TRANSPORT_ISDN), nullptr);
        EXPECT_EQ(caller.StartListening(), 7);  // the answer that matters is handed back
        caller.Poll();
        EXPECT_EQ(g_fake.polled, 1);
        caller.GetState();
        // A kind whose transport could not be had is refused like an absent one.
        ConnectionInfo isdn = Tcp(0);
        isdn.kind = TRANSPORT_ISDN;
        EXPECT_EQ(caller.Connect(&isdn), 0);
        // The failed start of a kept kind is a failed connect.
        ConnectionInfo multicast = Tcp(0);
        multicast.kind = TRANSPORT_MULTICAST;
        EXPECT_EQ(caller.Connect(&multicast), 0);
        EXPECT_EQ(caller.GetState(), CONN_FAILED);
        caller.ClearFailure();
        caller.GetState();

        const ConnectionInfo target = Tcp(Port(0));
        ASSERT_EQ(caller.Connect(&target), 1);
        EXPECT_EQ(g_fake.destroyed, 1);  // only the call's transport is kept
        EXPECT_EQ(caller.GetTransport(TRANSPORT_MULTICAST), nullptr);
        EXPECT_EQ(caller.GetTransportMask(), static_cast<uint32_t>(TRANSPORT_TCP | TRANSPORT_MULTICAST));
        ASSERT_TRUE(PollUntil(caller, &answerer, CONN_CONNECTED));
        EXPECT_EQ(g_fake.polled, 1);
    }
    // With MiniISDN only the kinds marked for it are created.
    CSettings mini = Station("c.ini", Port(2), 0);
    mini.WriteInt("MiniISDN", "Enabled", 1);
    const TransportRegistration isdnRows[] = {
        {TRANSPORT_TCP, false, RegisteredTransports()[0].create},
        {TRANSPORT_ISDN, true, &CFakeTransport::Create},
    };
    CConnectionManager m(mini, isdnRows);
    ASSERT_EQ(m.Init(m_program, 0), 1);
    EXPECT_EQ(m.GetTransportMask(), static_cast<uint32_t>(TRANSPORT_ISDN));
}

}  // namespace
