// The simulated exchange's logic on simulated time: the CAPI sequences of a
// call, the B-channels clocked at 8000 byte/s, the causes of calls that fail,
// competing answers, release, and the faults it injects.
#include "platform/exchange/Exchange.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/capi/CapiMessage.h"

namespace {

using Bytes = std::vector<uint8_t>;

class Msg {
public:
    Msg(int app, uint8_t command, uint8_t sub, uint32_t adr) {
        m_b = {0, 0, static_cast<uint8_t>(app), 0, command, sub, 0, 0};
        Dword(adr);
    }
    Msg& Word(uint32_t v) { return Put(v, 2); }
    Msg& Dword(uint32_t v) { return Put(v, 4); }
    Msg& Struct(const std::string& body) {
        m_b.push_back(static_cast<uint8_t>(body.size()));
        m_b.insert(m_b.end(), body.begin(), body.end());
        return *this;
    }
    Msg& Empty(int n = 1) {
        m_b.insert(m_b.end(), static_cast<size_t>(n), 0);
        return *this;
    }
    Bytes Done() {
        m_b[0] = static_cast<uint8_t>(m_b.size());
        return m_b;
    }

private:
    Msg& Put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) m_b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    Bytes m_b;
};

uint32_t Le32(const Bytes& p, size_t at) {
    return p[at] | (p[at + 1] << 8) | (p[at + 2] << 16) | (static_cast<uint32_t>(p[at + 3]) << 24);
}
uint16_t Le16(const Bytes& p, size_t at) { return static_cast<uint16_t>(p[at] | (p[at + 1] << 8)); }

// Packets carry 'M' first; message bytes from 1.
struct Packet {
    Bytes bytes;
    uint8_t Command() const { return bytes[5]; }
    uint8_t Sub() const { return bytes[6]; }
    uint32_t Adr() const { return Le32(bytes, 9); }
    Bytes Data() const { return Bytes(bytes.begin() + 1 + Le16(bytes, 1), bytes.end()); }
};

struct ExchangeTest : ::testing::Test {
    ExchangeTest() : m_exchange(Config(), [this](int app, const Bytes& p) { m_in[app].push_back({p}); }) {}

    static ExchangeConfig Config() {
        ExchangeConfig c;
        c.controllers = {{1, 1, {"3411"}}, {2, 2, {"3412", "3413"}}};
        c.noAnswerMs = 2000;
        return c;
    }
    void Put(int app, const Bytes& m, const Bytes& data = {}) {
        m_exchange.OnMessage(app, m.data(), m.size(), data.data(), data.size(), m_now);
    }
    void Advance(int64_t ms) {
        m_now += ms * 1000;
        m_exchange.Advance(m_now);
    }
    // Takes the first packet of that kind for app (fails when there is none).
    Packet Take(int app, uint8_t command, uint8_t sub) {
        auto& q = m_in[app];
        for (auto it = q.begin(); it != q.end(); ++it) {
            if (it->Command() == command && it->Sub() == sub) {
                Packet p = *it;
                q.erase(it);
                return p;
            }
        }
        ADD_FAILURE() << "app " << app << " got no " << int(command) << "/" << int(sub);
        return Packet{Bytes(40, 0)};
    }
    int Count(int app, uint8_t command, uint8_t sub) const {
        int n = 0;
        auto it = m_in.find(app);
        if (it == m_in.end()) return 0;
        for (const Packet& p : it->second) n += (p.Command() == command && p.Sub() == sub) ? 1 : 0;
        return n;
    }
    void Listen(int app, int controller, uint32_t mask = 0x10016) {
        Put(app, Msg(app, CAPI_LISTEN, CAPI_REQ, static_cast<uint32_t>(controller)).Dword(0).Dword(mask).Dword(0).Empty(2).Done());
        EXPECT_EQ(Le16(Take(app, CAPI_LISTEN, CAPI_CONF).bytes, 13), 0);
    }
    uint32_t Dial(int app, int controller, const std::string& number) {
        Put(app, Msg(app, CAPI_CONNECT, CAPI_REQ, static_cast<uint32_t>(controller))
                     .Word(1).Struct("\x80" + number).Empty(4).Word(0).Empty(3).Empty(3).Done());
        return Take(app, CAPI_CONNECT, CAPI_CONF).Adr();
    }
    // A call from a (controller 1) to b (controller 2) up to B3 active; returns the NCCIs.
    std::pair<uint32_t, uint32_t> Connect(int a, int b) {
        Listen(b, 2);
        const uint32_t plciA = Dial(a, 1, "3412");
        const Packet ind = Take(b, CAPI_CONNECT, CAPI_IND);
        const uint32_t plciB = ind.Adr();
        Put(b, Msg(b, CAPI_CONNECT, CAPI_RESP, plciB).Word(0).Empty(8).Done());
        EXPECT_EQ(Take(a, CAPI_CONNECT_ACTIVE, CAPI_IND).Adr(), plciA);
        EXPECT_EQ(Take(b, CAPI_CONNECT_ACTIVE, CAPI_IND).Adr(), plciB);
        Put(a, Msg(a, CAPI_CONNECT_B3, CAPI_REQ, plciA).Empty().Done());
        const uint32_t ncciA = Take(a, CAPI_CONNECT_B3, CAPI_CONF).Adr();
        const uint32_t ncciB = Take(b, CAPI_CONNECT_B3, CAPI_IND).Adr();
        Put(b, Msg(b, CAPI_CONNECT_B3, CAPI_RESP, ncciB).Word(0).Empty().Done());
        Take(a, CAPI_CONNECT_B3_ACTIVE, CAPI_IND);
        Take(b, CAPI_CONNECT_B3_ACTIVE, CAPI_IND);
        return {ncciA, ncciB};
    }
    void SendBlock(int app, uint32_t ncci, uint16_t handle, const Bytes& data) {
        Put(app, Msg(app, CAPI_DATA_B3, CAPI_REQ, ncci).Dword(0).Word(static_cast<uint32_t>(data.size()))
                     .Word(handle).Word(0).Dword(0).Dword(0).Done(), data);
    }
    // Every DATA_B3_IND for app answered; their data in order.
    Bytes Received(int app, uint32_t ncci) {
        Bytes all;
        while (Count(app, CAPI_DATA_B3, CAPI_IND)) {
            const Packet p = Take(app, CAPI_DATA_B3, CAPI_IND);
            const Bytes d = p.Data();
            all.insert(all.end(), d.begin(), d.end());
            Put(app, Msg(app, CAPI_DATA_B3, CAPI_RESP, ncci).Word(Le16(p.bytes, 19)).Done());
        }
        return all;
    }

    int64_t m_now = 1000000;
    std::map<int, std::vector<Packet>> m_in;
    CExchange m_exchange;
};

}  // namespace

TEST_F(ExchangeTest, CallRunsItsSequencesAndClocksEachDirectionAt8000BytesPerSecond) {
    const int a = m_exchange.Register(7, 192), b = m_exchange.Register(7, 192);
    Listen(b, 2);
    Dial(a, 1, "3412");
    const Packet ind = Take(b, CAPI_CONNECT, CAPI_IND);
    EXPECT_EQ(Le16(ind.bytes, 13), 1);                                    // CIP
    EXPECT_EQ(std::string(ind.bytes.begin() + 17, ind.bytes.begin() + 21), "3412");  // called
    EXPECT_EQ(std::string(ind.bytes.begin() + 24, ind.bytes.begin() + 28), "3411");  // calling
    m_in.clear();
    m_exchange.Release(a);
    m_exchange.Release(b);
    EXPECT_EQ(m_exchange.ActiveCalls(), 0);

    const int c = m_exchange.Register(7, 192), d = m_exchange.Register(7, 192);
    const auto [ncciC, ncciD] = Connect(c, d);
    EXPECT_EQ(m_exchange.ActiveCalls(), 1);
    for (uint16_t h = 0; h < 3; ++h) SendBlock(c, ncciC, h, Bytes(192, static_cast<uint8_t>(0x10 + h)));
    Bytes atD;
    for (int ms = 0; ms < 1000; ms += 4) {
        Advance(4);
        const Bytes got = Received(d, ncciD);
        atD.insert(atD.end(), got.begin(), got.end());
        Received(c, ncciC);
    }
    // 8000 bytes in one second, in whole 192-byte blocks: 41 of them.
    EXPECT_EQ(atD.size(), 41u * 192u);
    EXPECT_EQ(atD[0], 0x10);
    EXPECT_EQ(atD[2 * 192 + 191], 0x12);
    EXPECT_EQ(atD[3 * 192], 0xFF) << "idle fill once the sender has nothing";
    EXPECT_EQ(Count(c, CAPI_DATA_B3, CAPI_CONF), 3) << "each block confirmed as it is clocked out";
}

TEST_F(ExchangeTest, AtMostSevenIndicationsWaitForTheirResponses) {
    const int a = m_exchange.Register(7, 192), b = m_exchange.Register(7, 192);
    Connect(a, b);
    for (int ms = 0; ms < 1000; ms += 20) Advance(20);
    EXPECT_EQ(Count(b, CAPI_DATA_B3, CAPI_IND), 7);
    EXPECT_EQ(Count(a, CAPI_DATA_B3, CAPI_IND), 7);
}

// Idle fill before the sender's first bytes is no starvation; each stretch of
// fill after them is one underrun, each block lost to a receiver with seven
// unanswered one overrun, counted on the direction it struck.
TEST_F(ExchangeTest, StarvationIsCountedPerDirection) {
    const int a = m_exchange.Register(7, 192), b = m_exchange.Register(7, 192);
    const std::pair<uint32_t, uint32_t> nccis = Connect(a, b);
    const uint32_t ncciA = nccis.first, ncciB = nccis.second;
    auto drain = [&] {
        Received(a, ncciA);
        Received(b, ncciB);
    };
    for (int i = 0; i < 10; ++i) Advance(24), drain();
    EXPECT_EQ(m_exchange.Query("starved 2 0", m_now), "underrun 0 overrun 0");
    // Two blocks and a half, fill, one more block, fill.
    SendBlock(a, ncciA, 0, Bytes(192, 1));
    SendBlock(a, ncciA, 1, Bytes(192, 2));
    SendBlock(a, ncciA, 2, Bytes(96, 3));
    for (int i = 0; i < 6; ++i) Advance(24), drain();
    SendBlock(a, ncciA, 3, Bytes(192, 4));
    for (int i = 0; i < 6; ++i) Advance(24), drain();
    EXPECT_EQ(m_exchange.Query("starved 2 0", m_now), "underrun 2 overrun 0");
    EXPECT_EQ(m_exchange.Query("starved 1 0", m_now), "underrun 0 overrun 0");
    // The fill after the data had started: half a block and three, then five.
    EXPECT_EQ(m_exchange.Query("fill 2 0", m_now), std::to_string(96 + 3 * 192 + 5 * 192));
    EXPECT_EQ(m_exchange.Query("fill 1 0", m_now), "0");
    EXPECT_EQ(m_exchange.Query("fill 2", m_now), "error: fill <controller> <channel>");
    // b stops answering: 7 blocks wait, the next 3 are lost.
    for (int i = 0; i < 10; ++i) {
        Advance(24);
        Received(a, ncciA);
    }
    EXPECT_EQ(Count(b, CAPI_DATA_B3, CAPI_IND), 7);
    EXPECT_EQ(m_exchange.Query("starved 2 0", m_now), "underrun 2 overrun 3");
    EXPECT_EQ(m_exchange.Query("starved 9 9", m_now), "error: no call on that channel");
    EXPECT_EQ(m_exchange.Query("starved 2", m_now), "error: starved [<controller> <channel>]");
    // The totals outlast the call.
    m_exchange.Release(a);
    m_exchange.Release(b);
    EXPECT_EQ(m_exchange.Query("starved", m_now), "underrun 2 overrun 3");
}

TEST_F(ExchangeTest, FailedCallsEndWithTheirCauses) {
    const int a = m_exchange.Register(7, 192), b = m_exchange.Register(7, 192), c = m_exchange.Register(7, 192);
    const uint32_t unknown = Dial(a, 1, "9999");
    Packet p = Take(a, CAPI_DISCONNECT, CAPI_IND);
    EXPECT_EQ(p.Adr(), unknown);
    EXPECT_EQ(Le16(p.bytes, 13), CAPI_CAUSE_UNALLOCATED_NUMBER);
    Put(a, Msg(a, CAPI_DISCONNECT, CAPI_RESP, unknown).Done());

    EXPECT_EQ(m_exchange.Query("busy 3413", m_now), "ok");
    const uint32_t busy = Dial(a, 1, "3413");
    EXPECT_EQ(Le16(Take(a, CAPI_DISCONNECT, CAPI_IND).bytes, 13), CAPI_CAUSE_USER_BUSY);
    Put(a, Msg(a, CAPI_DISCONNECT, CAPI_RESP, busy).Done());
    m_exchange.Query("free 3413", m_now);

    // Nobody listens: no user responding once the ringing time is over.
    const uint32_t silent = Dial(a, 1, "3413");
    Advance(1999);
    EXPECT_EQ(Count(a, CAPI_DISCONNECT, CAPI_IND), 0);
    Advance(1);
    EXPECT_EQ(Le16(Take(a, CAPI_DISCONNECT, CAPI_IND).bytes, 13), CAPI_CAUSE_NO_USER_RESPONDING);
    Put(a, Msg(a, CAPI_DISCONNECT, CAPI_RESP, silent).Done());
    EXPECT_EQ(m_exchange.ActiveCalls(), 0);

    // Two applications are offered the call: the first to accept wins, the other is told 0x3304.
    Listen(b, 2);
    Listen(c, 2);
    Dial(a, 1, "3412");
    const uint32_t offerB = Take(b, CAPI_CONNECT, CAPI_IND).Adr();
    const uint32_t offerC = Take(c, CAPI_CONNECT, CAPI_IND).Adr();
    Put(c, Msg(c, CAPI_CONNECT, CAPI_RESP, offerC).Word(0).Empty(8).Done());
    p = Take(b, CAPI_DISCONNECT, CAPI_IND);
    EXPECT_EQ(p.Adr(), offerB);
    EXPECT_EQ(Le16(p.bytes, 13), CAPI_NOTANSWERED);
    Take(c, CAPI_CONNECT_ACTIVE, CAPI_IND);
    // Controller 1 has one B-channel, now in use: the next call finds none.
    const int d = m_exchange.Register(7, 192);
    Dial(d, 1, "3412");
    EXPECT_EQ(Le16(Take(d, CAPI_DISCONNECT, CAPI_IND).bytes, 13), CAPI_CAUSE_NO_CHANNEL);
}

TEST_F(ExchangeTest, ReleaseClearsTheFarEndAndTheCallEndsWithItsResponses) {
    const int a = m_exchange.Register(7, 192), b = m_exchange.Register(7, 192);
    const auto [ncciA, ncciB] = Connect(a, b);
    (void)ncciA;
    m_exchange.Release(a);
    EXPECT_EQ(Take(b, CAPI_DISCONNECT_B3, CAPI_IND).Adr(), ncciB);
    const Packet p = Take(b, CAPI_DISCONNECT, CAPI_IND);
    EXPECT_EQ(Le16(p.bytes, 13), CAPI_CAUSE_NORMAL_CLEARING);
    EXPECT_EQ(m_exchange.ActiveCalls(), 1) << "until the far end responds";
    Put(b, Msg(b, CAPI_DISCONNECT, CAPI_RESP, p.Adr()).Done());
    EXPECT_EQ(m_exchange.ActiveCalls(), 0);
}

TEST_F(ExchangeTest, FaultsDelayLoseAndSlipTheBytesTowardsAChannel) {
    const int a = m_exchange.Register(7, 192), b = m_exchange.Register(7, 192);
    const auto [ncciA, ncciB] = Connect(a, b);
    Bytes ramp(192);
    for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(m_exchange.Query("delay 2 0 48", m_now), "ok");  // 384 bytes
    SendBlock(a, ncciA, 0, ramp);
    Advance(96);
    Bytes got = Received(b, ncciB);
    ASSERT_EQ(got.size(), 4u * 192u);
    EXPECT_EQ(got[383], 0xFF);
    EXPECT_EQ(got[384], 0x00);
    EXPECT_EQ(got[384 + 191], 191);

    EXPECT_EQ(m_exchange.Query("slip 2 0 3", m_now), "ok");
    SendBlock(a, ncciA, 1, Bytes(192, 0x0F));
    Advance(96);
    got = Received(b, ncciB);
    // 0xFF idle then 0x0F bytes, three bits late on a line that carries bit 0
    // first: 0x7F at the seam (the idle byte's top bits first), then 0x78.
    const auto seam = std::find(got.begin(), got.end(), 0x7F);
    ASSERT_NE(seam, got.end());
    ASSERT_LT(seam + 1, got.end());
    EXPECT_EQ(seam[1], 0x78);
    EXPECT_EQ(m_exchange.Query("slip 9 9 1", m_now), "error: no call on that channel");
    EXPECT_EQ(m_exchange.Query("drop 2 0", m_now), "ok");
    EXPECT_EQ(Le16(Take(a, CAPI_DISCONNECT, CAPI_IND).bytes, 13), 0x34A9);
    EXPECT_EQ(Le16(Take(b, CAPI_DISCONNECT, CAPI_IND).bytes, 13), 0x34A9);
}
