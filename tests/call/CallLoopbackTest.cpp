// Whole calls between two stations over loopback TCP, each with a message
// sink as main window and the tone audio stand-in.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "CallHarness.h"
#include "audio/ToneAnalysis.h"

namespace {

struct CallLoopbackTest : ::testing::Test {
    void SetUp() override { MakeTwoStations(m_dir, m_a, m_b); }
    void TearDown() override {
        m_a.reset();
        m_b.reset();
    }

    void Call(const PhonebookEntry& entry, uint32_t ms) { CallBothWays(*m_a, *m_b, entry, ms); }

    // Both stations up and idle, then A dials B for a mono PCM call that
    // measures the link first (type 3, measured buffering).
    void DialMeasuredPcmCall() {
        PhonebookEntry e = TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_MONO);
        e.connection.connectionType = CONNTYPE_3;
        e.connection.bufferingMode = BUFMODE_MEASURE_DELAY;
        ASSERT_TRUE(m_a->Start());
        ASSERT_TRUE(m_b->Start());
        ASSERT_TRUE(m_a->WaitState(16));
        ASSERT_TRUE(m_b->WaitState(16));
        ASSERT_TRUE(m_a->engine->Connect(e));
    }

    // The last `seconds` of what a station heard carry the other's tone.
    // The rate converter's own gain, once per conversion on the way.
    static double ConverterGain() {
        CSampleRateConverter c;
        c.Init(48000, 1, 32000, 1, 96);
        return c.GetGain();
    }

    static void ExpectTone(CToneStation& heard, const CToneStation& sent, int channels, int conversions = 0,
                           double seconds = 0.3) {
        std::lock_guard<std::mutex> g(heard.lock);
        ASSERT_EQ(heard.playedChannels, channels);
        const size_t frames = heard.played.size() / static_cast<size_t>(channels);
        const size_t count = static_cast<size_t>(seconds * CToneStation::kDeviceRate);
        ASSERT_GT(frames, count) << "too little audio arrived";
        const size_t first = frames - count;
        for (int ch = 0; ch < channels; ++ch) {
            const double hz = sent.toneHz * (ch == 1 ? 1.5 : 1.0);
            const ToneFit fit = FitTone(heard.played.data(), first, count, channels, ch, hz, CToneStation::kDeviceRate);
            const double expected = sent.toneLevel * 32767.0 * std::pow(ConverterGain(), conversions);
            EXPECT_NEAR(Db(fit.amplitude / expected), 0.0, 0.5) << "channel " << ch << " at " << hz << " Hz";
            // Only that tone: what the fit leaves is far below it.
            EXPECT_LT(fit.residualRms, 0.05 * fit.amplitude) << "channel " << ch;
        }
    }

    CTempDir m_dir;
    std::unique_ptr<CStation> m_a;
    std::unique_ptr<CStation> m_b;
};

TEST_F(CallLoopbackTest, MonoPcm48kToneBothWaysThenCallerHangsUp) {
    Call(TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_MONO), 800);
    ExpectTone(*m_b->tone, *m_a->tone, 1);
    ExpectTone(*m_a->tone, *m_b->tone, 1);
    // The stations named themselves to each other once audio flowed.
    StationIdentity callerId, answererId;
    m_b->engine->GetRemoteIdentity(&callerId);
    m_a->engine->GetRemoteIdentity(&answererId);
    EXPECT_STREQ(callerId.stationName, "Studio A");
    EXPECT_STREQ(answererId.stationName, "Studio B");
    ASSERT_TRUE(m_a->engine->Disconnect());
    ASSERT_TRUE(m_a->WaitState(16));
    ASSERT_TRUE(m_b->WaitState(16, 12000));
    const std::vector<int> caller = m_a->States();
    ASSERT_GE(caller.size(), 4u);
    EXPECT_EQ(caller[caller.size() - 4], 32);
    EXPECT_EQ(caller[caller.size() - 3], 48);
    EXPECT_EQ(caller[caller.size() - 2], 50);
    EXPECT_EQ(caller.back(), 16);
    int code = -1;
    EXPECT_EQ(m_a->engine->TakeErrorCode(&code), 0);
    EXPECT_EQ(code, 0);
    char text[200];
    EXPECT_EQ(m_a->engine->TakeErrorText(text, sizeof text), 0);
    // The answerer was told who called.
    EXPECT_GE(m_b->Count(WM_ENGINE_INCOMING), 1);
    ConnectionInfo who;
    m_b->engine->GetConnectionInfo(&who);
    EXPECT_EQ(who.kind, TRANSPORT_TCP);
    // The answering side went through the check state on its way up.
    const std::vector<int> answerer = m_b->States();
    EXPECT_NE(std::find(answerer.begin(), answerer.end(), 48), answerer.end());
    EXPECT_NE(std::find(answerer.begin(), answerer.end(), 49), answerer.end());
    EXPECT_EQ(answerer.back(), 16);
    EXPECT_EQ(m_a->engine->IsConnectionActive(), 0);
    // A hang-up is no connection error on the far side either.
    code = -1;
    EXPECT_EQ(m_b->engine->TakeErrorCode(&code), 0);
    EXPECT_EQ(code, 0);
}

}  // namespace

namespace {

TEST_F(CallLoopbackTest, StereoPcm48kFarEndHangsUpAndRatesStayPositive) {
    // Past the first rate window, which also holds the call's start.
    Call(TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_STEREO), 4300);
    ExpectTone(*m_b->tone, *m_a->tone, 2);
    ExpectTone(*m_a->tone, *m_b->tone, 2);
    // 48 kHz stereo PCM: 1536000 bit/s each way, 384000 bytes in a 2 s
    // window - whose bytes x 8000 no longer fit 32 bits.
    int receive = -2, send = -2;
    m_a->engine->GetBandwidth(&receive, &send);
    EXPECT_GT(receive, 1000000);
    EXPECT_GT(send, 1000000);
    EXPECT_LT(send, 2000000);
    ASSERT_TRUE(m_b->engine->Disconnect());
    ASSERT_TRUE(m_b->WaitState(16));
    ASSERT_TRUE(m_a->WaitState(16, 12000));
    int code = -1;
    EXPECT_EQ(m_b->engine->TakeErrorCode(&code), 0);
    EXPECT_EQ(m_b->States().back(), 16);
    // The caller learns of the hang-up from its socket: the call ends, with
    // no error and no failed call state.
    code = -1;
    EXPECT_EQ(m_a->engine->TakeErrorCode(&code), 0);
    EXPECT_EQ(code, 0);
    const std::vector<int> s = m_a->States();
    ASSERT_GE(s.size(), 4u);
    EXPECT_EQ(s[s.size() - 4], 32);
    EXPECT_EQ(s[s.size() - 3], 48);
    EXPECT_EQ(s[s.size() - 2], 50);
    EXPECT_EQ(s.back(), 16);
    EXPECT_EQ(std::count(s.begin(), s.end(), 17), 0);
}

TEST_F(CallLoopbackTest, MonoPcm32kConvertedBothWays) {
    Call(TcpEntry(m_b->port, CODING_PCM, 32000, DEVICEMODE_MONO), 800);
    ExpectTone(*m_b->tone, *m_a->tone, 1, 2);
    ExpectTone(*m_a->tone, *m_b->tone, 1, 2);
    AudioFormat f;
    m_b->engine->GetDecoderFormat(&f);
    EXPECT_EQ(f.sampleRate, 32000);
    EXPECT_EQ(f.frameBytes, 2304);
}

TEST_F(CallLoopbackTest, StereoPcm32kConvertedBothWays) {
    Call(TcpEntry(m_b->port, CODING_PCM, 32000, DEVICEMODE_STEREO), 800);
    ExpectTone(*m_b->tone, *m_a->tone, 2, 2);
    ExpectTone(*m_a->tone, *m_b->tone, 2, 2);
}

TEST_F(CallLoopbackTest, AnswerWithSameSettingsSendsTheCallersFormatBack) {
    Call(TcpEntry(m_b->port, CODING_PCM, 32000, DEVICEMODE_STEREO), 300);
    AudioFormat callerSends, answererSends, callerHears;
    m_a->engine->GetEncoderFormat(&callerSends);
    m_b->engine->GetEncoderFormat(&answererSends);
    m_a->engine->GetDecoderFormat(&callerHears);
    EXPECT_EQ(answererSends.codingType, CODING_PCM);
    EXPECT_EQ(answererSends.sampleRate, 32000);
    EXPECT_EQ(answererSends.deviceMode, DEVICEMODE_STEREO);
    EXPECT_EQ(answererSends.bitRate, callerSends.bitRate);
    EXPECT_EQ(callerHears.sampleRate, 32000);
    EXPECT_EQ(callerHears.deviceMode, DEVICEMODE_STEREO);
}

TEST_F(CallLoopbackTest, AnswerWithFixedAnswerSettings) {
    m_b->settings.WriteInt("TCP", "AnswerSameSettings", 0);
    m_b->settings.WriteInt("TCP", "Answer-CodingType", CODING_PCM);
    m_b->settings.WriteInt("TCP", "Answer-Samplerate", 32000);
    m_b->settings.WriteInt("TCP", "Answer-DeviceMode", DEVICEMODE_STEREO);
    Call(TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_MONO), 800);
    AudioFormat answererSends, callerHears;
    m_b->engine->GetEncoderFormat(&answererSends);
    m_a->engine->GetDecoderFormat(&callerHears);
    EXPECT_EQ(answererSends.sampleRate, 32000);
    EXPECT_EQ(answererSends.deviceMode, DEVICEMODE_STEREO);
    EXPECT_EQ(answererSends.bitRate, 32000 * 32);
    EXPECT_EQ(answererSends.frameBytes, 4608);
    EXPECT_EQ(callerHears.sampleRate, 32000);
    ExpectTone(*m_a->tone, *m_b->tone, 2, 2);  // the answer comes back in stereo at 32 kHz
    ExpectTone(*m_b->tone, *m_a->tone, 1);  // the call goes in mono
}

TEST_F(CallLoopbackTest, MidCallFormatChangeReopensTheDecoder) {
    Call(TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_MONO), 300);
    const int opensBefore = m_b->tone->decoderOpens.load();
    m_b->log.clear();
    ASSERT_TRUE(m_a->engine->Connect(TcpEntry(m_b->port, CODING_PCM, 32000, DEVICEMODE_STEREO)));
    ASSERT_TRUE(m_b->WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 3000));
    EXPECT_GT(m_b->tone->decoderOpens.load(), opensBefore);
    AudioFormat f;
    m_b->engine->GetDecoderFormat(&f);
    EXPECT_EQ(f.sampleRate, 32000);
    EXPECT_EQ(f.deviceMode, DEVICEMODE_STEREO);
    m_b->tone->Clear();
    ASSERT_TRUE(WaitPlayed(*m_b->tone, 800));
    ExpectTone(*m_b->tone, *m_a->tone, 2, 2);
    EXPECT_EQ(m_a->engine->GetCallState(), CALL_CONNECTED);
}

TEST_F(CallLoopbackTest, RefusedCallFailsThenIdlesWith10061) {
    ASSERT_TRUE(m_a->Start());
    ASSERT_TRUE(m_a->WaitState(16));
    // Nobody listens on this port.
    ASSERT_TRUE(m_a->engine->Connect(TcpEntry(TestPort(2), CODING_PCM, 48000, DEVICEMODE_MONO)));
    ASSERT_TRUE(m_a->WaitState(32));
    ASSERT_TRUE(m_a->WaitState(17)) << m_a->Dump();
    ASSERT_TRUE(m_a->WaitState(16)) << m_a->Dump();
    int code = 0;
    EXPECT_EQ(m_a->engine->TakeErrorCode(&code), 1);
    EXPECT_EQ(code, 10061);
    EXPECT_EQ(m_a->engine->TakeErrorCode(&code), 0);  // taken once
    // And the station can call again.
    EXPECT_EQ(m_a->engine->GetAvailableTransports(), static_cast<uint32_t>(TRANSPORT_TCP | TRANSPORT_MULTICAST));
}

TEST_F(CallLoopbackTest, DialThatFailsAtOnceLeavesNothingForTheNextAnsweredCall) {
    ASSERT_TRUE(m_a->Start());
    ASSERT_TRUE(m_b->Start());
    ASSERT_TRUE(m_a->WaitState(16));
    ASSERT_TRUE(m_b->WaitState(16));
    // B dials a name that does not resolve, in the format A will call it with.
    PhonebookEntry nowhere = TcpEntry(m_a->port, CODING_PCM, 48000, DEVICEMODE_MONO);
    std::snprintf(nowhere.connection.address, sizeof nowhere.connection.address, "no-such-host.invalid");
    ASSERT_TRUE(m_b->engine->Connect(nowhere));
    ASSERT_TRUE(m_b->WaitState(17, 30000)) << m_b->Dump();
    ASSERT_TRUE(m_b->WaitState(16)) << m_b->Dump();
    ASSERT_TRUE(m_a->engine->Connect(TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_MONO)));
    ASSERT_TRUE(m_a->WaitState(50)) << m_a->Dump();
    ASSERT_TRUE(m_b->WaitState(50)) << m_b->Dump();
    ASSERT_TRUE(m_a->WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 3000));
    ASSERT_TRUE(WaitPlayed(*m_a->tone, 800));
    ASSERT_TRUE(WaitPlayed(*m_b->tone, 800));
    ExpectTone(*m_a->tone, *m_b->tone, 1);  // B answers with its encoder open
    ExpectTone(*m_b->tone, *m_a->tone, 1);
}

TEST_F(CallLoopbackTest, FixedBufferSizesBothDelayBuffers) {
    PhonebookEntry e = TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_MONO);
    e.connection.connectionType = CONNTYPE_3;
    e.connection.bufferingMode = BUFMODE_FIXED;
    e.connection.bufferMs = 500;
    Call(e, 1200);
    // 500 ms + 10 %: 550 ms of 24 ms frames of 2304 bytes.
    EXPECT_EQ(m_a->engine->GetDelayBufferCapacity(0), 2304u * 550 / 24);
    EXPECT_EQ(m_b->engine->GetDelayBufferCapacity(1), 2304u * 550 / 24);
    EXPECT_EQ(m_b->engine->GetConnectionType(), CONNTYPE_3);
    // The answerer buffers its own sending too, at the size of its reply.
    EXPECT_EQ(m_b->engine->GetDelayBufferCapacity(0), 2304u * 550 / 24);
    int a = -1, b = -1;
    m_b->engine->GetStatusPercentages(&a, &b);
    EXPECT_GE(a, 0);
    EXPECT_LE(a, 100);
    EXPECT_GE(b, 0);
    EXPECT_LE(b, 100);
    ExpectTone(*m_b->tone, *m_a->tone, 1);
}

}  // namespace

namespace {

// The far station runs in a child process that is killed mid-call, so its
// sockets go the way a crashed or killed program's do.
TEST_F(CallLoopbackTest, KilledFarEndEndsTheCallWithItsWinsockCode) {
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        char ok = (m_b->Start() && m_b->WaitState(16)) ? 1 : 0;
        if (write(ready[1], &ok, 1) != 1) _exit(2);
        for (;;) {
            m_b->Drain();
            Sleep(20);
        }
    }
    close(ready[1]);
    char ok = 0;
    ASSERT_EQ(read(ready[0], &ok, 1), 1);
    close(ready[0]);
    ASSERT_EQ(ok, 1);
    ASSERT_TRUE(m_a->Start());
    ASSERT_TRUE(m_a->WaitState(16));
    ASSERT_TRUE(m_a->engine->Connect(TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_MONO)));
    ASSERT_TRUE(m_a->WaitState(50));
    ASSERT_TRUE(m_a->WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 3000));
    ASSERT_TRUE(WaitPlayed(*m_a->tone, 300));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(m_a->WaitState(16, 12000)) << m_a->Dump();
    int code = 0;
    EXPECT_EQ(m_a->engine->TakeErrorCode(&code), 1);
    EXPECT_EQ(code, 10054);  // its connection was reset
    const std::vector<int> s = m_a->States();
    EXPECT_EQ(std::count(s.begin(), s.end(), 17), 0);
}

}  // namespace

namespace {

// B's last call used a fixed buffer; the next call it answers asks for a
// measured delay. B must measure with its caller, not start from its own
// last mode (the two would disagree and the call die after 8 s).
TEST_F(CallLoopbackTest, AnsweringAfterAFixedBufferCallMeasuresWithTheCaller) {
    ASSERT_TRUE(m_a->Start());
    ASSERT_TRUE(m_b->Start());
    ASSERT_TRUE(m_a->WaitState(16));
    ASSERT_TRUE(m_b->WaitState(16));
    PhonebookEntry fixed = TcpEntry(m_a->port, CODING_PCM, 48000, DEVICEMODE_MONO);
    fixed.connection.connectionType = CONNTYPE_3;
    fixed.connection.bufferingMode = BUFMODE_FIXED;
    fixed.connection.bufferMs = 500;
    ASSERT_TRUE(m_b->engine->Connect(fixed));
    ASSERT_TRUE(m_b->WaitState(50)) << m_b->Dump();
    ASSERT_TRUE(m_a->WaitState(50)) << m_a->Dump();
    ASSERT_TRUE(m_b->engine->Disconnect());
    ASSERT_TRUE(m_b->WaitState(16));
    ASSERT_TRUE(m_a->WaitState(16, 12000));
    m_a->log.clear();
    m_b->log.clear();
    m_a->tone->Clear();
    m_b->tone->Clear();

    PhonebookEntry measured = TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_MONO);
    measured.connection.connectionType = CONNTYPE_3;
    measured.connection.bufferingMode = BUFMODE_MEASURE_DELAY;
    ASSERT_TRUE(m_a->engine->Connect(measured));
    ASSERT_TRUE(m_b->WaitState(49)) << m_b->Dump();
    ASSERT_TRUE(m_a->WaitFor(WM_ENGINE_LOW_BANDWIDTH, 0, 12000)) << m_a->Dump();
    EXPECT_EQ(m_a->engine->GetDelayBufferTime(), 250);
    EXPECT_EQ(m_b->engine->GetDelayBufferTime(), 250);
    ASSERT_TRUE(m_a->engine->ContinueWithBandwidth());
    ASSERT_TRUE(m_a->WaitState(50));
    ASSERT_TRUE(m_b->WaitState(50)) << m_b->Dump();
    ASSERT_TRUE(m_b->WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 3000));
    ASSERT_TRUE(m_a->WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 3000));
    EXPECT_EQ(m_b->engine->GetDelayBufferCapacity(1), 2304u * 250 / 24);
    ASSERT_TRUE(WaitPlayed(*m_b->tone, 1500));
    ASSERT_TRUE(WaitPlayed(*m_a->tone, 1500));
    ExpectTone(*m_b->tone, *m_a->tone, 1);
    ExpectTone(*m_a->tone, *m_b->tone, 1);
    EXPECT_EQ(m_a->Count(WM_ENGINE_STATE, 16), 0) << m_a->Dump();
    ASSERT_TRUE(m_a->engine->Disconnect());
    ASSERT_TRUE(m_a->WaitState(16));
}

// Test again, the warning's second answer: the caller measures the link
// anew, the answerer follows, and the caller is asked again.
TEST_F(CallLoopbackTest, TestAgainMeasuresTheLinkAnewAndAsksAgain) {
    ASSERT_NO_FATAL_FAILURE(DialMeasuredPcmCall());
    ASSERT_TRUE(m_a->WaitFor(WM_ENGINE_LOW_BANDWIDTH, 0, 12000)) << m_a->Dump();
    ASSERT_TRUE(m_b->WaitState(49)) << m_b->Dump();
    m_a->log.clear();
    m_b->log.clear();
    ASSERT_TRUE(m_a->engine->TestBandwidthAgain());
    ASSERT_TRUE(m_a->WaitFor(WM_ENGINE_LOW_BANDWIDTH, 0, 20000)) << m_a->Dump() << m_b->Dump();
    EXPECT_EQ(m_a->Count(WM_ENGINE_STATE, 16), 0) << m_a->Dump();
    EXPECT_EQ(m_b->Count(WM_ENGINE_STATE, 16), 0) << m_b->Dump();
    ASSERT_TRUE(m_a->engine->ContinueWithBandwidth());
    ASSERT_TRUE(m_a->WaitState(50)) << m_a->Dump();
    ASSERT_TRUE(m_b->WaitState(50)) << m_b->Dump();
    ASSERT_TRUE(m_a->engine->Disconnect());
    ASSERT_TRUE(m_a->WaitState(16));
}

// A buffered call measures the link first: the delay there and back, then
// the filler rates each way; the caller is asked, continues, and both sides
// size their delay buffers from the measured delay.
TEST_F(CallLoopbackTest, BufferedCallMeasuresDelayAndBandwidthThenContinues) {
    ASSERT_NO_FATAL_FAILURE(DialMeasuredPcmCall());
    ASSERT_TRUE(m_a->WaitState(49)) << m_a->Dump();
    ASSERT_TRUE(m_a->WaitFor(WM_ENGINE_REMOTE_IDENTITY, 0, 3000));
    ASSERT_TRUE(m_a->WaitFor(WM_ENGINE_LOW_BANDWIDTH, 0, 12000)) << m_a->Dump();
    int receive = -1, send = -1;
    m_a->engine->GetBandwidth(&receive, &send);
    // Loopback carries whatever the check offers: a full filler chunk per
    // 20 ms cycle each way, so both directions read well above 1 Mbit/s -
    // the answerer's sending included.
    EXPECT_GT(send, 1000000);
    EXPECT_GT(receive, 1000000);
    int bReceive = -1, bSend = -1;
    m_b->engine->GetBandwidth(&bReceive, &bSend);
    EXPECT_GT(bSend, 1000000);
    EXPECT_GT(bReceive, 1000000);
    EXPECT_EQ(m_b->Count(WM_ENGINE_LOW_BANDWIDTH), 0);  // the answerer reports nothing
    StationIdentity peer;
    m_a->engine->GetRemoteIdentity(&peer);
    EXPECT_STREQ(peer.stationName, "Studio B");
    EXPECT_EQ(peer.versionNumber, kStationVersionNumber);
    // On loopback the delay is tiny: the floor of 250 ms applies on both sides.
    EXPECT_EQ(m_a->engine->GetDelayBufferTime(), 250);
    EXPECT_EQ(m_b->engine->GetDelayBufferTime(), 250);
    ASSERT_TRUE(m_a->engine->ContinueWithBandwidth());
    ASSERT_TRUE(m_a->WaitState(50));
    ASSERT_TRUE(m_b->WaitState(50));
    ASSERT_TRUE(m_b->WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 3000));
    EXPECT_EQ(m_a->engine->GetDelayBufferCapacity(0), 2304u * 250 / 24);
    EXPECT_EQ(m_b->engine->GetDelayBufferCapacity(1), 2304u * 250 / 24);
    ASSERT_TRUE(m_a->engine->Disconnect());
    ASSERT_TRUE(m_a->WaitState(16));
}

}  // namespace

namespace {

// The answerer's playback cannot open: the call ends there with the audio
// engine's text for the main window, and the caller is let go too.
TEST_F(CallLoopbackTest, FailedPlaybackEndsTheCallWithTheDeviceText) {
    m_b->tone->failReceiveFormat.store(1);
    ASSERT_TRUE(m_a->Start());
    ASSERT_TRUE(m_b->Start());
    ASSERT_TRUE(m_a->WaitState(16));
    ASSERT_TRUE(m_b->WaitState(16));
    ASSERT_TRUE(m_a->engine->Connect(TcpEntry(m_b->port, CODING_PCM, 48000, DEVICEMODE_MONO)));
    ASSERT_TRUE(m_b->WaitState(49));
    ASSERT_TRUE(m_b->WaitState(16)) << m_b->Dump();
    char text[200];
    ASSERT_EQ(m_b->engine->TakeErrorText(text, sizeof text), 1);
    EXPECT_STREQ(text, "Output device error: test");
    EXPECT_EQ(m_b->engine->TakeErrorText(text, sizeof text), 0);
    EXPECT_STREQ(text, "");
    ASSERT_TRUE(m_a->WaitState(16, 12000)) << m_a->Dump();
}

}  // namespace
