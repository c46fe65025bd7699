// The CAPI application's state machine through `Dizuvo` and our CAPI
// library, against a scripted exchange: placed and answered calls, every
// indication it handles, hang-ups from either side, the number filter, the
// send prefill and pacing, and bad input from the network.
#include "net/CapiApplication.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/ScriptedExchange.h"
#include "platform/capi/CapiMessage.h"
#include "support/TempDir.h"

namespace {

constexpr uint32_t kPlci = 0x101;
constexpr uint32_t kNcci = 0x10101;
constexpr int kBlock = 192;

class Msg {
public:
    Msg(uint8_t command, uint8_t sub, uint16_t number, uint32_t adr) {
        m_b = {0, 0, 1, 0, command, sub, static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8)};
        Dword(adr);
    }
    Msg& Word(uint32_t v) { return Bytes(v, 2); }
    Msg& Dword(uint32_t v) { return Bytes(v, 4); }
    Msg& Struct(const std::vector<uint8_t>& body) {
        m_b.push_back(static_cast<uint8_t>(body.size()));
        m_b.insert(m_b.end(), body.begin(), body.end());
        return *this;
    }
    Msg& Empty(int n = 1) {
        while (n-- > 0) m_b.push_back(0);
        return *this;
    }
    std::vector<uint8_t> Done() {
        m_b[0] = static_cast<uint8_t>(m_b.size());
        m_b[1] = static_cast<uint8_t>(m_b.size() >> 8);
        return m_b;
    }

private:
    Msg& Bytes(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) m_b.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    std::vector<uint8_t> m_b;
};

std::vector<uint8_t> Number(int lead, const std::string& digits) {
    std::vector<uint8_t> s;
    if (lead >= 1) s.push_back(0x80);
    if (lead >= 2) s.insert(s.begin(), 0x00);
    s.insert(s.end(), digits.begin(), digits.end());
    return s;
}

uint32_t Adr(const std::vector<uint8_t>& m) { return m[8] | (m[9] << 8) | (m[10] << 16) | (m[11] << 24); }
uint16_t Word(const std::vector<uint8_t>& m, size_t at) { return static_cast<uint16_t>(m[at] | (m[at + 1] << 8)); }

struct CapiApplicationTest : ::testing::Test {
    CTempDir m_dir;
    std::unique_ptr<CScriptedExchange> m_exchange;
    std::unique_ptr<CCapiApplication> m_app;
    int m_idleReports = 0;

    void SetUp() override {
        const std::string socket = m_dir.File("exchange.sock");
        setenv("VELMORA_ISDN_EXCHANGE", socket.c_str(), 1);
        m_exchange = std::make_unique<CScriptedExchange>(socket, 2);
        m_app = std::make_unique<CCapiApplication>();
        ASSERT_EQ(m_app->GetControllerChannels(0), 2);
        ASSERT_EQ(m_app->SelectController(0), 1);
        ASSERT_EQ(m_app->Register(kBlock, 4), 1);
    }
    void TearDown() override {
        m_app.reset();
        m_exchange.reset();
    }

    // Polls the application until `done` holds (bounded); counts idle reports.
    bool Until(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end) {
            m_app->ProcessMessages();
            if (m_app->IsStateChanged() && m_app->GetState() == CCapiApplication::kIdle) ++m_idleReports;
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    }
    bool UntilState(int state) {
        return Until([&] { return m_app->IsConnected() ? state == CCapiApplication::kConnected : Peek() == state; });
    }
    int Peek() {
        // Reading the state clears only the changed flag, which Until has taken already.
        const int changed = m_app->IsStateChanged();
        const int s = m_app->GetState();
        if (changed && s == CCapiApplication::kIdle) ++m_idleReports;
        return s;
    }
    // The application answers only while it is polled.
    std::vector<uint8_t> Expect(uint8_t command, uint8_t sub) {
        std::vector<uint8_t> m;
        const bool got = Until([&] { return m_exchange->WaitFor(command, sub, &m, 1); });
        EXPECT_TRUE(got) << "no message " << int(command) << "/" << int(sub);
        return got ? m : std::vector<uint8_t>(32, 0);
    }
    // Polls for a while and says whether such a message came.
    bool Comes(uint8_t command, uint8_t sub, int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            m_app->ProcessMessages();
            if (m_exchange->WaitFor(command, sub, nullptr, 1)) return true;
        }
        return false;
    }

    void PlaceCall() {
        m_app->SetCalledNumber("3412");
        ASSERT_EQ(m_app->Connect(1), 1);
        const auto req = Expect(CAPI_CONNECT, CAPI_REQ);
        EXPECT_EQ(Word(req, 12), 1);  // CIP
        m_exchange->Deliver(Msg(CAPI_CONNECT, CAPI_CONF, 0, kPlci).Word(0).Done());
        ASSERT_TRUE(UntilState(CCapiApplication::kDConnecting));
        m_exchange->Deliver(Msg(CAPI_CONNECT_ACTIVE, CAPI_IND, 11, kPlci).Empty(3).Done());
        EXPECT_EQ(Word(Expect(CAPI_CONNECT_ACTIVE, CAPI_RESP), 6), 11);  // the indication's number
        EXPECT_EQ(Adr(Expect(CAPI_CONNECT_B3, CAPI_REQ)), kPlci);
        ASSERT_TRUE(UntilState(CCapiApplication::kDConnected));
        m_exchange->Deliver(Msg(CAPI_CONNECT_B3, CAPI_CONF, 0, kNcci).Word(0).Done());
        ASSERT_TRUE(UntilState(CCapiApplication::kB3Connecting));
        m_exchange->Deliver(Msg(CAPI_CONNECT_B3_ACTIVE, CAPI_IND, 12, kNcci).Empty().Done());
        Expect(CAPI_CONNECT_B3_ACTIVE, CAPI_RESP);
        ASSERT_TRUE(UntilState(CCapiApplication::kConnected));
    }

    void Offer(uint32_t plci, const std::string& called, const std::string& calling, uint16_t cip = 1) {
        m_exchange->Deliver(Msg(CAPI_CONNECT, CAPI_IND, 20, plci)
                                .Word(cip)
                                .Struct(called.empty() ? std::vector<uint8_t>() : Number(1, called))
                                .Struct(Number(2, calling))
                                .Empty(6)
                                .Done());
    }

    void DataInd(uint16_t handle, uint8_t fill) {
        m_exchange->Deliver(Msg(CAPI_DATA_B3, CAPI_IND, 30, kNcci)
                                .Dword(0).Word(kBlock).Word(handle).Word(0).Dword(0).Dword(0)
                                .Done(),
                            std::vector<uint8_t>(kBlock, fill));
    }
};

}  // namespace

TEST_F(CapiApplicationTest, PlacedCallRunsTheIndicationsAndAnswersEach) {
    PlaceCall();
    EXPECT_FALSE(m_app->IsIncoming());
    m_exchange->Deliver(Msg(CAPI_INFO, CAPI_IND, 40, kPlci).Word(0x18).Struct({0x89}).Done());
    EXPECT_EQ(Adr(Expect(CAPI_INFO, CAPI_RESP)), kPlci);
    m_exchange->Deliver(Msg(CAPI_RESET_B3, CAPI_IND, 41, kNcci).Empty().Done());
    EXPECT_EQ(Adr(Expect(CAPI_RESET_B3, CAPI_RESP)), kNcci);
    DataInd(5, 0x3C);
    const auto resp = Expect(CAPI_DATA_B3, CAPI_RESP);
    EXPECT_EQ(Word(resp, 12), 5);
    uint8_t got[kBlock] = {};
    ASSERT_TRUE(Until([&] { return m_app->Read(got, kBlock) == kBlock; }));
    EXPECT_EQ(got[0], 0x3C);
    EXPECT_EQ(got[kBlock - 1], 0x3C);
    // A confirmation with a handle outside the seven slots is ignored.
    m_exchange->Deliver(Msg(CAPI_DATA_B3, CAPI_CONF, 0, kNcci).Word(200).Word(0).Done());
    EXPECT_TRUE(Until([&] { return m_app->IsConnected(); }));
}

// The exchange goes away mid-call: the call ends as on a broken line, and the
// polls that fail after it keep that reason until it is taken.
TEST_F(CapiApplicationTest, LostExchangeEndsTheCallAsABrokenLineAndKeepsThatReason) {
    PlaceCall();
    m_exchange.reset();
    const std::vector<uint8_t> block(kBlock, 0x11);
    m_app->Send(block.data(), kBlock);
    ASSERT_TRUE(UntilState(CCapiApplication::kIdle));
    for (int i = 0; i < 5; ++i) m_app->ProcessMessages();
    EXPECT_EQ(m_app->TakeInfo(), static_cast<int>(CAPI_LAYER1_ERROR));
    m_app->ProcessMessages();
    EXPECT_EQ(m_app->TakeInfo(), static_cast<int>(CAPI_MSGOSRESOURCEERR)) << "idle, the lost exchange is still said";
}

TEST_F(CapiApplicationTest, LocalHangUpClearsTheCallOnItsOwnPlciOnce) {
    PlaceCall();
    m_app->HangUp();
    EXPECT_EQ(Adr(Expect(CAPI_DISCONNECT_B3, CAPI_REQ)), kNcci);
    m_exchange->Deliver(Msg(CAPI_DISCONNECT_B3, CAPI_CONF, 0, kNcci).Word(0).Done());
    m_exchange->Deliver(Msg(CAPI_DISCONNECT_B3, CAPI_IND, 50, kNcci).Word(0).Empty().Done());
    EXPECT_EQ(Adr(Expect(CAPI_DISCONNECT_B3, CAPI_RESP)), kNcci);
    // The D-channel call is cleared on the call's PLCI, not on 0.
    EXPECT_EQ(Adr(Expect(CAPI_DISCONNECT, CAPI_REQ)), kPlci);
    ASSERT_TRUE(UntilState(CCapiApplication::kDConnected));
    m_exchange->Deliver(Msg(CAPI_DISCONNECT, CAPI_CONF, 0, kPlci).Word(0).Done());
    m_exchange->Deliver(Msg(CAPI_DISCONNECT, CAPI_IND, 51, kPlci).Word(0).Done());
    EXPECT_EQ(Adr(Expect(CAPI_DISCONNECT, CAPI_RESP)), kPlci);
    ASSERT_TRUE(UntilState(CCapiApplication::kIdle));
    // A late confirmation after the call has ended reports nothing more.
    m_exchange->Deliver(Msg(CAPI_DISCONNECT, CAPI_CONF, 0, kPlci).Word(0x2002).Done());
    Comes(CAPI_DISCONNECT, CAPI_REQ, 300);
    EXPECT_EQ(m_idleReports, 1);
    EXPECT_EQ(m_exchange->Pending(CAPI_DISCONNECT, CAPI_REQ), 0) << "one DISCONNECT_REQ per call";
}

TEST_F(CapiApplicationTest, AnsweredCallFiltersByOwnNumberAndEndsWhenTheFarEndHangsUp) {
    m_app->SetOwnNumber("12");
    Offer(0x201, "3413", "3411");
    const auto ignore = Expect(CAPI_CONNECT, CAPI_RESP);
    EXPECT_EQ(Adr(ignore), 0x201u);
    EXPECT_EQ(Word(ignore, 12), 1) << "3413 does not end with 12: ignored";
    Offer(0x202, "3412", "3411");
    const auto accept = Expect(CAPI_CONNECT, CAPI_RESP);
    EXPECT_EQ(Adr(accept), 0x202u);
    EXPECT_EQ(Word(accept, 12), 0);
    ASSERT_TRUE(UntilState(CCapiApplication::kDConnecting));
    EXPECT_TRUE(m_app->IsIncoming());
    EXPECT_EQ(m_app->GetCallingNumber(), "3411");
    EXPECT_EQ(m_app->GetCip(), 1);
    m_exchange->Deliver(Msg(CAPI_CONNECT_ACTIVE, CAPI_IND, 21, 0x202).Empty(3).Done());
    Expect(CAPI_CONNECT_ACTIVE, CAPI_RESP);
    ASSERT_TRUE(UntilState(CCapiApplication::kDConnected));
    EXPECT_EQ(m_exchange->Pending(CAPI_CONNECT_B3, CAPI_REQ), 0) << "the caller opens B3";
    m_exchange->Deliver(Msg(CAPI_CONNECT_B3, CAPI_IND, 22, 0x10202).Empty().Done());
    const auto b3 = Expect(CAPI_CONNECT_B3, CAPI_RESP);
    EXPECT_EQ(Word(b3, 12), 0);
    m_exchange->Deliver(Msg(CAPI_CONNECT_B3_ACTIVE, CAPI_IND, 23, 0x10202).Empty().Done());
    ASSERT_TRUE(UntilState(CCapiApplication::kConnected));
    // Another application's loss of a call to us changes nothing, but is answered.
    m_exchange->Deliver(Msg(CAPI_DISCONNECT, CAPI_IND, 24, 0x202).Word(CAPI_NOTANSWERED).Done());
    EXPECT_EQ(Adr(Expect(CAPI_DISCONNECT, CAPI_RESP)), 0x202u);
    EXPECT_TRUE(m_app->IsConnected());
    m_exchange->Deliver(Msg(CAPI_DISCONNECT_B3, CAPI_IND, 25, 0x10202).Word(0).Empty().Done());
    Expect(CAPI_DISCONNECT_B3, CAPI_RESP);
    m_exchange->Deliver(Msg(CAPI_DISCONNECT, CAPI_IND, 26, 0x202).Word(CAPI_CAUSE_NORMAL_CLEARING).Done());
    Expect(CAPI_DISCONNECT, CAPI_RESP);
    ASSERT_TRUE(UntilState(CCapiApplication::kIdle));
    EXPECT_EQ(m_exchange->Pending(CAPI_DISCONNECT, CAPI_REQ), 0) << "the answering side leaves the clearing to the network";
}

TEST_F(CapiApplicationTest, RefusedConfirmationsEndTheCallOrClearItsDChannel) {
    // A refused CONNECT_REQ ends the attempt with the network's word.
    m_app->SetCalledNumber("3412");
    ASSERT_EQ(m_app->Connect(1), 1);
    Expect(CAPI_CONNECT, CAPI_REQ);
    m_exchange->Deliver(Msg(CAPI_CONNECT, CAPI_CONF, 0, 0).Word(0x2003).Done());
    ASSERT_TRUE(Until([&] { return m_idleReports == 1; }));
    EXPECT_EQ(m_app->GetInfo(), 0x2003);
    // A refused CONNECT_B3_REQ clears the D-channel call on its PLCI.
    ASSERT_EQ(m_app->Connect(1), 1);
    Expect(CAPI_CONNECT, CAPI_REQ);
    m_exchange->Deliver(Msg(CAPI_CONNECT, CAPI_CONF, 0, kPlci).Word(0).Done());
    ASSERT_TRUE(UntilState(CCapiApplication::kDConnecting));
    m_exchange->Deliver(Msg(CAPI_CONNECT_ACTIVE, CAPI_IND, 13, kPlci).Empty(3).Done());
    Expect(CAPI_CONNECT_ACTIVE, CAPI_RESP);
    Expect(CAPI_CONNECT_B3, CAPI_REQ);
    m_exchange->Deliver(Msg(CAPI_CONNECT_B3, CAPI_CONF, 0, kPlci).Word(0x2001).Done());
    EXPECT_EQ(Adr(Expect(CAPI_DISCONNECT, CAPI_REQ)), kPlci);
    EXPECT_EQ(m_app->GetInfo(), 0x2001);
    m_exchange->Deliver(Msg(CAPI_DISCONNECT, CAPI_IND, 14, kPlci).Word(CAPI_CAUSE_NORMAL_CLEARING).Done());
    EXPECT_EQ(Adr(Expect(CAPI_DISCONNECT, CAPI_RESP)), kPlci);
    ASSERT_TRUE(Until([&] { return m_idleReports == 2; }));
}

TEST_F(CapiApplicationTest, AChannelWithoutANumberLeavesTheIdleSiblingItsOwnNumber) {
    // The line's other channel answers 12 only; this one answers any number.
    CCapiApplication sibling;
    sibling.SetOwnNumber("12");
    m_app->SetSibling(&sibling);
    Offer(0x205, "3412", "3411", 2);
    EXPECT_EQ(Word(Expect(CAPI_CONNECT, CAPI_RESP), 12), 1) << "3412 is the idle sibling's: ignored";
    EXPECT_EQ(Peek(), CCapiApplication::kIdle);
    Offer(0x206, "", "3411", 2);
    EXPECT_EQ(Word(Expect(CAPI_CONNECT, CAPI_RESP), 12), 0) << "no called number: anyone's";
    m_exchange->Deliver(Msg(CAPI_DISCONNECT, CAPI_IND, 28, 0x206).Word(CAPI_NOTANSWERED).Done());
    Expect(CAPI_DISCONNECT, CAPI_RESP);
    ASSERT_TRUE(UntilState(CCapiApplication::kIdle));
    Offer(0x207, "3413", "3411", 2);
    EXPECT_EQ(Word(Expect(CAPI_CONNECT, CAPI_RESP), 12), 0) << "3413 is nobody else's: taken";
    ASSERT_TRUE(UntilState(CCapiApplication::kDConnecting));
    EXPECT_EQ(m_app->GetCalledNumber(), "3413");
}

TEST_F(CapiApplicationTest, NumbersFromTheNetworkAreBoundedAndEmptyOnesAccepted) {
    m_app->SetOwnNumber("12");
    Offer(0x203, "", std::string(60, '7'));  // no called number: always accepted
    EXPECT_EQ(Word(Expect(CAPI_CONNECT, CAPI_RESP), 12), 0);
    ASSERT_TRUE(UntilState(CCapiApplication::kDConnecting));
    EXPECT_EQ(m_app->GetCalledNumber(), "");
    EXPECT_EQ(m_app->GetCallingNumber(), std::string(CCapiApplication::kMaxDigits, '7'));
    m_exchange->Deliver(Msg(CAPI_DISCONNECT, CAPI_IND, 27, 0x203).Word(CAPI_CAUSE_NO_ANSWER).Done());
    Expect(CAPI_DISCONNECT, CAPI_RESP);
    ASSERT_TRUE(UntilState(CCapiApplication::kIdle));
    EXPECT_EQ(m_app->GetInfo(), static_cast<int>(CAPI_CAUSE_NO_ANSWER));
    // A call type it does not carry is rejected.
    Offer(0x204, "3412", "3411", 7);
    EXPECT_EQ(Word(Expect(CAPI_CONNECT, CAPI_RESP), 12), 5);
}

// Polled but not read, as a station late to its poll: the receive buffer
// takes four blocks and the others wait unanswered until it has been read,
// so the exchange sees them outstanding; none is lost.
TEST_F(CapiApplicationTest, ReceivedBlocksBeyondTheBufferWaitUnansweredUntilItIsRead) {
    PlaceCall();
    for (int i = 0; i < 6; ++i) DataInd(static_cast<uint16_t>(i), static_cast<uint8_t>(i + 1));
    int answered = 0;
    ASSERT_TRUE(Until([&] {
        while (m_exchange->WaitFor(CAPI_DATA_B3, CAPI_RESP, nullptr, 1)) ++answered;
        return answered >= 4;
    }));
    EXPECT_FALSE(Comes(CAPI_DATA_B3, CAPI_RESP, 300)) << "a block without room was answered";
    std::vector<uint8_t> got;
    ASSERT_TRUE(Until([&] {
        uint8_t buf[7 * kBlock];
        const int n = m_app->Read(buf, sizeof buf);
        got.insert(got.end(), buf, buf + n);
        return got.size() >= 6u * kBlock;
    }));
    for (int i = 0; i < 6; ++i) EXPECT_EQ(got[static_cast<size_t>(i) * kBlock], i + 1) << "block " << i;
}

TEST_F(CapiApplicationTest, PrefillSendsThreeBlocksAtOnceThenOnePerReceivedBlock) {
    PlaceCall();
    m_app->SetWindow(-1);  // seven blocks
    const std::vector<uint8_t> block(kBlock, 0x11);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(m_app->Send(block.data(), kBlock), 1);
    for (int i = 0; i < 3; ++i) {
        const auto req = Expect(CAPI_DATA_B3, CAPI_REQ);
        EXPECT_EQ(Word(req, 16), kBlock);
        EXPECT_EQ(Word(req, 18), i) << "data handle is the slot";
    }
    EXPECT_FALSE(Comes(CAPI_DATA_B3, CAPI_REQ, 300)) << "the fourth waits";
    DataInd(0, 0xFF);
    EXPECT_EQ(Word(Expect(CAPI_DATA_B3, CAPI_REQ), 18), 3);
    ASSERT_EQ(m_app->Send(block.data(), kBlock), 1);
    ASSERT_EQ(m_app->Send(block.data(), kBlock), 1);
    DataInd(1, 0xFF);
    EXPECT_TRUE(Comes(CAPI_DATA_B3, CAPI_REQ, 10000));
    EXPECT_FALSE(Comes(CAPI_DATA_B3, CAPI_REQ, 300)) << "one block per received block";
    // SetWindow(400) with 192-byte blocks: 3 blocks + 1.
    m_app->SetChannelMode(1);
    EXPECT_EQ(m_app->SetWindow(400), 4);
    m_app->SetChannelMode(0);
    EXPECT_EQ(m_app->SetWindow(400), 5);
}

TEST(CapiApplicationWithoutLibraryTest, NoDizuvoMeansNoChannelsAndNoRegistration) {
    setenv("VELMORA_DIZUVO_LIBRARY", "/nonexistent/libDizuvo.so", 1);
    CCapiApplication app;
    EXPECT_EQ(app.GetControllerChannels(0), 0);
    EXPECT_EQ(app.Register(192, 4), 0);
    EXPECT_EQ(app.Connect(1), 0);
    EXPECT_EQ(app.ProcessMessages(), 0);
}
