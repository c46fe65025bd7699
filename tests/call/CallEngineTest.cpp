// The call engine's mailbox, its refusals, its identity and what it does with
// a peer whose format it cannot carry.
#include "call/CallEngine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "CallHarness.h"
#include "common/RegistryKey.h"
#include "net/TcpTransport.h"
#include "platform/Clock.h"

namespace {

// Waits (generously) for the worker's state report to reach the window.
bool WorkerReported(CMessageSink& sink) {
    MSG m;
    while (sink.Wait(m, 10000)) {
        if (m.message == WM_ENGINE_STATE) return true;
    }
    return false;
}

struct CallEngineTest : ::testing::Test {
    CallEngineTest() : m_settings(m_dir.File("station.ini")) {
        setenv("VELMORA_REGISTRY_FILE", m_dir.File("registry").c_str(), 1);
        m_settings.WriteInt("TCP", "AnswerAcceptCalls", 0);
        m_settings.WriteInt("TCP", "PortNumber", TestPort(0));
    }
    std::unique_ptr<CCallEngine> MakeEngine() {
        return std::make_unique<CCallEngine>(CToneAudio::Factory(m_tone), m_settings);
    }
    CTempDir m_dir;
    CSettings m_settings;
    std::shared_ptr<CToneStation> m_tone = std::make_shared<CToneStation>();
};

TEST_F(CallEngineTest, BusySlotFailsAfterTwoSeconds) {
    CSimClock clock(1000);
    auto engine = MakeEngine();  // no worker takes anything
    EXPECT_EQ(engine->PostCommand(ENGINE_CMD_REPORT_STATE), 1);
    EXPECT_EQ(clock.NowMs(), 1000u);
    EXPECT_EQ(engine->Disconnect(), 0);
    EXPECT_GE(clock.NowMs(), 3000u);
    EXPECT_LT(clock.NowMs(), 3100u);
}

TEST_F(CallEngineTest, StoppedWorkerRefusesAtOnce) {
    CSimClock clock(5000);
    auto engine = MakeEngine();
    ASSERT_EQ(engine->Start("Velmora", 1), 1);
    EXPECT_EQ(engine->StopWorker(), 1);
    EXPECT_EQ(engine->PostCommand(ENGINE_CMD_REPORT_STATE), 1);  // an empty slot still takes it
    const uint32_t before = clock.NowMs();
    EXPECT_EQ(engine->PostCommand(ENGINE_CMD_REPORT_STATE), 0);
    EXPECT_EQ(clock.NowMs(), before);
}

TEST_F(CallEngineTest, StartNeedsAnAudioEngineAndAName) {
    CCallEngine noAudio(CallAudioFactory{}, m_settings);
    EXPECT_EQ(noAudio.Start("Velmora", 1), 0);
    m_tone->failInit.store(1);
    EXPECT_EQ(MakeEngine()->Start("Velmora", 1), 0);
    m_tone->failInit.store(0);
    auto engine = MakeEngine();
    EXPECT_EQ(engine->Start("", 1), 0);
    EXPECT_EQ(engine->Connect(TcpEntry(TestPort(1), CODING_PCM, 48000, 10)), 0);  // not started
}

TEST_F(CallEngineTest, CommandsOutsideTheirStateOnlyEmptyTheSlot) {
    CSimClock clock(100);
    auto engine = MakeEngine();
    ASSERT_EQ(engine->Prepare("Velmora", 1), 1);
    engine->Pass();
    EXPECT_EQ(engine->GetCallState(), CALL_IDLE);
    for (int code : {+ENGINE_CMD_CONTINUE, +ENGINE_CMD_TEST_AGAIN, +ENGINE_CMD_CLIP_PAUSE, +ENGINE_CMD_CLIP_STOP, 999}) {
        ASSERT_EQ(engine->PostCommand(code), 1);
        engine->Pass();
        EXPECT_EQ(engine->GetCallState(), CALL_IDLE) << code;
    }
    const uint32_t before = clock.NowMs();
    EXPECT_EQ(engine->PostCommand(ENGINE_CMD_REPORT_STATE), 1);
    EXPECT_EQ(clock.NowMs(), before);  // the slot was empty
    EXPECT_EQ(engine->IsConnectionActive(), 0);
}

TEST_F(CallEngineTest, ConnectRefusesWhatCannotBeCalled) {
    CSimClock clock(100);
    auto engine = MakeEngine();
    ASSERT_EQ(engine->Prepare("Velmora", 0), 1);
    PhonebookEntry isdn = TcpEntry(TestPort(1), CODING_G711_ALAW, 8000, 10);
    isdn.connection.kind = TRANSPORT_ISDN;
    EXPECT_EQ(engine->Connect(isdn), 0);
    EXPECT_EQ(engine->Connect(TcpEntry(TestPort(1), CODING_PCM, 0, 10)), 0);  // no sample rate
    PhonebookEntry huge = TcpEntry(TestPort(1), CODING_PCM, 48000, 20);
    huge.format.frameBytes = 8000;  // more than a pass can carry
    EXPECT_EQ(engine->Connect(huge), 0);
    for (int port : {0, 65536, -1}) EXPECT_EQ(engine->Connect(TcpEntry(port, CODING_PCM, 48000, 20)), 0) << port;
    PhonebookEntry nowhere = TcpEntry(TestPort(1), CODING_PCM, 48000, 20);
    std::memset(nowhere.connection.address, 0, sizeof nowhere.connection.address);
    EXPECT_EQ(engine->Connect(nowhere), 0);
    // Nothing was posted: the slot takes the next code at once.
    const uint32_t before = clock.NowMs();
    EXPECT_EQ(engine->PostCommand(ENGINE_CMD_REPORT_STATE), 1);
    EXPECT_EQ(clock.NowMs(), before);
}

TEST_F(CallEngineTest, IdentityFromRegistryWhenNoIdStringIsSet) {
    {
        CRegistryKey key;
        ASSERT_EQ(key.Create(CCallEngine::kRegistryPath), 1);
        key.SetString("Name", "Studio Nord", 12);
        key.SetDword("Version", 66000);
    }
    auto engine = MakeEngine();
    ASSERT_EQ(engine->Prepare("Velmora", 1), 1);
    const StationIdentity& id = engine->GetLocalIdentity();
    EXPECT_STREQ(id.stationName, "Studio Nord");
    EXPECT_STREQ(id.productName, "Velmora");
    EXPECT_STREQ(id.editionName, "Transvoria");
    EXPECT_STREQ(id.versionText, "V1.5b  ");
    EXPECT_STREQ(id.buildDate, "20-Jan-2010");
    EXPECT_EQ(id.size, 124u);
    EXPECT_EQ(id.versionNumber, 66818u);
    EXPECT_EQ(m_settings.GetMainIDString(), "Studio Nord");
    CRegistryKey key;
    ASSERT_EQ(key.Open(CCallEngine::kRegistryPath, true), 1);
    EXPECT_EQ(key.QueryDword("Version"), 66818u);
}

TEST_F(CallEngineTest, IdStringWinsOverTheRegistryName) {
    {
        CRegistryKey key;
        ASSERT_EQ(key.Create(CCallEngine::kRegistryPath), 1);
        key.SetString("Name", "Registry Name", 14);
    }
    m_settings.WriteString("Main", "IDString", "Studio Sued");
    auto engine = MakeEngine();
    ASSERT_EQ(engine->Prepare("Velmora", 1), 1);
    EXPECT_STREQ(engine->GetLocalIdentity().stationName, "Studio Sued");
}

// A peer announcing a frame larger than a pass can carry is refused with a
// reason, and no decoder is opened for it.
TEST_F(CallEngineTest, PeerFormatWhoseFrameDoesNotFitIsRefused) {
    m_settings.WriteInt("TCP", "AnswerAcceptCalls", 1);
    CMessageSink sink;
    auto engine = MakeEngine();
    ASSERT_EQ(engine->Start("Velmora", 1), 1);
    ASSERT_EQ(engine->SetMainWindow(sink.Handle()), 1);
    ASSERT_TRUE(WorkerReported(sink));

    CTcpTransport peer;
    ASSERT_EQ(peer.Init(10240, 4, "", 1080), 1);
    ASSERT_EQ(peer.Open(), 1);
    ASSERT_EQ(peer.Connect("127.0.0.1", TestPort(0), 0), 1);
    uint32_t start = timeGetTime();
    while ((peer.GetState() & 0xF0) != 48 && timeGetTime() - start < 3000) {
        peer.Poll();
        Sleep(5);
    }
    ASSERT_EQ(peer.GetState() & 0xF0, 48);
    AudioFormat f;
    f.codingType = CODING_PCM;
    f.sampleRate = 48000;
    f.deviceMode = DEVICEMODE_STEREO;
    f.bitRate = 1536000;
    f.frameBytes = 8000;
    peer.SetSendFormat(&f);
    static uint8_t audio[8000];
    start = timeGetTime();
    bool sawChecking = false, backToIdle = false;
    while (!backToIdle && timeGetTime() - start < 5000) {
        peer.WriteAudio(audio, sizeof audio);
        peer.Poll();
        MSG m;
        while (sink.Take(m)) {
            if (m.message == WM_ENGINE_STATE && m.wParam == CALL_CHECKING) sawChecking = true;
            if (m.message == WM_ENGINE_STATE && m.wParam == CALL_IDLE && sawChecking) backToIdle = true;
        }
        Sleep(10);
    }
    EXPECT_TRUE(sawChecking);
    EXPECT_TRUE(backToIdle);
    char text[200];
    ASSERT_EQ(engine->TakeErrorText(text, sizeof text), 1);
    EXPECT_NE(std::strstr(text, "8000 bytes"), nullptr) << text;
    EXPECT_EQ(m_tone->decoderOpens.load(), 0);
}

}  // namespace

namespace {

// Connects a bare transport to the port; its state code & 0xF0 after trying.
int TryCall(int port) {
    CTcpTransport peer;
    if (!peer.Init(10240, 4, "", 1080) || !peer.Open() || !peer.Connect("127.0.0.1", port, 0)) return -1;
    const uint32_t start = timeGetTime();
    while (timeGetTime() - start < 3000) {
        peer.Poll();
        const int s = peer.GetState() & 0xF0;
        if (s != 32) return s;
        Sleep(5);
    }
    return 32;
}

TEST_F(CallEngineTest, SuspendedLinkTakesNoCallsUntilResumed) {
    m_settings.WriteInt("TCP", "AnswerAcceptCalls", 1);
    CMessageSink sink;
    auto engine = MakeEngine();
    ASSERT_EQ(engine->Start("Velmora", 1), 1);
    ASSERT_EQ(engine->SetMainWindow(sink.Handle()), 1);
    ASSERT_TRUE(WorkerReported(sink));
    // The worker takes commands in order: once it reports after the idle
    // command, that command is done.
    ASSERT_EQ(engine->SetIdle(1), 1);
    ASSERT_EQ(engine->PostCommand(ENGINE_CMD_REPORT_STATE), 1);
    ASSERT_TRUE(WorkerReported(sink));
    EXPECT_EQ(TryCall(TestPort(0)), 16);  // refused: nobody listens
    ASSERT_EQ(engine->SetIdle(0), 1);
    ASSERT_EQ(engine->PostCommand(ENGINE_CMD_REPORT_STATE), 1);
    ASSERT_TRUE(WorkerReported(sink));
    EXPECT_EQ(TryCall(TestPort(0)), 48);
}

}  // namespace

namespace {

// A library clip without a connection: play, pause, resume, stop, and the
// end of the clip, each a state of its own.
TEST_F(CallEngineTest, LocalClipStatesFollowTheCommands) {
    CSimClock clock(100);
    auto engine = MakeEngine();
    ASSERT_EQ(engine->Prepare("Velmora", 1), 1);
    engine->Pass();
    ASSERT_EQ(engine->GetCallState(), CALL_IDLE);
    auto run = [&](int (CCallEngine::*op)()) {
        ASSERT_EQ(((*engine).*op)(), 1);
        engine->Pass();
    };
    run(&CCallEngine::PlayClip);
    EXPECT_EQ(engine->GetCallState(), CALL_IDLE);  // nothing loaded yet
    ASSERT_EQ(engine->LoadClip("/clips/0001 Jingle.mpcm"), 1);
    engine->Pass();
    EXPECT_EQ(m_tone->clipLoaded, "/clips/0001 Jingle.mpcm");
    run(&CCallEngine::PlayClip);
    EXPECT_EQ(engine->GetCallState(), CALL_CLIP_PLAYING);
    run(&CCallEngine::PauseClip);
    EXPECT_EQ(engine->GetCallState(), CALL_CLIP_PAUSED);
    run(&CCallEngine::PlayClip);  // play on a paused clip resumes it
    EXPECT_EQ(engine->GetCallState(), CALL_CLIP_PLAYING);
    int played = 0, length = 0;
    engine->GetClipPosition(&played, &length);
    EXPECT_GT(played, 0);
    EXPECT_EQ(length, 1000);
    run(&CCallEngine::StopClip);
    EXPECT_EQ(engine->GetCallState(), CALL_IDLE);
    // A clip that ends by itself returns the engine to idle.
    m_tone->clipFinishAfter.store(3);
    run(&CCallEngine::PlayClip);
    EXPECT_EQ(engine->GetCallState(), CALL_CLIP_PLAYING);
    for (int i = 0; i < 3; ++i) engine->Pass();
    EXPECT_EQ(engine->GetCallState(), CALL_IDLE);
}

}  // namespace
