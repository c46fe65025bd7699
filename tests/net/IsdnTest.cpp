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
#include <cstring>
#include <memory>
#include <vector>

#include "codecs/MpegL2Codec.h"
#include "fakes/ExchangeDaemon.h"
#include "net/ConnectionManager.h"
#include "platform/Clock.h"
#include "support/TempDir.h"

namespace {

constexpr const char* kExchange = "controller 1 2 3411\ncontroller 2 2 3412 3413\ncontroller 3 1 3500\nnoanswer 1500\n";

int Port(int offset) { return 46000 + static_cast<int>(::getpid() % 9000) * 2 + offset; }

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
    static bool PollUntil(CConnectionManager& a, CConnectionManager& b, Done done) {
        const uint32_t start = timeGetTime();
        while (timeGetTime() - start < 10000) {
            a.Poll();
            b.Poll();
            if (done()) return true;
            Sleep(2);
        }
        return false;
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
    EXPECT_EQ(exchange.ActiveCallsSettled(), 0);
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
    EXPECT_EQ(exchange.ActiveCallsSettled(), 0);
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
// Layer II frames of a 1 kHz tone from the codec, as the audio engine makes them.
std::vector<std::vector<uint8_t>> Layer2Tone(int rate, int mode, int bitRate, int count) {
    CMpegL2Codec codec;
    AudioFormat f;
    f.codingType = CODING_MPEG_L2;
    f.sampleRate = rate;
    f.deviceMode = mode;
    f.bitRate = bitRate;
    codec.SetEncodeFormat(&f);
    EXPECT_EQ(codec.OpenEncoder(), 1);
    const int ch = mode == DEVICEMODE_MONO ? 1 : 2;
    std::vector<int16_t> pcm(static_cast<size_t>(1152 * ch));
    std::vector<std::vector<uint8_t>> frames;
    uint8_t buf[2048];
    for (int i = 0; i < count; ++i) {
        for (int s = 0; s < 1152; ++s) {
            const double t = static_cast<double>(i * 1152 + s) / rate;
            for (int c = 0; c < ch; ++c) pcm[static_cast<size_t>(s * ch + c)] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * t));
        }
        int used = 0;
        const int n = codec.Encode(pcm.data(), 2304 * ch, &used, buf, sizeof buf);
        frames.emplace_back(buf, buf + n);
    }
    return frames;
}

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

// A Layer II call at 128 kbit/s: the frames go split over both B-channels of
// the call, the far end reassembles them, and an independent check of the
// exchange's captures finds the split, the counters and a stream that
// ffmpeg and mpg123 decode.
TEST_F(IsdnTest, Layer2At128kSplitsOverTwoChannels) {
    const std::filesystem::path capture = m_dir.Path() / "capture";
    std::filesystem::create_directories(capture);
    CExchangeDaemon exchange(m_dir.Path(), kExchange, capture.string());
    CSettings sa = Station("a.ini", 0, "3411", 2);
    sa.WriteInt("ISDN", "DialDelay", 100);
    CSettings sb = Station("b.ini", 1, "3412", 2);
    sb.WriteInt("ISDN", "AnswerAcceptCalls", 1);
    // Each channel answers its own number only.
    sb.WriteString("ISDN", "MSN-1", "3413");
    CConnectionManager a(sa), b(sb);
    ASSERT_EQ(a.Init(m_program, 1), 1);
    ASSERT_EQ(b.Init(m_program, 1), 1);
    ASSERT_EQ(b.StartListening(), 1);
    ASSERT_TRUE(PollUntil(a, b, [&] {
        const std::string t = exchange.Trace();
        size_t n = 0;
        for (size_t p = t.find("LISTEN_CONF"); p != std::string::npos; p = t.find("LISTEN_CONF", p + 1)) ++n;
        return n >= 2;
    }));
    a.GetState();
    b.GetState();
    const auto frames = Layer2Tone(48000, DEVICEMODE_STEREO, 128000, 120);
    ASSERT_EQ(frames[0].size(), 384u);
    AudioFormat send;
    send.codingType = CODING_MPEG_L2;
    send.bitRate = 128000;
    send.sampleRate = 48000;
    send.deviceMode = DEVICEMODE_STEREO;
    send.frameBytes = 384;
    a.SetSendFormat(&send);
    ConnectionInfo target = Isdn("3412");
    std::strcpy(target.isdn.number2, "3413");
    ASSERT_EQ(a.Connect(&target), 1);
    ASSERT_TRUE(PollUntil(a, b, [&] { return a.IsStateChanged() && a.GetState() == CONN_CONNECTED; }))
        << exchange.Trace();
    EXPECT_EQ(exchange.Query("active"), "2");

    // A feeds the frames as fast as the channels take them; B reads frames.
    std::vector<uint8_t> got;
    size_t next = 0;
    ASSERT_TRUE(PollUntil(a, b, [&] {
        while (next < frames.size() && a.GetSendSpace() >= 384) a.WriteAudio(frames[next++].data(), 384);
        uint8_t block[384];
        while (b.GetReceiveAvailable() >= 384) got.insert(got.end(), block, block + b.ReadAudio(block, 384));
        return got.size() >= 384u * 40 || next == frames.size();
    })) << exchange.Trace();
    AudioFormat received;
    b.GetReceiveFormat(&received);
    EXPECT_EQ(received.codingType, CODING_MPEG_L2);
    EXPECT_EQ(received.bitRate, 128000);
    EXPECT_EQ(received.sampleRate, 48000);
    EXPECT_EQ(received.frameBytes, 384);
    // The frames arrive whole and in order, without their CRC (the header
    // says so), but for the two bytes the split does not carry.
    ASSERT_GE(got.size(), 384u * 12);
    std::vector<std::vector<uint8_t>> expected;
    for (const auto& f : frames) {
        ASSERT_EQ(f[1] & 1, 0) << "the codec protects 48 kHz frames";
        std::vector<uint8_t> e(f.begin(), f.begin() + 4);
        e[1] |= 1;
        e.insert(e.end(), f.begin() + 6, f.begin() + 382);
        expected.push_back(e);
    }
    // A late reader or a late sender on a loaded machine may lose whole
    // frames, as on a real line; nothing else may go wrong.
    size_t at = 0;
    int matched = 0, skipped = 0;
    for (size_t k = 0; k * 384 + 384 <= got.size(); ++k) {
        const uint8_t* g = got.data() + k * 384;
        size_t i = at;
        while (i < expected.size() && !std::equal(expected[i].begin(), expected[i].end(), g)) ++i;
        ASSERT_LT(i, expected.size()) << "received frame " << k << " is no sent frame";
        EXPECT_EQ(g[382], 0);
        EXPECT_EQ(g[383], 0);
        if (matched > 0) skipped += static_cast<int>(i - at);
        at = i + 1;
        ++matched;
    }
    // How many a loaded machine costs is its business; what arrives is right.
    std::printf("layer2-128k frames=%d lost=%d\n", matched, skipped);

    a.Disconnect();
    ASSERT_TRUE(PollUntil(a, b, [&] { return b.GetState() == CONN_IDLE && a.GetState() != CONN_CONNECTED; }));
    EXPECT_EQ(exchange.ActiveCallsSettled(), 0);
    const std::string capA = Capture(capture, "c2b0");
    const std::string capB = Capture(capture, "c2b1");
    ASSERT_FALSE(capA.empty());
    ASSERT_FALSE(capB.empty());
    const std::string mp2 = (m_dir.Path() / "split.mp2").string();
    std::string out;
    ASSERT_EQ(RunTool("python3 '" + std::string(VELMORA_TEST_DATA) + "/isdn_capture_check.py' split-l2 '" + capA + "' '" +
                      capB + "' '" + mp2 + "' 384", &out), 0) << out;
    std::printf("%s", out.c_str());
    ASSERT_EQ(RunTool("ffmpeg -nostdin -v error -i '" + mp2 + "' -f null -", &out), 0) << out;
    EXPECT_EQ(out, "") << "ffmpeg";
    ASSERT_EQ(RunTool("mpg123 -q -t '" + mp2 + "'", &out), 0) << out;
}
