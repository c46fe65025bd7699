// The ISDN transport in the connection manager, through Dizuvo, our CAPI
// library and the simulated exchange daemon: what it offers with and
// without the library, a G.711 voice call between two managers, and the
// bit rates it refuses.
#include "net/Isdn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <cstring>
#include <memory>
#include <vector>

#include "common/MpegHeader.h"
#include "fakes/ExchangeDaemon.h"
#include "net/BChannelFraming.h"
#include "net/ConnectionManager.h"
#include "net/IsdnTones.h"
#include "platform/Clock.h"
#include "support/FreePorts.h"
#include "support/TempDir.h"

using namespace isdn_tones;

namespace {

constexpr const char* kExchange = "controller 1 2 3411\ncontroller 2 2 3412 3413\ncontroller 3 1 3500\nnoanswer 1500\n";

int Port(int offset) { return FreeTestPort(offset); }

CISDN* IsdnOf(CConnectionManager& m) { return static_cast<CISDN*>(m.GetTransport(TRANSPORT_ISDN)); }

struct IsdnTest : ::testing::Test {
    CSettings Station(const char* name, int controller, const char* msn, int law) {
        CSettings s(m_dir.File(name));
        s.WriteInt("TCP", "AnswerAcceptCalls", 0);
        s.WriteInt("ISDN", "Controller", controller);
        s.WriteInt("ISDN", "G711Type", law);
        s.WriteString("ISDN", "MSN-0", msn);
        return s;
    }
    static ConnectionInfo Isdn(const char* number) {
        ConnectionInfo c;
        c.kind = TRANSPORT_ISDN;
        std::strcpy(c.isdn.number1, number);
        return c;
    }
    static AudioFormat Voice(int law, int bitRate = 64000) {
        AudioFormat f;
        f.codingType = law;
        f.bitRate = bitRate;
        f.sampleRate = 8000;
        f.deviceMode = DEVICEMODE_MONO;
        f.frameBytes = 192;
        return f;
    }
    // Polls both (bounded) until `done` holds.
    template <typename Done>
    static bool PollUntil(CConnectionManager& a, CConnectionManager& b, Done done, uint32_t boundMs = 10000) {
        const uint32_t start = timeGetTime();
        while (timeGetTime() - start < boundMs) {
            a.Poll();
            b.Poll();
            if (done()) return true;
            Sleep(2);
        }
        return false;
    }
    // A hang-up ends in the exchange only once both stations have answered
    // its clearing: they keep being served until it has no call left.
    static bool NoCallLeft(CConnectionManager& a, CConnectionManager& b, CExchangeDaemon& exchange) {
        return PollUntil(a, b, [&] { return exchange.Query("active") == "0"; }, 30000);
    }
    CTempDir m_dir;
    char m_program[CConnectionManager::kProgramPathBytes] = "Velmora.Exe";
};

}  // namespace

TEST_F(IsdnTest, IsdnIsOfferedOnlyWithTheLibraryAndAController) {
    CExchangeDaemon exchange(m_dir.Path(), kExchange);
    {
        CConnectionManager m(Station("a.ini", 0, "3411", 2));
        ASSERT_EQ(m.Init(m_program, 1), 1);
        EXPECT_EQ(m.GetTransportMask() & (TRANSPORT_TCP | TRANSPORT_ISDN), static_cast<uint32_t>(TRANSPORT_TCP | TRANSPORT_ISDN));
        EXPECT_EQ(IsdnOf(m)->GetChannelCount(), 2);
    }
    {
        CSettings s = Station("c.ini", 2, "3500", 2);
        CConnectionManager m(s);
        ASSERT_EQ(m.Init(m_program, 1), 1);
        EXPECT_EQ(IsdnOf(m)->GetChannelCount(), 1);
        // 128 kbit/s needs two channels; 96 kbit/s is no whole number of channels.
        m.GetState();
        for (int rate : {128000, 96000}) {
            CConnectionManager fresh(s);
            ASSERT_EQ(fresh.Init(m_program, 1), 1);
            const AudioFormat f = Voice(CODING_G711_ALAW, rate);
            fresh.SetSendFormat(&f);
            const ConnectionInfo target = Isdn("3411");
            EXPECT_EQ(fresh.Connect(&target), 0) << rate;
            EXPECT_EQ(fresh.GetState(), CONN_FAILED);
            EXPECT_EQ(fresh.GetLastError(TRANSPORT_ISDN), CISDN::kErrorBitRate) << rate;
        }
    }
    // Without the library: no ISDN, TCP as before.
    setenv("VELMORA_DIZUVO_LIBRARY", "/nonexistent/libDizuvo.so", 1);
    CSettings s = Station("b.ini", 1, "3412", 2);
    s.WriteInt("TCP", "PortNumber", Port(0));
    s.WriteInt("TCP", "AnswerAcceptCalls", 1);
    CConnectionManager answerer(s);
    CConnectionManager caller(Station("a.ini", 0, "3411", 2));
    ASSERT_EQ(answerer.Init(m_program, 1), 1);
    ASSERT_EQ(caller.Init(m_program, 1), 1);
    EXPECT_EQ(caller.GetTransportMask() & (TRANSPORT_TCP | TRANSPORT_ISDN), static_cast<uint32_t>(TRANSPORT_TCP));
    EXPECT_EQ(answerer.StartListening(), 0);
    ConnectionInfo tcp;
    tcp.kind = TRANSPORT_TCP;
    std::strcpy(tcp.address, "127.0.0.1");
    tcp.port = Port(0);
    const ConnectionInfo isdn = Isdn("3412");
    EXPECT_EQ(caller.Connect(&isdn), 0);
    ASSERT_EQ(caller.Connect(&tcp), 1);
    EXPECT_TRUE(PollUntil(caller, answerer, [&] { return caller.IsStateChanged() && caller.GetState() == CONN_CONNECTED; }));
    unsetenv("VELMORA_DIZUVO_LIBRARY");
}

TEST_F(IsdnTest, VoiceCallCarriesG711BitExactAndHangsUpCleanly) {
    CExchangeDaemon exchange(m_dir.Path(), kExchange);
    CSettings sa = Station("a.ini", 0, "3411", 2);
    CSettings sb = Station("b.ini", 1, "12", 4);  // B hears mu-law: its own configured law
    sb.WriteInt("ISDN", "AnswerAcceptCalls", 1);
    CConnectionManager a(sa), b(sb);
    ASSERT_EQ(a.Init(m_program, 1), 1);
    ASSERT_EQ(b.Init(m_program, 1), 1);
    ASSERT_EQ(b.StartListening(), 1);
    // The listen requests travel on B's own connections: the call waits for them.
    ASSERT_TRUE(PollUntil(a, b, [&] {
        const std::string t = exchange.Trace();
        return t.find("LISTEN_CONF") != t.rfind("LISTEN_CONF");
    }));
    a.GetState();
    b.GetState();
    const AudioFormat send = Voice(CODING_G711_ULAW);
    a.SetSendFormat(&send);
    const ConnectionInfo target = Isdn("3412");
    ASSERT_EQ(a.Connect(&target), 1);
    EXPECT_EQ(a.GetState(), CONN_CONNECTING);
    ASSERT_TRUE(PollUntil(a, b, [&] { return a.IsStateChanged() && a.GetState() == CONN_CONNECTED; }))
        << exchange.Trace();
    ASSERT_TRUE(PollUntil(a, b, [&] { return b.IsStateChanged() && b.GetState() == CONN_CONNECTED; }))
        << exchange.Trace();
    EXPECT_EQ(b.IsIncoming(), 1);
    ConnectionInfo seen;
    ASSERT_EQ(b.GetConnectionInfo(&seen), 1);
    EXPECT_STREQ(seen.isdn.number1, "3411");  // the caller's number
    AudioFormat received;
    b.GetReceiveFormat(&received);
    EXPECT_EQ(received.codingType, CODING_G711_ULAW);
    EXPECT_EQ(received.bitRate, 64000);
    EXPECT_EQ(received.frameBytes, 192);
    b.SetSendFormat(&send);

    // A numbered byte stream from A (0..254, never the idle fill 0xFF)
    // arrives at B unchanged, bit-reversed on the line and back. A sender
    // held up by a loaded machine leaves idle fill on the line and a late
    // reader loses whole blocks, as on a real line: those are the only
    // breaks allowed, a handful; a wrong bit order would break nearly every byte.
    std::vector<uint8_t> got;
    int next = 0;
    ASSERT_TRUE(PollUntil(a, b, [&] {
        uint8_t block[192];
        while (a.GetSendSpace() >= 192) {
            for (uint8_t& x : block) {
                x = static_cast<uint8_t>(next);
                next = (next + 1) % 255;
            }
            a.WriteAudio(block, 192);
        }
        const int n = b.ReadAudio(block, sizeof block);
        for (int i = 0; i < n; ++i) {
            if (block[i] != 0xFF) got.push_back(block[i]);
        }
        return got.size() >= 192 * 20;
    }));
    int breaks = 0;
    for (size_t i = 1; i < got.size(); ++i) breaks += (got[i - 1] + 1) % 255 != got[i] ? 1 : 0;
    EXPECT_LE(breaks, 10) << "of " << got.size() << " bytes";

    EXPECT_EQ(exchange.Query("active"), "1");
    a.Disconnect();
    ASSERT_TRUE(PollUntil(a, b, [&] { return b.IsStateChanged() && b.GetState() == CONN_IDLE; }));
    EXPECT_EQ(b.GetLastError(), 0) << "a normal hang-up is no failure";
    EXPECT_TRUE(NoCallLeft(a, b, exchange)) << exchange.Query("active") << " calls left";
}

TEST_F(IsdnTest, UnknownNumberFailsWithItsCause) {
    CExchangeDaemon exchange(m_dir.Path(), kExchange);
    CConnectionManager a(Station("a.ini", 0, "3411", 2));
    CConnectionManager idle(Station("c.ini", 2, "3500", 2));
    ASSERT_EQ(a.Init(m_program, 1), 1);
    ASSERT_EQ(idle.Init(m_program, 1), 1);
    a.GetState();
    const AudioFormat send = Voice(CODING_G711_ALAW);
    a.SetSendFormat(&send);
    const ConnectionInfo target = Isdn("9999");
    ASSERT_EQ(a.Connect(&target), 1);
    ASSERT_TRUE(PollUntil(a, idle, [&] { return a.IsStateChanged() && a.GetState() == CONN_FAILED; }));
    EXPECT_EQ(a.GetLastError(), 0x3481);
    EXPECT_TRUE(NoCallLeft(a, idle, exchange)) << exchange.Query("active") << " calls left";
}

// The call engine rebuilds a station's manager as soon as a call ends. After
// the far end hung up, the rebuilt manager still offers ISDN and its next
// call connects, call after call.
TEST_F(IsdnTest, RebuiltAfterFarEndHangUpStillOffersIsdnAndCallsAgain) {
    CExchangeDaemon exchange(m_dir.Path(), kExchange);
    CSettings sa = Station("a.ini", 0, "3411", 2);
    CSettings sb = Station("b.ini", 1, "12", 2);
    sb.WriteInt("ISDN", "AnswerAcceptCalls", 1);
    auto a = std::make_unique<CConnectionManager>(sa);
    auto b = std::make_unique<CConnectionManager>(sb);
    ASSERT_EQ(a->Init(m_program, 1), 1);
    ASSERT_EQ(b->Init(m_program, 1), 1);
    const AudioFormat send = Voice(CODING_G711_ALAW);
    const ConnectionInfo target = Isdn("3412");
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(b->StartListening(), 1);
        ASSERT_TRUE(PollUntil(*a, *b, [&] {
            const std::string t = exchange.Trace();
            size_t n = 0;
            for (size_t p = t.find("LISTEN_CONF"); p != std::string::npos; p = t.find("LISTEN_CONF", p + 1)) ++n;
            return n >= static_cast<size_t>(2 * (round + 1));
        }));
        a->GetState();
        b->GetState();
        ASSERT_EQ(a->GetTransportMask() & TRANSPORT_ISDN, static_cast<uint32_t>(TRANSPORT_ISDN)) << exchange.Trace();
        a->SetSendFormat(&send);
        ASSERT_EQ(a->Connect(&target), 1);
        ASSERT_TRUE(PollUntil(*a, *b, [&] { return a->IsStateChanged() && a->GetState() == CONN_CONNECTED; }))
            << exchange.Trace();
        ASSERT_TRUE(PollUntil(*a, *b, [&] { return b->IsStateChanged() && b->GetState() == CONN_CONNECTED; }))
            << exchange.Trace();
        b->SetSendFormat(&send);
        // The far end hangs up; each station rebuilds its manager as soon as it sees its call end.
        b->Disconnect();
        b.reset();
        b = std::make_unique<CConnectionManager>(sb);
        ASSERT_EQ(b->Init(m_program, 1), 1);
        ASSERT_TRUE(PollUntil(*a, *b, [&] { return a->IsStateChanged() && a->GetState() == CONN_IDLE; }))
            << exchange.Trace();
        EXPECT_EQ(a->GetLastError(), 0) << "a normal hang-up is no failure";
        a.reset();
        a = std::make_unique<CConnectionManager>(sa);
        ASSERT_EQ(a->Init(m_program, 1), 1);
    }
}

namespace {

int RunTool(const std::string& cmd, std::string* out = nullptr) {
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    if (!p) return -1;
    char line[512];
    std::string text;
    while (std::fgets(line, sizeof line, p)) text += line;
    const int rc = pclose(p);
    if (out) *out = text;
    return rc;
}

std::string Capture(const std::filesystem::path& dir, const std::string& prefix) {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (e.path().filename().string().rfind(prefix, 0) == 0) found.push_back(e.path().string());
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? std::string() : found.back();
}
}  // namespace

namespace {

// A placed call of `send` from A (controller 1) to B (controller 2, both
// channels), A feeding `blocks` as fast as the channels take them; returns
// B's received bytes (whole frames) and leaves the captures in `capture`.
struct CodedCall {
    std::vector<uint8_t> received;
    AudioFormat format;
    std::string capA, capB;
    // Starvation the exchange counted towards B: stretches of idle fill after
    // A's data had started, and blocks lost to B with too many unanswered.
    int underruns = 0, overruns = 0;
    int Starved() const { return underruns + overruns; }
    // Times B's receive format changed once it was first found.
    int formatChanges = 0;
};

// Adds the exchange's starvation counts towards a channel of B (controller 2).
void AddStarved(CExchangeDaemon& exchange, int channel, CodedCall* out) {
    const std::string reply = exchange.Query("starved 2 " + std::to_string(channel));
    int u = 0, o = 0;
    EXPECT_EQ(std::sscanf(reply.c_str(), "underrun %d overrun %d", &u, &o), 2) << reply;
    out->underruns += u;
    out->overruns += o;
}

// Generous: a sanitizer build on a loaded machine runs these calls slowly.
constexpr uint32_t kCodedCallBoundMs = 60000;

// The exchange, capturing into a fresh folder, and the two stations of a
// coded call: A calls from 3411; B's first channel answers 3412 and its
// second any number, which leaves 3412 to the first and keeps the second
// free for 3413. Started once both channels of B listen.
struct CodedCallStations {
    explicit CodedCallStations(IsdnTest& t)
        : capture(FreshFolder(t.m_dir.Path() / "capture")),
          exchange(t.m_dir.Path(), kExchange, capture.string()),
          a(Caller(t)),
          b(Answerer(t)) {}

    void Start(IsdnTest& t) {
        ASSERT_EQ(a.Init(t.m_program, 1), 1);
        ASSERT_EQ(b.Init(t.m_program, 1), 1);
        ASSERT_EQ(b.StartListening(), 1);
        ASSERT_TRUE(IsdnTest::PollUntil(a, b, [&] {
            const std::string tr = exchange.Trace();
            size_t n = 0;
            for (size_t p = tr.find("LISTEN_CONF"); p != std::string::npos; p = tr.find("LISTEN_CONF", p + 1)) ++n;
            return n >= 2;
        }));
    }

    static std::filesystem::path FreshFolder(const std::filesystem::path& folder) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        return folder;
    }
    static CSettings Caller(IsdnTest& t) {
        CSettings s = t.Station("a.ini", 0, "3411", 2);
        s.WriteInt("ISDN", "DialDelay", 100);
        return s;
    }
    static CSettings Answerer(IsdnTest& t) {
        CSettings s = t.Station("b.ini", 1, "3412", 2);
        s.WriteInt("ISDN", "AnswerAcceptCalls", 1);
        s.WriteString("ISDN", "MSN-1", "");
        return s;
    }

    std::filesystem::path capture;
    CExchangeDaemon exchange;
    CConnectionManager a, b;
};

// onBlock runs with the exchange and the count of blocks received so far,
// after each block received (line faults mid-call); once it returns true the
// call has what it needs. A writes nothing while holdSender, asked with the
// exchange and the count of blocks A has written, says so; it is asked before
// every block, so that it stops A at an exact block of the stream.
void PlaceCodedCall(IsdnTest& t, const AudioFormat& send, const std::vector<std::vector<uint8_t>>& blocks,
                    size_t wantBlocks, CodedCall* out,
                    const std::function<bool(CExchangeDaemon&, size_t)>& onBlock = nullptr,
                    const std::function<bool(CExchangeDaemon&, size_t)>& holdSender = nullptr) {
    CodedCallStations stations(t);
    ASSERT_NO_FATAL_FAILURE(stations.Start(t));
    const std::filesystem::path& capture = stations.capture;
    CExchangeDaemon& exchange = stations.exchange;
    CConnectionManager& a = stations.a;
    CConnectionManager& b = stations.b;
    a.GetState();
    b.GetState();
    a.SetSendFormat(&send);
    ConnectionInfo target = IsdnTest::Isdn("3412");
    std::strcpy(target.isdn.number2, "3413");
    ASSERT_EQ(a.Connect(&target), 1);
    ASSERT_TRUE(IsdnTest::PollUntil(a, b, [&] { return a.IsStateChanged() && a.GetState() == CONN_CONNECTED; },
                                    kCodedCallBoundMs))
        << exchange.Trace();
    EXPECT_EQ(exchange.Query("active"), send.bitRate == 128000 ? "2" : "1");
    const int f = send.frameBytes;
    size_t next = 0, lastSize = 0;
    uint32_t lastGrowth = timeGetTime();
    AudioFormat last;
    bool enough = false;
    ASSERT_TRUE(IsdnTest::PollUntil(a, b, [&] {
        while (next < blocks.size() && !(holdSender && holdSender(exchange, next)) && a.GetSendSpace() >= f)
            a.WriteAudio(blocks[next++].data(), f);
        AudioFormat now;
        b.GetReceiveFormat(&now);
        if (last.codingType != 0 && (now.codingType != last.codingType || now.sampleRate != last.sampleRate ||
                                     now.bitRate != last.bitRate || now.deviceMode != last.deviceMode))
            ++out->formatChanges;
        if (now.codingType != 0 || last.codingType != 0) last = now;
        std::vector<uint8_t> block(static_cast<size_t>(f));
        while (b.GetReceiveAvailable() >= f) {
            const int n = b.ReadAudio(block.data(), f);
            out->received.insert(out->received.end(), block.begin(), block.begin() + n);
            // The format the frames came in: the far end forgets it on idle
            // fill (once A is done, or while a held-up A starves the line).
            AudioFormat seen;
            b.GetReceiveFormat(&seen);
            if (seen.codingType != 0) out->format = seen;
            if (onBlock && onBlock(exchange, out->received.size() / static_cast<size_t>(f))) enough = true;
        }
        // Once all is written, what is still on the line arrives at the line's pace, however
        // late a loaded machine lets the receiver run: done when nothing more has come for 3 s.
        if (out->received.size() != lastSize) {
            lastSize = out->received.size();
            lastGrowth = timeGetTime();
        }
        return enough || out->received.size() >= static_cast<size_t>(f) * wantBlocks ||
               (next == blocks.size() && timeGetTime() - lastGrowth > 3000);
    }, kCodedCallBoundMs)) << exchange.Trace();
    AddStarved(exchange, 0, out);
    if (send.bitRate == 128000) AddStarved(exchange, 1, out);
    std::printf("starved: underrun %d overrun %d, format changes %d\n", out->underruns, out->overruns,
                out->formatChanges);
    a.Disconnect();
    ASSERT_TRUE(IsdnTest::PollUntil(a, b, [&] { return b.GetState() == CONN_IDLE && a.GetState() != CONN_CONNECTED; }));
    EXPECT_TRUE(IsdnTest::NoCallLeft(a, b, exchange)) << exchange.Query("active") << " calls left";
    out->capA = Capture(capture, "c2b0");
    out->capB = Capture(capture, "c2b1");
}

// What one counted starvation event may cost the far end, in blocks lost or
// found nowhere. A stretch of idle fill from a held-up sender costs nothing
// (the far end skips the fill and keeps its lock and format); a block lost
// to a held-up receiver breaks the stream there, and the far end starts
// over: the gap, the search and lock-in, and the nine blocks dropped after
// the format is found again. Worst seen per event under load (5-6 runs
// each, load 20-45): G.722 4, apt-X 3, Layer II 21, Layer III 15 at 64k and
// 38 at 128k (there the far end waits for the private-bit counter's next
// cycle of 32 blocks). Without starvation the stream arrives as sent.
constexpr int kG722BlocksPerStarve = 4;
constexpr int kAptxPiecesPerStarve = 4;
constexpr int kLayer2BlocksPerStarve = 24;
constexpr int kLayer3BlocksPerStarve = 48;

// What one line fault of a skew call (the second channel falling behind, a
// bit slip) may cost the far end, in blocks (apt-X: pieces of a block). The
// far end starts over on the channel the fault broke: the search, four
// blocks of lock-in and the nine dropped after the format is found again;
// Layer II also the halves the other channel could not hold while it waited
// (worst seen 33, 47 beside starvation); Layer III the wait for the private-bit markers, up to two
// cycles of 32 blocks when the partner of the first marker went by while
// the channel was searching (worst seen 96 under load); apt-X the sync words of both
// channels (worst seen 19).
constexpr int kLayer2FaultBlocks = 48;
constexpr int kLayer3FaultBlocks = 128;
constexpr int kAptxFaultPieces = 40;

// At most `quiet` blocks lost or found nowhere on an unstarved call, and
// `perEvent` more for each event the exchange counted.
void ExpectLossWithinStarvation(int lost, int perEvent, const CodedCall& call, int quiet = 0) {
    const int bound = quiet + perEvent * call.Starved();
    std::printf("lost or found nowhere=%d bound=%d (underrun %d overrun %d)\n", lost, bound, call.underruns,
                call.overruns);
    EXPECT_LE(lost, bound) << "underrun " << call.underruns << " overrun " << call.overruns;
}

// At least `want` blocks arrive in order, fewer only by what the counted
// events may cost.
void ExpectAtLeast(int n, int want, int perEvent, const CodedCall& call) {
    EXPECT_GE(n, want - perEvent * call.Starved()) << "underrun " << call.underruns << " overrun " << call.overruns;
}

// Whether the far end told the format at all; only starvation that took the
// whole call may keep it from doing so.
bool FormatSeen(const CodedCall& call) {
    if (call.format.codingType != 0) return true;
    EXPECT_GT(call.Starved(), 0) << "no format without starvation";
    std::printf("no format: starved throughout\n");
    return false;
}

// Every received block is a sent one (after `expect`), in order; starvation
// may lose whole blocks, as on a real line. A frame on the line when a fault
// strikes is broken on the wire itself: up to `broken` blocks may match no
// sent one. Returns the count; `lost` gets the sent blocks skipped and the
// broken ones.
template <typename Expect>
int ExpectSentBlocksInOrder(const std::vector<uint8_t>& got, const std::vector<std::vector<uint8_t>>& sent, int f,
                            Expect expect, int* lost = nullptr, int broken = 0) {
    size_t at = 0;
    int matched = 0, skipped = 0;
    for (size_t k = 0; k * f + f <= got.size(); ++k) {
        const uint8_t* g = got.data() + k * f;
        size_t i = at;
        while (i < sent.size() && !expect(sent[i], g)) ++i;
        if (i == sent.size() && broken > 0) {
            --broken;
            ++skipped;
            std::printf("received block %zu is broken\n", k);
            continue;
        }
        EXPECT_LT(i, sent.size()) << "received block " << k << " is no sent block";
        if (i == sent.size()) break;
        if (matched > 0) skipped += static_cast<int>(i - at);
        at = i + 1;
        ++matched;
    }
    std::printf("blocks=%d lost=%d\n", matched, skipped);
    if (lost) *lost = skipped;
    return matched;
}
}  // namespace

namespace {

std::string CaptureCheck(const std::string& args, std::string* out) {
    const std::string cmd = "python3 '" + std::string(VELMORA_TEST_DATA) + "/isdn_capture_check.py' " + args;
    return RunTool(cmd, out) == 0 ? "" : *out;
}

// ffmpeg and mpg123 both decode the file without a complaint.
void ExpectPeersDecode(const std::string& file) {
    std::string out;
    EXPECT_EQ(RunTool("ffmpeg -nostdin -v error -i '" + file + "' -f null -", &out), 0) << out;
    EXPECT_EQ(out, "") << "ffmpeg on " << file;
    EXPECT_EQ(RunTool("mpg123 -q -t '" + file + "'", &out), 0) << out;
}
}  // namespace

// A Layer II call at 128 kbit/s: the frames go split over both B-channels of
// the call, the far end reassembles them, and an independent check of the
// exchange's captures finds the split, the counters and a stream that
// ffmpeg and mpg123 decode.
TEST_F(IsdnTest, Layer2At128kSplitsOverTwoChannels) {
    const auto frames = Layer2Tone(48000, DEVICEMODE_STEREO, 128000, 120);
    ASSERT_EQ(frames[0].size(), 384u);
    CodedCall call;
    PlaceCodedCall(*this, MpegSend(CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 128000, 384), frames, 40, &call);
    ASSERT_FALSE(HasFatalFailure());
    if (FormatSeen(call)) {
        EXPECT_EQ(call.format.codingType, CODING_MPEG_L2);
        EXPECT_EQ(call.format.bitRate, 128000);
        EXPECT_EQ(call.format.sampleRate, 48000);
        EXPECT_EQ(call.format.frameBytes, 384);
    }
    int lost = 0;
    // The frames arrive whole and in order, without their CRC (the header
    // says so; the tail keeps its place, cleared), but for the two bytes the
    // split does not carry.
    const int n = ExpectSentBlocksInOrder(call.received, frames, 384, [](const std::vector<uint8_t>& f, const uint8_t* g) {
        if ((f[1] & 1) != 0 || g[1] != (f[1] | 1) || g[382] != 0 || g[383] != 0) return false;
        return std::equal(f.begin(), f.begin() + 1, g) && std::equal(f.begin() + 2, f.begin() + 4, g + 2) &&
               std::equal(f.begin() + 6, f.begin() + 382, g + 4);
    }, &lost, kLayer2BlocksPerStarve * call.Starved());
    ExpectAtLeast(n, 12, kLayer2BlocksPerStarve, call);
    ExpectLossWithinStarvation(lost, kLayer2BlocksPerStarve, call);

    ASSERT_FALSE(call.capA.empty());
    ASSERT_FALSE(call.capB.empty());
    const std::string mp2 = (m_dir.Path() / "split.mp2").string();
    std::string out;
    ASSERT_EQ(CaptureCheck("split-l2 '" + call.capA + "' '" + call.capB + "' '" + mp2 + "' 384", &out), "");
    std::printf("%s", out.c_str());
    ExpectPeersDecode(mp2);
}

namespace {
// A 128 kbit/s Layer II call placed by A at `rate`, answered by B with
// marked 64 kbit/s Layer II frames: A answers the markers with filler
// frames on both channels. With `lateFirstMs` B's frames reach A's first
// channel that much later, so that A takes them from its second. Returns the
// captures of what A sent.
void PlaceMarkedAnswerCall(IsdnTest& t, int rate, int answerBlocks, int lateFirstMs, std::string* capA,
                           std::string* capB) {
    CodedCallStations stations(t);
    ASSERT_NO_FATAL_FAILURE(stations.Start(t));
    const std::filesystem::path& capture = stations.capture;
    CExchangeDaemon& exchange = stations.exchange;
    CConnectionManager& a = stations.a;
    CConnectionManager& b = stations.b;
    a.GetState();
    b.GetState();
    // B's answer format is set while it listens, as its call engine does:
    // that is when its frames take their marker.
    const AudioFormat answer = MpegSend(CODING_MPEG_L2, 48000, DEVICEMODE_MONO, 64000, 192);
    IsdnOf(b)->SetSendFormat(&answer);
    const auto answerFrames = Layer2Tone(48000, DEVICEMODE_MONO, 64000, answerBlocks);
    const auto sentFrames = Layer2Tone(48000, DEVICEMODE_STEREO, 128000, answerBlocks);
    const AudioFormat send = MpegSend(CODING_MPEG_L2, rate, DEVICEMODE_STEREO, 128000, 384);
    a.SetSendFormat(&send);
    ConnectionInfo target = IsdnTest::Isdn("3412");
    std::strcpy(target.isdn.number2, "3413");
    ASSERT_EQ(a.Connect(&target), 1);
    ASSERT_TRUE(IsdnTest::PollUntil(a, b, [&] {
        if (b.IsStateChanged() && b.GetState() == CONN_CONNECTED) b.GetConnectionInfo(nullptr);
        return a.GetState() == CONN_CONNECTED && b.GetState() == CONN_CONNECTED;
    }, kCodedCallBoundMs)) << exchange.Trace();
    b.GetConnectionInfo(nullptr);
    EXPECT_EQ(exchange.Query("active"), "2");
    if (lateFirstMs > 0) {
        EXPECT_EQ(exchange.Query("delay 1 0 " + std::to_string(lateFirstMs)), "ok");
    }
    // Both keep sending. At 48 kHz the call lasts until the line towards B
    // carries the last filler of a round (mode 22, counter 31, whichever
    // channel is A's first). At 44.1 kHz, where A has no
    // filler to send, until A's line has carried 2 s of nothing but idle
    // fill after its own frames.
    std::vector<uint8_t> lastFiller(8, CBChannelFraming::Reverse(0xFE));
    constexpr size_t kSilentBytes = 16000;
    size_t nextA = 0, nextB = 0, polls = 0;
    std::vector<uint8_t> scratch(4096);
    ASSERT_TRUE(IsdnTest::PollUntil(a, b, [&] {
        while (a.GetSendSpace() >= 384) a.WriteAudio(sentFrames[nextA++ % sentFrames.size()].data(), 384);
        while (b.GetSendSpace() >= 192) b.WriteAudio(answerFrames[nextB++ % answerFrames.size()].data(), 192);
        while (a.ReadAudio(scratch.data(), static_cast<int>(scratch.size())) > 0) {}
        while (b.ReadAudio(scratch.data(), static_cast<int>(scratch.size())) > 0) {}
        if (++polls % 50 != 0) return false;
        const std::string cap = Capture(capture, "c2b0");
        std::ifstream in(cap, std::ios::binary);
        const std::vector<uint8_t> line((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (rate != 44100) {
            bool seen = false;
            for (int marker : {31, 63}) {
                lastFiller.back() = CBChannelFraming::Reverse(static_cast<uint8_t>(marker));
                seen = seen || std::search(line.begin(), line.end(), lastFiller.begin(), lastFiller.end()) != line.end();
            }
            return seen;
        }
        const auto sent = std::find_if(line.rbegin(), line.rend(), [](uint8_t x) { return x != 0xFF; });
        return sent != line.rend() && static_cast<size_t>(sent - line.rbegin()) >= kSilentBytes;
    }, kCodedCallBoundMs)) << exchange.Trace();
    a.Disconnect();
    ASSERT_TRUE(IsdnTest::PollUntil(a, b, [&] { return b.GetState() == CONN_IDLE && a.GetState() != CONN_CONNECTED; }));
    EXPECT_TRUE(IsdnTest::NoCallLeft(a, b, exchange)) << exchange.Query("active") << " calls left";
    *capA = Capture(capture, "c2b0");
    *capB = Capture(capture, "c2b1");
}
}  // namespace

// A peer that marks its 64 kbit/s Layer II frames on a two-channel call is
// answered with filler frames on both channels, their markers counting
// through the modes that announce it; at 44.1 kHz no filler frame exists and
// none goes out. An independent check of the exchange's captures.
// B sends its frames on both channels, its second channel's marked apart
// from its first's; A takes them from whichever channel it found them on
// first, also its second.
TEST_F(IsdnTest, FillerFramesAnswerAPeersMarkersExceptAt44kHz) {
    // At 48 kHz time for A's 56 fillers after B's first marked frames.
    constexpr int kCalls[][3] = {{48000, 110, 0}, {48000, 110, 300}, {44100, 40, 0}};
    for (const auto& [rate, blocks, lateFirstMs] : kCalls) {
        SCOPED_TRACE(std::to_string(rate) + " Hz, first channel " + std::to_string(lateFirstMs) + " ms late");
        std::string capA, capB, out;
        PlaceMarkedAnswerCall(*this, rate, blocks, lateFirstMs, &capA, &capB);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_FALSE(capA.empty());
        ASSERT_FALSE(capB.empty());
        EXPECT_EQ(CaptureCheck("filler '" + capA + "' '" + capB + "' " + std::to_string(rate), &out), "");
        std::printf("%s", out.c_str());
    }
}

namespace {
struct Layer3Case {
    int rate, mode, bitRate, block;
};
}  // namespace

// Layer III over ISDN: at 64 kbit/s one channel carries the inverted frames;
// at 128 kbit/s the blocks alternate over two channels behind their
// private-bit markers, at 48 kHz (one frame a block) and 24 kHz (two MPEG-2
// frames a block). What arrives is what was sent, markers included; the
// captures decode in ffmpeg and mpg123.
static void RunLayer3Call(IsdnTest& t, const Layer3Case& c) {
    const auto blocks = Layer3Tone(c.rate, c.mode, c.bitRate, c.block, 160);
    CodedCall call;
    PlaceCodedCall(t, MpegSend(CODING_MPEG_L3, c.rate, c.mode, c.bitRate, c.block), blocks, 30, &call);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    if (FormatSeen(call)) {
        EXPECT_EQ(call.format.codingType, CODING_MPEG_L3);
        EXPECT_EQ(call.format.bitRate, c.bitRate);
        EXPECT_EQ(call.format.sampleRate, c.rate);
        EXPECT_EQ(call.format.frameBytes, c.block);
    }
    // Sent blocks carry their marker only in the private bits.
    int lost = 0;
    const int n = ExpectSentBlocksInOrder(call.received, blocks, c.block, [&](const std::vector<uint8_t>& f, const uint8_t* g) {
        int diff = 0;
        for (int k = 0; k < c.block; ++k) diff += f[k] != g[k] && (f[k] | g[k]) != g[k] ? 1 : 0;
        int changed = 0;
        for (int k = 0; k < c.block; ++k) changed += f[k] != g[k] ? 1 : 0;
        return diff == 0 && changed <= 2;
    }, &lost, kLayer3BlocksPerStarve * call.Starved());
    ExpectAtLeast(n, 8, kLayer3BlocksPerStarve, call);
    ExpectLossWithinStarvation(lost, kLayer3BlocksPerStarve, call);
    std::string out;
    const std::string mp3 = (t.m_dir.Path() / "l3.mp3").string();
    if (c.bitRate == 128000) {
        ASSERT_EQ(CaptureCheck("alt-l3 '" + call.capA + "' '" + call.capB + "' '" + mp3 + "' " + std::to_string(c.block), &out), "");
        std::printf("%s", out.c_str());
        ExpectPeersDecode(mp3);
    }
}

TEST_F(IsdnTest, Layer3Mono48kAt64k) { RunLayer3Call(*this, {48000, DEVICEMODE_MONO, 64000, 192}); }
TEST_F(IsdnTest, Layer3Stereo48kAt128k) { RunLayer3Call(*this, {48000, DEVICEMODE_STEREO, 128000, 384}); }
TEST_F(IsdnTest, Layer3Mono24kAt128k) { RunLayer3Call(*this, {24000, DEVICEMODE_MONO, 128000, 768}); }
TEST_F(IsdnTest, Layer3Stereo24kAt128k) { RunLayer3Call(*this, {24000, DEVICEMODE_STEREO, 128000, 768}); }

namespace {
// The received bytes in 192-byte pieces, each looked for in the sent stream
// after the piece found before: how many pieces, and how many were found.
std::pair<int, int> PiecesInOrder(const std::vector<std::vector<uint8_t>>& blocks, const std::vector<uint8_t>& received) {
    std::vector<uint8_t> stream;
    for (const auto& b : blocks) stream.insert(stream.end(), b.begin(), b.end());
    size_t at = 0;
    int found = 0, total = 0;
    for (size_t k = 0; k + 192 <= received.size(); k += 192, ++total) {
        const auto g = received.begin() + static_cast<long>(k);
        const auto hit = std::search(stream.begin() + static_cast<long>(at), stream.end(), g, g + 192);
        if (hit == stream.end()) continue;
        at = static_cast<size_t>(hit - stream.begin()) + 192;
        ++found;
    }
    return {total, found};
}


// G.722 over one B-channel, or the same stream on both: the far end finds
// the code bytes by itself and hands on the sent stream, in order.
void RunG722Call(IsdnTest& t, int bitRate) {
    const auto blocks = G722Tone(192, 260);
    AudioFormat send = MpegSend(CODING_G722, 16000, DEVICEMODE_MONO, bitRate, 192);
    CodedCall call;
    PlaceCodedCall(t, send, blocks, 60, &call);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    if (FormatSeen(call)) {
        EXPECT_EQ(call.format.codingType, CODING_G722);
        EXPECT_EQ(call.format.bitRate, 64000);
        EXPECT_EQ(call.format.sampleRate, 16000);
        EXPECT_EQ(call.format.frameBytes, 192);
    }
    // The path hands on bytes, not blocks: each received block is a stretch
    // of the stream, after the one before. Only starvation the exchange
    // counted may lose bytes; a block across such a gap is found nowhere.
    const auto [total, found] = PiecesInOrder(blocks, call.received);
    std::printf("blocks=%d in order=%d\n", total, found);
    ExpectAtLeast(found, 40, kG722BlocksPerStarve, call);
    ExpectLossWithinStarvation(total - found, kG722BlocksPerStarve, call, 3);
}
}  // namespace

TEST_F(IsdnTest, G722At64kIsFoundByTheFarEnd) { RunG722Call(*this, 64000); }
TEST_F(IsdnTest, G722At128kIsFoundByTheFarEnd) { RunG722Call(*this, 128000); }

namespace {

struct AptxCase {
    int coding;
    int mode;
    int bitRate;
    int rate;  // what the far end reports
};

// apt-X of a kind from A to B: B finds the kind, the mode and (on two
// channels) the alignment by itself and hands on the sent code words in
// order.
void RunAptxCall(IsdnTest& t, const AptxCase& c) {
    const int block = c.mode == DEVICEMODE_MONO ? 192 : 384;
    const auto blocks = AptxTone(c.coding, c.mode, block, 260);
    CodedCall call;
    PlaceCodedCall(t, MpegSend(c.coding, c.rate, c.mode, c.bitRate, block), blocks, 60, &call);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    if (FormatSeen(call)) {
        EXPECT_EQ(call.format.codingType, c.coding);
        EXPECT_EQ(call.format.deviceMode, c.mode);
        EXPECT_EQ(call.format.bitRate, c.bitRate);
        EXPECT_EQ(call.format.sampleRate, c.rate);
        EXPECT_EQ(call.format.aptxOption, 1);
    }
    // Each received piece is a stretch of the stream after the one before.
    // A sender a loaded machine holds up leaves idle fill on the line (the
    // exchange counts it): a piece across such a gap is found nowhere, the
    // pieces around it are.
    const auto [total, found] = PiecesInOrder(blocks, call.received);
    std::printf("pieces=%d in order=%d\n", total, found);
    ExpectAtLeast(found, 30, kAptxPiecesPerStarve, call);
    ExpectLossWithinStarvation(total - found, kAptxPiecesPerStarve, call, 3);
}
}  // namespace

TEST_F(IsdnTest, AptxStandardAt64kIsFoundByDecoding) { RunAptxCall(*this, {CODING_APTX, DEVICEMODE_MONO, 64000, 16000}); }
TEST_F(IsdnTest, AptxEnhancedAt64kIsFramedOnOneChannel) {
    RunAptxCall(*this, {CODING_APTX_ENH, DEVICEMODE_MONO, 64000, 15754});
}
TEST_F(IsdnTest, AptxStandardMonoAt128kIsAlignedOverTwoChannels) {
    RunAptxCall(*this, {CODING_APTX, DEVICEMODE_MONO, 128000, 31508});
}
TEST_F(IsdnTest, AptxEnhancedStereoAt128kIsAlignedOverTwoChannels) {
    RunAptxCall(*this, {CODING_APTX_ENH, DEVICEMODE_STEREO, 128000, 15754});
}

namespace {
// A sender held up once it has written `at` blocks: A writes nothing until
// the exchange has put `ms` of idle fill towards B on every channel in place
// of its data, then goes on where it stopped. Both ends are counted on the
// line, so a loaded machine that runs A or B late moves neither.
struct SenderHold {
    size_t at;
    uint32_t ms;
    int channels;
    int64_t fillBefore[2] = {-1, -1};
    int underrunsBefore = 0;
    bool over = false;
    int underruns = 0;  // stretches of fill the exchange counted while A was held

    static int Underruns(CExchangeDaemon& exchange, int channels) {
        int total = 0;
        for (int c = 0; c < channels; ++c) {
            int u = 0, o = 0;
            std::sscanf(exchange.Query("starved 2 " + std::to_string(c)).c_str(), "underrun %d overrun %d", &u, &o);
            total += u;
        }
        return total;
    }
    static int64_t Fill(CExchangeDaemon& exchange, int channel) {
        return std::atoll(exchange.Query("fill 2 " + std::to_string(channel)).c_str());
    }
    bool operator()(CExchangeDaemon& exchange, size_t written) {
        if (over || written < at) return false;
        // Taken as the last block before the hold is written, before A has
        // passed it on: the stretch of fill behind it is counted afterwards.
        if (fillBefore[0] < 0) {
            for (int c = 0; c < channels; ++c) fillBefore[c] = Fill(exchange, c);
            underrunsBefore = Underruns(exchange, channels);
            return true;
        }
        const int64_t want = static_cast<int64_t>(ms) * 8;  // a B-channel carries 8 bytes a millisecond
        for (int c = 0; c < channels; ++c)
            if (Fill(exchange, c) - fillBefore[c] < want) return true;
        underruns = Underruns(exchange, channels) - underrunsBefore;
        over = true;
        return false;
    }
};

// A is held up for 300 ms of idle fill mid-call: B loses nothing and keeps
// its format. Blocks B lost itself (a receiver held up by a loaded machine)
// are the only loss allowed.
template <typename Expect>
void RunHeldSender(IsdnTest& t, const AudioFormat& send, const std::vector<std::vector<uint8_t>>& blocks,
                   Expect expect) {
    const int channels = send.bitRate / 64000;
    SenderHold hold{20, 300, channels};
    CodedCall call;
    PlaceCodedCall(t, send, blocks, 40, &call, nullptr, std::ref(hold));
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    ASSERT_TRUE(hold.over) << "the sender was never held up";
    EXPECT_GE(hold.underruns, 1);
    if (!FormatSeen(call)) return;
    EXPECT_EQ(call.format.codingType, send.codingType);
    EXPECT_EQ(call.format.sampleRate, send.sampleRate);
    EXPECT_EQ(call.format.bitRate, send.bitRate);
    EXPECT_LE(call.formatChanges, 2 * call.overruns) << "the far end started over";
    int lost = 0;
    const int f = send.frameBytes;
    const int n = ExpectSentBlocksInOrder(call.received, blocks, f, expect, &lost, kLayer3BlocksPerStarve * call.overruns);
    EXPECT_GE(n, 40 - kLayer2BlocksPerStarve * call.overruns);
    EXPECT_LE(lost, kLayer3BlocksPerStarve * call.overruns);
}

// A Layer II frame as received: its CRC, if any, dropped (the tail cleared)
// and, at 64 kbit/s, its last byte a marker.
bool Layer2Arrived(const std::vector<uint8_t>& f, const uint8_t* g, int tail) {
    if ((f[1] & 1) != 0) return std::equal(f.begin(), f.end() - tail, g);
    return g[0] == f[0] && g[1] == (f[1] | 1) && std::equal(f.begin() + 2, f.begin() + 4, g + 2) &&
           std::equal(f.begin() + 6, f.end() - tail, g + 4);
}

bool Layer3Arrived(const std::vector<uint8_t>& f, const uint8_t* g) {
    int changed = 0;
    for (size_t k = 0; k < f.size(); ++k) {
        if (f[k] != g[k] && (f[k] | g[k]) != g[k]) return false;
        changed += f[k] != g[k] ? 1 : 0;
    }
    return changed <= 2;
}
}  // namespace

TEST_F(IsdnTest, Layer2At64kRidesOutIdleFill) {
    RunHeldSender(*this, MpegSend(CODING_MPEG_L2, 48000, DEVICEMODE_MONO, 64000, 192),
                  Layer2Tone(48000, DEVICEMODE_MONO, 64000, 80),
                  [](const std::vector<uint8_t>& f, const uint8_t* g) { return Layer2Arrived(f, g, 1); });
}

TEST_F(IsdnTest, Layer2At128kRidesOutIdleFill) {
    RunHeldSender(*this, MpegSend(CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 128000, 384),
                  Layer2Tone(48000, DEVICEMODE_STEREO, 128000, 80),
                  [](const std::vector<uint8_t>& f, const uint8_t* g) { return Layer2Arrived(f, g, 2); });
}

// At 24 kHz a Layer II frame is longer than a B3 block, at 64 kbit/s on one
// channel and as the halves of the split: fill may come inside a frame.
TEST_F(IsdnTest, Layer2At24kRidesOutIdleFill) {
    for (int bitRate : {64000, 128000}) {
        SCOPED_TRACE(bitRate);
        const int length = MpegBytesPer1152Samples(bitRate, 24000);
        RunHeldSender(*this, MpegSend(CODING_MPEG_L2, 24000, DEVICEMODE_STEREO, bitRate, length),
                      Layer2Tone(24000, DEVICEMODE_STEREO, bitRate, 80),
                      [&](const std::vector<uint8_t>& f, const uint8_t* g) {
                          return Layer2Arrived(f, g, bitRate / 64000);
                      });
    }
}

TEST_F(IsdnTest, Layer3At64kRidesOutIdleFill) {
    RunHeldSender(*this, MpegSend(CODING_MPEG_L3, 48000, DEVICEMODE_MONO, 64000, 192),
                  Layer3Tone(48000, DEVICEMODE_MONO, 64000, 192, 80), Layer3Arrived);
}

TEST_F(IsdnTest, Layer3At24kOverTwoChannelsRidesOutIdleFill) {
    RunHeldSender(*this, MpegSend(CODING_MPEG_L3, 24000, DEVICEMODE_STEREO, 128000, 768),
                  Layer3Tone(24000, DEVICEMODE_STEREO, 128000, 768, 80), Layer3Arrived);
}

namespace {
// Where the sender falls behind on one channel of a two-channel call: the
// channel, how far into its next B3 block, and for how many bytes of fill.
struct OneChannelHold {
    int channel;
    int offset;
    int bytes;
};

constexpr size_t kFirstHoldAt = 8, kBetweenHolds = 8;

// A call on which the exchange holds the sender up at each place in turn,
// once the far end has found the stream and some blocks after the one before.
void PlaceCallWithHolds(IsdnTest& t, const AudioFormat& send, const std::vector<std::vector<uint8_t>>& blocks,
                        const std::vector<OneChannelHold>& holds, CodedCall* call) {
    size_t done = 0, last = 0;
    PlaceCodedCall(t, send, blocks, blocks.size(), call, [&](CExchangeDaemon& exchange, size_t received) {
        if (done < holds.size() && received >= (done == 0 ? kFirstHoldAt : last + kBetweenHolds)) {
            const OneChannelHold& h = holds[done];
            EXPECT_EQ(exchange.Query("hold 2 " + std::to_string(h.channel) + " " + std::to_string(h.bytes) +
                                     " " + std::to_string(h.offset)),
                      "ok");
            ++done;
            last = received;
        }
        return done == holds.size() && received >= last + 2 * kBetweenHolds;
    });
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    ASSERT_EQ(done, holds.size()) << "the call ended before every hold";
    EXPECT_GE(call->underruns, static_cast<int>(holds.size()));
    ASSERT_TRUE(FormatSeen(*call));
    EXPECT_EQ(call->format.codingType, send.codingType);
    EXPECT_EQ(call->format.sampleRate, send.sampleRate);
    EXPECT_LE(call->formatChanges, 2 * call->overruns) << "the far end started over";
}

// The two channels of a call starve at different moments: the exchange puts
// idle fill on one channel alone, inside a frame (or half frame) of the
// sender's. The far end keeps its lock and format and hands on no broken
// frame; it loses at most the frame the fill came in, where the frame's own
// bytes could not be told from the fill (the sender's bytes only waited).
template <typename Expect>
void RunOneChannelHolds(IsdnTest& t, const AudioFormat& send, const std::vector<std::vector<uint8_t>>& blocks,
                        const std::vector<OneChannelHold>& holds, Expect expect) {
    CodedCall call;
    PlaceCallWithHolds(t, send, blocks, holds, &call);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    int lost = 0;
    const int n = ExpectSentBlocksInOrder(call.received, blocks, send.frameBytes, expect, &lost,
                                          kLayer3BlocksPerStarve * call.overruns);
    EXPECT_GE(n, static_cast<int>(kFirstHoldAt + holds.size() * kBetweenHolds) -
                     kLayer3BlocksPerStarve * call.overruns);
    EXPECT_LE(lost, static_cast<int>(holds.size()) + kLayer3BlocksPerStarve * call.overruns);
}
}  // namespace

// A Layer II frame at 128 kbit/s is split into two half frames of 192
// bytes, one on each channel, a B3 block each: fill before one, inside it,
// before its counter byte, a single byte of it or a long stretch.
TEST_F(IsdnTest, Layer2At128kRidesOutIdleFillOnOneChannelMidFrame) {
    const std::vector<OneChannelHold> holds = {{0, 96, 40}, {1, 191, 333}, {0, 1, 800},   {1, 300, 1},
                                               {0, 0, 150}, {1, 383, 64},  {0, 192, 500}, {1, 100, 77},
                                               {0, 190, 3}, {1, 2, 1200}};
    RunOneChannelHolds(
        *this, MpegSend(CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 128000, 384),
        Layer2Tone(48000, DEVICEMODE_STEREO, 128000, 400), holds,
        [](const std::vector<uint8_t>& f, const uint8_t* g) { return Layer2Arrived(f, g, 2); });
}

// A 24 kHz Layer III block at 128 kbit/s is 768 bytes on one channel, four
// B3 blocks: fill at their starts and inside them, where the frame's own
// bytes (inverted on the line) hold runs of 0xFF like the fill's.
TEST_F(IsdnTest, Layer3At24kOverTwoChannelsRidesOutIdleFillOnOneChannelMidFrame) {
    const std::vector<OneChannelHold> holds = {{0, 1, 40},  {1, 200, 333}, {0, 383, 800}, {1, 0, 150},
                                               {0, 100, 1}, {1, 300, 500}, {0, 250, 77},  {1, 5, 1200}};
    RunOneChannelHolds(*this, MpegSend(CODING_MPEG_L3, 24000, DEVICEMODE_STEREO, 128000, 768),
                       Layer3Tone(24000, DEVICEMODE_STEREO, 128000, 768, 200), holds, Layer3Arrived);
}

// G.722 has no frames: the far end hands on the stream without the fill,
// every piece after the one before.
TEST_F(IsdnTest, G722RidesOutIdleFill) {
    const auto blocks = G722Tone(192, 260);
    SenderHold hold{70, 300, 1};
    CodedCall call;
    PlaceCodedCall(*this, MpegSend(CODING_G722, 16000, DEVICEMODE_MONO, 64000, 192), blocks, 100, &call, nullptr,
                   std::ref(hold));
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(hold.over) << "the sender was never held up";
    if (!FormatSeen(call)) return;
    EXPECT_LE(call.formatChanges, 2 * call.overruns) << "the far end started over";
    const auto [total, found] = PiecesInOrder(blocks, call.received);
    std::printf("blocks=%d in order=%d\n", total, found);
    EXPECT_GE(total, 60);
    EXPECT_LE(total - found, kG722BlocksPerStarve * call.overruns);
}

// Every marker a peer puts on its 64 kbit/s Layer II frames in the modes
// that announce it (10, 20 and 21), on whichever channel the frames are
// taken from, is seen as the peer's marker, the first frame of mode 20
// (counter 0, 0x40) included; the plain counters of mode 22 and the zero of
// mode 1 are not.
TEST(IsdnMarkerTest, EveryAnnouncingMarkerIsRecognised) {
    const auto marker = [](int mode, int x, int channel) {
        return CBChannelFraming::Reverse(static_cast<uint8_t>(CBChannelFraming::OneFrameMarker(mode, x, channel)));
    };
    for (int x = 0; x < 32; ++x) {
        for (int channel = 0; channel < 2; ++channel) {
            for (int mode : {10, 20, 21})
                EXPECT_TRUE(CISDN::IsPeerMarker(marker(mode, x, channel), channel))
                    << "mode " << mode << " counter " << x << " channel " << channel;
            EXPECT_FALSE(CISDN::IsPeerMarker(marker(22, x, channel), channel)) << "counter " << x << " channel " << channel;
            EXPECT_FALSE(CISDN::IsPeerMarker(marker(1, x, channel), channel)) << "channel " << channel;
        }
    }
}

namespace {
// Where each received unit of `unit` bytes starts in the sent stream, in
// bytes, each after the one before; -1 for a unit found nowhere. `at` tells
// whether the sent stream at offset i (a multiple of `step`) holds the
// received unit g.
template <typename At>
std::vector<long> UnitsInSent(const std::vector<uint8_t>& received, size_t sentBytes, int unit, size_t step, At at) {
    std::vector<long> where;
    size_t from = 0;
    for (size_t k = 0; k + static_cast<size_t>(unit) <= received.size(); k += static_cast<size_t>(unit)) {
        size_t i = from;
        while (i < sentBytes && !at(i, received.data() + k)) i += step;
        if (i >= sentBytes) {
            where.push_back(-1);
            continue;
        }
        where.push_back(static_cast<long>(i));
        from = i + static_cast<size_t>(unit);
    }
    return where;
}

// The stretches a call lost: between two units that arrived in order, the
// units skipped in the sent stream and those found nowhere, in units.
std::vector<int> GapsOf(const std::vector<long>& where, int unit) {
    std::vector<int> gaps;
    long next = -1;
    int nowhere = 0;
    for (size_t k = 0; k < where.size(); ++k) {
        const long w = where[k];
        if (w < 0) {
            ++nowhere;
            continue;
        }
        const int skipped = next < 0 ? 0 : static_cast<int>((w - next + unit - 1) / unit);
        if (skipped + nowhere > 0) gaps.push_back(skipped + nowhere);
        nowhere = 0;
        next = w + unit;
    }
    if (nowhere > 0) gaps.push_back(nowhere);
    return gaps;
}

// The line faults of a skew call, on B's side of the exchange: the second
// channel goes 100 ms behind the first, then 300 ms, then the first channel
// slips by 3 bits. Each comes once enough units have arrived since the one
// before: more than the far end holds back while it pairs channels 300 ms
// apart, so that each fault strikes, and is recovered from, before the next.
const std::vector<std::string> kSkewFaults = {"delay 2 1 100", "delay 2 1 200", "slip 2 0 3"};
// Where a fault costs up to two marker cycles (Layer III: 64 blocks, 3 s at
// 24 kHz), the second channel goes 300 ms behind at once.
const std::vector<std::string> kShortSkewFaults = {"delay 2 1 300", "slip 2 0 3"};
constexpr size_t kUnitsBefore = 10;

struct SkewCall {
    CodedCall call;
    std::vector<std::string> faults;
    std::vector<size_t> faultAt;  // units received when each fault struck
    size_t between = 0;           // units between faults
};

// `unitMs`: the audio a unit carries, in ms.
void PlaceSkewCall(IsdnTest& t, const AudioFormat& send, const std::vector<std::vector<uint8_t>>& blocks, int unitMs,
                   const std::vector<std::string>& faults, SkewCall* out) {
    out->faults = faults;
    out->between = 10 + static_cast<size_t>(300 / unitMs + 1);
    size_t last = 0;
    PlaceCodedCall(t, send, blocks, blocks.size(), &out->call, [&](CExchangeDaemon& exchange, size_t received) {
        const size_t due = out->faultAt.empty() ? kUnitsBefore : last + out->between;
        if (out->faultAt.size() < faults.size() && received >= due) {
            EXPECT_EQ(exchange.Query(faults[out->faultAt.size()]), "ok");
            out->faultAt.push_back(received);
            last = received;
        }
        return out->faultAt.size() == faults.size() && received >= last + 2 * out->between;
    });
}

// Every fault costs at most `bound` units, and each stretch of idle fill the
// exchange counted from a held-up sender at most `perStarve` more; the call
// goes on in order after the last fault.
void ExpectRecoveredWithin(const SkewCall& s, const std::vector<long>& where, int unit, int bound, int perStarve) {
    ASSERT_EQ(s.faultAt.size(), s.faults.size()) << "the call never recovered from fault " << s.faultAt.size();
    const std::vector<int> gaps = GapsOf(where, unit);

    std::printf("faults at units");
    for (size_t f : s.faultAt) std::printf(" %zu", f);
    std::printf("; gaps (units):");
    for (int g : gaps) std::printf(" %d", g);
    std::printf("; bound %d per fault\n", bound);
    const int starved = s.call.Starved();
    EXPECT_LE(gaps.size(), s.faults.size() + static_cast<size_t>(starved));
    // Starvation may strike while the far end recovers from a fault.
    for (int g : gaps) EXPECT_LE(g, bound + perStarve * starved);
    // After the last fault the stream goes on: more units in order than the
    // far end held back when it struck (those arrive before its effect).
    const size_t after = std::count_if(where.begin() + static_cast<long>(std::min(s.faultAt.back(), where.size())),
                                       where.end(), [](long w) { return w >= 0; });
    std::printf("in order after the last fault: %zu\n", after);
    EXPECT_GE(after, s.between);
}

std::vector<uint8_t> Joined(const std::vector<std::vector<uint8_t>>& blocks) {
    std::vector<uint8_t> all;
    for (const auto& b : blocks) all.insert(all.end(), b.begin(), b.end());
    return all;
}
}  // namespace

// Layer II at 128 kbit/s: the far end pairs the right halves of the split
// however far the second channel falls behind (up to half the counter
// cycle), and finds the first channel again after a bit slip.
TEST_F(IsdnTest, Layer2At128kRecoversFromChannelDelayAndBitSlip) {
    const auto frames = Layer2Tone(48000, DEVICEMODE_STEREO, 128000, 400);
    SkewCall s;
    PlaceSkewCall(*this, MpegSend(CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 128000, 384), frames, 24, kSkewFaults, &s);
    ASSERT_FALSE(HasFatalFailure());
    const std::vector<uint8_t> sent = Joined(frames);
    const auto where = UnitsInSent(s.call.received, sent.size(), 384, 384, [&](size_t i, const uint8_t* g) {
        const uint8_t* f = sent.data() + i;
        return g[1] == (f[1] | 1) && std::equal(f + 6, f + 382, g + 4);
    });
    ExpectRecoveredWithin(s, where, 384, kLayer2FaultBlocks, kLayer2BlocksPerStarve);
}

// Layer III at 128 kbit/s: the far end finds the alternation of the channels
// again behind the private-bit markers, however far (up to half the marker
// cycle) the second channel falls behind, and after a bit slip.
static void RunLayer3SkewCall(IsdnTest& t, const Layer3Case& c) {
    const auto blocks = Layer3Tone(c.rate, c.mode, c.bitRate, c.block, 400);
    SkewCall s;
    PlaceSkewCall(t, MpegSend(CODING_MPEG_L3, c.rate, c.mode, c.bitRate, c.block), blocks, c.block / 16,
                  kShortSkewFaults, &s);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    const std::vector<uint8_t> sent = Joined(blocks);
    // Sent blocks carry their marker only in the private bits.
    const auto where = UnitsInSent(s.call.received, sent.size(), c.block, static_cast<size_t>(c.block),
                                   [&](size_t i, const uint8_t* g) {
        int changed = 0;
        for (int k = 0; k < c.block; ++k) {
            const uint8_t f = sent[i + static_cast<size_t>(k)];
            if (f == g[k]) continue;
            if ((f | g[k]) != g[k] || ++changed > 2) return false;
        }
        return true;
    });
    ExpectRecoveredWithin(s, where, c.block, kLayer3FaultBlocks, kLayer3BlocksPerStarve);
}

TEST_F(IsdnTest, Layer3Stereo48kAt128kRecoversFromChannelDelayAndBitSlip) {
    RunLayer3SkewCall(*this, {48000, DEVICEMODE_STEREO, 128000, 384});
}
TEST_F(IsdnTest, Layer3Mono24kAt128kRecoversFromChannelDelayAndBitSlip) {
    RunLayer3SkewCall(*this, {24000, DEVICEMODE_MONO, 128000, 768});
}

// apt-X of either kind at 128 kbit/s: the framed path aligns the channels
// again by their sync words after each delay and after a bit slip.
static void RunAptxSkewCall(IsdnTest& t, const AptxCase& c) {
    const int block = c.mode == DEVICEMODE_MONO ? 192 : 384;
    const auto blocks = AptxTone(c.coding, c.mode, block, 400);
    SkewCall s;
    PlaceSkewCall(t, MpegSend(c.coding, c.rate, c.mode, c.bitRate, block), blocks, block / 16, kSkewFaults, &s);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    const std::vector<uint8_t> sent = Joined(blocks);
    // The path hands on code words, not blocks: each received piece is a
    // stretch of the stream, after the one before.
    const auto where = UnitsInSent(s.call.received, sent.size() - static_cast<size_t>(block) + 1, block, 1,
                                   [&](size_t i, const uint8_t* g) { return std::memcmp(sent.data() + i, g, static_cast<size_t>(block)) == 0; });
    ExpectRecoveredWithin(s, where, block, kAptxFaultPieces, kAptxPiecesPerStarve);
}

TEST_F(IsdnTest, AptxStandardMonoAt128kRecoversFromChannelDelayAndBitSlip) {
    RunAptxSkewCall(*this, {CODING_APTX, DEVICEMODE_MONO, 128000, 31508});
}
TEST_F(IsdnTest, AptxEnhancedStereoAt128kRecoversFromChannelDelayAndBitSlip) {
    RunAptxSkewCall(*this, {CODING_APTX_ENH, DEVICEMODE_STEREO, 128000, 15754});
}

// Standard apt-X on one channel has no frames: a held-up sender's fill comes
// anywhere in its code words, an odd number of bytes long, shorter or longer
// than the sync pattern's block. The far end cuts the fill out and hands on
// the sent code words as one unbroken stretch: nothing lost, no fill, the
// sync in step, so its decoder plays on.
TEST_F(IsdnTest, AptxStandardAt64kRidesOutIdleFill) {
    const auto blocks = AptxTone(CODING_APTX, DEVICEMODE_MONO, 192, 400);
    const std::vector<OneChannelHold> holds = {{0, 1, 77},   {0, 100, 6},  {0, 191, 256},
                                               {0, 50, 601}, {0, 7, 1001}, {0, 150, 2400}};
    CodedCall call;
    PlaceCallWithHolds(*this, MpegSend(CODING_APTX, 16000, DEVICEMODE_MONO, 64000, 192), blocks, holds,
                       &call);
    ASSERT_FALSE(HasFatalFailure());
    const std::vector<uint8_t> sent = Joined(blocks);
    ASSERT_GE(call.received.size(), 192u * (kFirstHoldAt + holds.size() * kBetweenHolds));
    const auto start =
        std::search(sent.begin(), sent.end(), call.received.begin(), call.received.begin() + 192);
    ASSERT_TRUE(start != sent.end()) << "the first piece is no sent one";
    // A receiver held up by a loaded machine loses blocks on the line itself.
    if (call.overruns > 0) return;
    const auto at = static_cast<size_t>(start - sent.begin());
    ASSERT_LE(at + call.received.size(), sent.size());
    const auto differ =
        std::mismatch(call.received.begin(), call.received.end(), sent.begin() + static_cast<long>(at));
    EXPECT_TRUE(differ.first == call.received.end())
        << "the stream breaks " << (differ.first - call.received.begin()) << " of " << call.received.size()
        << " bytes in";
}
