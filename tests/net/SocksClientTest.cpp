// The SOCKS client against a scripted proxy (exact request bytes, every result
// code) and through a real danted; the TCP transport's connect worker with a
// proxy that never answers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fakes/DanteProxy.h"
#include "fakes/LoopbackPeer.h"
#include "fakes/ScriptedProxy.h"
#include "net/SocksClient.h"
#include "net/TcpTransport.h"
#include "platform/Clock.h"
#include "platform/UserName.h"

using namespace loopback;

namespace {

std::string UserName() {
    char name[257] = {};
    uint32_t size = sizeof name;
    GetUserNameA(name, &size);
    return name;
}

Bytes Socks4Request(uint16_t port, const Bytes& address, const std::string& host = "") {
    // Byte by byte: GCC 12 at -O3 takes a range insert behind the four-byte
    // head for an overflow of it (-Warray-bounds).
    Bytes b;
    b.reserve(64);
    for (uint8_t c : {uint8_t{4}, uint8_t{1}, static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port)})
        b.push_back(c);
    for (uint8_t c : address) b.push_back(c);
    for (char c : UserName()) b.push_back(static_cast<uint8_t>(c));
    b.push_back(0);
    if (!host.empty()) {
        for (char c : host) b.push_back(static_cast<uint8_t>(c));
        b.push_back(0);
    }
    return b;
}

// Runs one hand-shake against the script; returns the client's result and code.
struct Outcome {
    int result;
    int code;
    Bytes sent;
};

Outcome Handshake(int version, std::vector<ScriptedProxy::Step> steps, const char* host, int port, const char* user = nullptr,
            const char* password = nullptr) {
    ScriptedProxy proxy(std::move(steps));
    CSocksClient client;
    EXPECT_EQ(client.Init(version, "127.0.0.1", proxy.Port()), 1);
    if (user) client.SetLogin(user, password);
    client.SetTimeout(5000);
    const ws::SOCKET s = ws::socket(ws::SocketKind::Stream);
    Outcome o;
    o.result = client.Connect(s, host, port, 0);
    o.code = client.GetLastError();
    o.sent = proxy.Received();
    ws::closesocket(s);
    return o;
}

const Bytes kSocks5Granted = {5, 0, 0, 1, 127, 0, 0, 1, 0x12, 0x34};

}  // namespace

TEST(SocksClient, OnlyVersionsFourAndFive) {
    CSocksClient c;
    EXPECT_EQ(c.Init(3, "127.0.0.1", 1080), 0);
    EXPECT_EQ(c.Init(4, "127.0.0.1", 1080), 1);
    EXPECT_EQ(c.Init(5, "127.0.0.1", 1080), 1);
    EXPECT_EQ(c.Connect(ws::INVALID_SOCKET, "x", 1, 0), 0);
    EXPECT_EQ(c.GetLastError(), 0);
}

TEST(SocksClient, Socks4RequestAndTheReplyRule) {
    const Bytes request = Socks4Request(0x1F90, {10, 1, 2, 3});
    // Only 91, 92 and 93 refuse; anything else is taken as granted.
    const struct {
        uint8_t reply;
        int result;
        int code;
    } cases[] = {
        {90, 1, 0},
        {0, 1, 0},
        {94, 1, 0},
        {91, 0, static_cast<int>(0x80040001u)},
        {92, 0, static_cast<int>(0x80040002u)},
        {93, 0, static_cast<int>(0x80040003u)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.reply));
        const Outcome o = Handshake(4, {{request.size(), {0, c.reply, 0, 0, 0, 0, 0, 0}}}, "10.1.2.3", 0x1F90);
        EXPECT_EQ(o.sent, request);
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.code, c.code);
    }
}

TEST(SocksClient, Socks4aPutsTheHostNameAfterTheUserId) {
    const Bytes request = Socks4Request(5000, {0, 0, 0, 1}, "studio.example");
    const Outcome o = Handshake(4, {{request.size(), {0, 90, 0, 0, 0, 0, 0, 0}}}, "studio.example", 5000);
    EXPECT_EQ(o.sent, request);
    EXPECT_EQ(o.result, 1);
}

TEST(SocksClient, Socks5WithoutLogin) {
    const Bytes greet = {5, 1, 0};
    const Bytes connect = {5, 1, 0, 1, 127, 0, 0, 1, 0x13, 0x88};
    Bytes both = greet;
    both.insert(both.end(), connect.begin(), connect.end());
    const Outcome o = Handshake(5, {{3, {5, 0}}, {connect.size(), kSocks5Granted}}, "127.0.0.1", 5000);
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(o.code, 0);
    EXPECT_EQ(o.sent, both);
}

TEST(SocksClient, Socks5LoginAndHostName) {
    const Bytes greet = {5, 2, 0, 2};
    Bytes auth = {1, 4, 'u', 's', 'e', 'r', 2, 'p', 'w'};
    Bytes connect = {5, 1, 0, 3, 9, 'l', 'o', 'c', 'a', 'l', 'h', 'o', 's', 't', 0x00, 0x50};
    // A bound address given as a name is read whole.
    const Bytes granted = {5, 0, 0, 3, 3, 'a', 'b', 'c', 0, 80};
    const Outcome o =
        Handshake(5, {{4, {5, 2}}, {auth.size(), {1, 0}}, {connect.size(), granted}}, "localhost", 80, "user", "pw");
    EXPECT_EQ(o.result, 1);
    Bytes all = greet;
    all.insert(all.end(), auth.begin(), auth.end());
    all.insert(all.end(), connect.begin(), connect.end());
    EXPECT_EQ(o.sent, all);
}

TEST(SocksClient, Socks5Refusals) {
    const Bytes connectLen(10, 0);
    // The proxy accepts no offered method.
    Outcome o = Handshake(5, {{3, {5, 0xFF}}}, "127.0.0.1", 1);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.code, static_cast<int>(0x80051002u));
    // Wrong password.
    o = Handshake(5, {{4, {5, 2}}, {9, {1, 1}}}, "127.0.0.1", 1, "user", "pw");
    EXPECT_EQ(o.code, static_cast<int>(0x80051001u));
    // Reply codes 1..8 and above.
    for (uint8_t code : {1, 5, 8, 9, 0x42}) {
        SCOPED_TRACE(static_cast<int>(code));
        o = Handshake(5, {{3, {5, 0}}, {10, {5, code, 0, 1, 0, 0, 0, 0, 0, 0}}}, "127.0.0.1", 1);
        EXPECT_EQ(o.result, 0);
        const uint32_t want = code <= 8 ? 0x80050000u | code : 0x80050009u;
        EXPECT_EQ(static_cast<uint32_t>(o.code), want);
    }
    // A refusal followed by a hang-up still reports the reply code.
    o = Handshake(5, {{3, {5, 0}}, {10, {5, 5, 0, 1}}}, "127.0.0.1", 1);
    EXPECT_EQ(static_cast<uint32_t>(o.code), 0x80050005u);
}

TEST(SocksClient, ProxyHangingUpOrAbsentGivesAWinsockCodeWithTheSocksBit) {
    const Outcome o = Handshake(4, {}, "127.0.0.1", 1);  // accepts and hangs up
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(static_cast<uint32_t>(o.code), 0x80000000u | 10054u);
    const uint16_t nobody = FreePort();
    CSocksClient client;
    client.Init(5, "127.0.0.1", nobody);
    const ws::SOCKET s = ws::socket(ws::SocketKind::Stream);
    EXPECT_EQ(client.Connect(s, "127.0.0.1", 1, 0), 0);
    EXPECT_EQ(static_cast<uint32_t>(client.GetLastError()), 0x80000000u | 10061u);
    ws::closesocket(s);
}

TEST(SocksClient, SilentProxyTimesOutWith10060) {
    CSimClock clock(100);
    ScriptedProxy proxy({{3, {}}}, true);
    CSocksClient client;
    client.Init(5, "127.0.0.1", proxy.Port());
    client.SetTimeout(21000);
    const ws::SOCKET s = ws::socket(ws::SocketKind::Stream);
    std::thread advance([&] {
        proxy.Received();  // the greeting has arrived
        clock.AdvanceMs(21000);
    });
    EXPECT_EQ(client.Connect(s, "127.0.0.1", 1, 0), 0);
    advance.join();
    EXPECT_EQ(static_cast<uint32_t>(client.GetLastError()), 0x80000000u | 10060u);
    ws::closesocket(s);
}

// ---------------------------------------------------------------- through the transport

struct SocksTransportTest : ::testing::Test {
    CSimClock m_clock{1000};
};

TEST_F(SocksTransportTest, SilentProxyIsSurvivedAndDestructionIsPrompt) {
    ScriptedProxy proxy({{3, {}}}, true);
    auto* t = new CTcpTransport;
    ASSERT_EQ(t->Init(10240, 5, "127.0.0.1", proxy.Port()), 1);
    ASSERT_EQ(t->Open(), 1);
    ASSERT_EQ(t->Connect("127.0.0.1", 9, 1), 1);
    proxy.Received();  // the worker is now waiting for the proxy's answer
    t->Poll();
    EXPECT_EQ(t->GetState(), 32);
    const auto start = std::chrono::steady_clock::now();
    delete t;  // cancels and joins the worker
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST_F(SocksTransportTest, SilentProxyTimesOutAndTheTransportListensAgain) {
    ScriptedProxy proxy({{4, {}}}, true);
    CTcpTransport t;
    ASSERT_EQ(t.Init(10240, 5, "127.0.0.1", proxy.Port()), 1);
    t.SetProxyLogin("user", "pw");
    ASSERT_EQ(t.Open(), 1);
    const uint16_t mine = FreePort();
    ASSERT_EQ(t.Listen(mine), 1);
    ASSERT_EQ(t.Connect("127.0.0.1", 9, 1), 1);
    proxy.Received();
    m_clock.AdvanceMs(21000);
    ASSERT_TRUE(Pump({&t}, [&] { return t.GetState() != 32; }));
    EXPECT_EQ(t.GetState(), 18);
    EXPECT_EQ(static_cast<uint32_t>(t.GetLastError()), 0x80000000u | 10060u);
}

TEST_F(SocksTransportTest, MethodRefusedIsReportedWithBit31) {
    ScriptedProxy proxy({{3, {5, 0xFF}}});
    CTcpTransport t;
    ASSERT_EQ(t.Init(10240, 5, "127.0.0.1", proxy.Port()), 1);
    ASSERT_EQ(t.Open(), 1);
    ASSERT_EQ(t.Connect("127.0.0.1", 9, 1), 1);
    ASSERT_TRUE(Pump({&t}, [&] { return t.GetState() != 32; }));
    EXPECT_EQ(t.GetState(), 17);
    EXPECT_EQ(static_cast<uint32_t>(t.GetLastError()), 0x80051002u);
}

// ---------------------------------------------------------------- through danted

struct DanteTest : ::testing::Test {
    CSimClock m_clock{1000};
    DanteProxy m_dante;
    CTcpTransport m_answerer;

    void SetUp() override {
        const std::string why = m_dante.Start();
        if (!why.empty()) GTEST_SKIP() << why;
        ASSERT_EQ(m_answerer.Init(10240, 4, "127.0.0.1", 1080), 1);
        ASSERT_EQ(m_answerer.Open(), 1);
    }

    // Calls the answerer through the proxy; the caller's state when it settles.
    int Call(CTcpTransport& caller, int version, const char* host, uint16_t port, const char* user = nullptr,
             const char* password = nullptr) {
        EXPECT_EQ(caller.Init(10240, version, "127.0.0.1", m_dante.port), 1);
        if (user) caller.SetProxyLogin(user, password);
        EXPECT_EQ(caller.Open(), 1);
        EXPECT_EQ(caller.Connect(host, port, 1), 1);
        Pump({&caller, &m_answerer}, [&] { return caller.GetState() != 32; }, 5000);
        return caller.GetState();
    }

    void ExchangeAudio(CTcpTransport& caller) {
        ASSERT_TRUE(Pump({&caller, &m_answerer}, [&] { return m_answerer.GetState() == 48; }));
        const Bytes up = {1, 2, 3, 4, 5, 6, 7, 8};
        const Bytes down = {9, 8, 7};
        ASSERT_EQ(caller.WriteAudio(up.data(), 8), 1);
        ASSERT_EQ(m_answerer.WriteAudio(down.data(), 3), 1);
        Bytes gotUp, gotDown;
        ASSERT_TRUE(Pump({&caller, &m_answerer}, [&] {
            uint8_t b[64];
            int n = m_answerer.ReadAudio(b, sizeof b);
            if (n > 0) gotUp.insert(gotUp.end(), b, b + n);
            n = caller.ReadAudio(b, sizeof b);
            if (n > 0) gotDown.insert(gotDown.end(), b, b + n);
            return gotUp.size() >= 8 && gotDown.size() >= 3;
        }));
        EXPECT_EQ(gotUp, up);
        EXPECT_EQ(gotDown, down);
        char peer[32];
        ASSERT_EQ(m_answerer.GetPeerAddress(peer, sizeof peer), 1);
        EXPECT_STREQ(peer, "127.0.0.1");  // the proxy's side of the call
    }
};

TEST_F(DanteTest, Socks4CarriesACall) {
    ASSERT_EQ(m_answerer.Listen(m_dante.openPort), 1);
    CTcpTransport caller;
    ASSERT_EQ(Call(caller, 4, "127.0.0.1", m_dante.openPort), 48) << m_dante.Log();
    ExchangeAudio(caller);
}

TEST_F(DanteTest, Socks5CarriesACallToAnAddressOrAName) {
    ASSERT_EQ(m_answerer.Listen(m_dante.openPort), 1);
    CTcpTransport byAddress;
    ASSERT_EQ(Call(byAddress, 5, "127.0.0.1", m_dante.openPort), 48) << m_dante.Log();
    ExchangeAudio(byAddress);
    byAddress.Close();
    m_answerer.Close();
    ASSERT_EQ(m_answerer.Open(), 1);
    ASSERT_EQ(m_answerer.Listen(m_dante.openPort), 1);
    CTcpTransport byName;
    ASSERT_EQ(Call(byName, 5, "localhost", m_dante.openPort), 48) << m_dante.Log();
    ExchangeAudio(byName);
}

TEST_F(DanteTest, Socks5LoginCarriesACallAndAWrongPasswordIsRefused) {
    if (!DanteProxy::EnsureLoginUser()) GTEST_SKIP() << "cannot create the proxy's login user";
    ASSERT_EQ(m_answerer.Listen(m_dante.loginPort), 1);
    CTcpTransport wrong;
    EXPECT_EQ(Call(wrong, 5, "127.0.0.1", m_dante.loginPort, DanteProxy::kUser, "not-it"), 17);
    EXPECT_EQ(static_cast<uint32_t>(wrong.GetLastError()), 0x80051001u) << m_dante.Log();
    // Without a login the rule for this port refuses: SOCKS 5 reply 2.
    CTcpTransport none;
    EXPECT_EQ(Call(none, 5, "127.0.0.1", m_dante.loginPort), 17);
    EXPECT_EQ(static_cast<uint32_t>(none.GetLastError()), 0x80050002u);
    CTcpTransport right;
    ASSERT_EQ(Call(right, 5, "127.0.0.1", m_dante.loginPort, DanteProxy::kUser, DanteProxy::kPassword), 48)
        << m_dante.Log();
    ExchangeAudio(right);
}

TEST_F(DanteTest, RefusedRequestsGiveTheSocksCodes) {
    const uint16_t blocked = FreePort();
    CTcpTransport v4;
    EXPECT_EQ(Call(v4, 4, "127.0.0.1", blocked), 17);
    EXPECT_EQ(static_cast<uint32_t>(v4.GetLastError()), 0x80040001u);
    CTcpTransport v5;
    EXPECT_EQ(Call(v5, 5, "127.0.0.1", blocked), 17);
    EXPECT_EQ(static_cast<uint32_t>(v5.GetLastError()), 0x80050002u);  // not allowed by the rules
    CTcpTransport closed;
    EXPECT_EQ(Call(closed, 5, "127.0.0.1", m_dante.closedPort), 17);
    EXPECT_EQ(static_cast<uint32_t>(closed.GetLastError()), 0x80050005u);  // connection refused
    CTcpTransport closed4;
    EXPECT_EQ(Call(closed4, 4, "127.0.0.1", m_dante.closedPort), 17);
    EXPECT_EQ(static_cast<uint32_t>(closed4.GetLastError()), 0x80040001u);
    // This server speaks no SOCKS 4A: a request by name is rejected like any other.
    CTcpTransport v4a;
    EXPECT_EQ(Call(v4a, 4, "localhost", m_dante.openPort), 17);
    EXPECT_EQ(static_cast<uint32_t>(v4a.GetLastError()), 0x80040001u);
}
