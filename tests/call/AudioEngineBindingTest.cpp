// The binding forwards every seam call to a class shaped like the audio
// engine (const accessors, void setters), and the call engine starts on it.
#include "call/AudioEngineBinding.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "CallHarness.h"

namespace {

struct CShapedEngine {
    static inline int s_inits = 0;
    int calls = 0;
    int Init(int startFlag) { return ++s_inits, startFlag == 1 ? 1 : 0; }
    int GetLastError(std::string& out) const { return out = "shaped", 1; }
    void ReloadDeviceSettings() { ++calls; }
    int StartAsio() { return 1; }
    void SetSendFormat(const AudioFormat*) { ++calls; }
    int OpenEncoder() { return 1; }
    void CloseEncoder() { ++calls; }
    int ChangeSendFormat(const AudioFormat*) { return 1; }
    int SetReceiveFormat(const AudioFormat*, int* changed) { return *changed = 1, 1; }
    void CloseDecoder() { ++calls; }
    void EncodeCapture() { ++calls; }
    void ProcessPlayback() { ++calls; }
    int GetSendFill() const { return 7; }
    int GetSendData(uint8_t*, int n) { return n; }
    int GetReceiveSpace() const { return 9; }
    int PutReceiveData(const uint8_t*, int) { return 1; }
    void FlushCapture() { ++calls; }
    int StretchCapture() { return 0; }
    void SetDeviceBuffering(int, int, int) { ++calls; }
    void SetOutputMute(int) { ++calls; }
    void PauseOutput(int) { ++calls; }
    void GetLevels(int side, int* l, int* r) { *l = *r = side ? 100 : 200; }
    void SetPlayLevel(int) { ++calls; }
    int SetClipGain(int level) { return level < 0 ? -level : level; }
    void SetMicOn(int) { ++calls; }
    int LoadClip(const char*) { return 1; }
    int StartClip() { return 1; }
    int PauseClip() { return 1; }
    int ResumeClip() { return 1; }
    int StopClip() { return 1; }
    int GetClipPosition(int* played, int* length) { return *played = 1, *length = 2, 0; }
};

TEST(AudioEngineBindingTest, ForwardsToTheEngine) {
    CAudioEngineBinding<CShapedEngine> b;
    EXPECT_EQ(b.Init(1), 1);
    std::string text;
    EXPECT_EQ(b.GetLastError(text), 1);
    EXPECT_EQ(text, "shaped");
    EXPECT_EQ(b.GetSendFill(), 7);
    EXPECT_EQ(b.GetReceiveSpace(), 9);
    int changed = 0, l = 0, r = 0, played = 0, length = 0;
    EXPECT_EQ(b.SetReceiveFormat(nullptr, &changed), 1);
    EXPECT_EQ(changed, 1);
    b.GetLevels(1, &l, &r);
    EXPECT_EQ(l, 100);
    EXPECT_EQ(b.SetClipGain(-12), 12);
    EXPECT_EQ(b.GetClipPosition(&played, &length), 0);
    EXPECT_EQ(length, 2);
    b.EncodeCapture();
    b.SetMicOn(1);
    EXPECT_EQ(b.Get().calls, 2);
}

TEST(AudioEngineBindingTest, CallEngineStartsOnABoundEngine) {
    CTempDir dir;
    setenv("VELMORA_REGISTRY_FILE", dir.File("registry").c_str(), 1);
    CSettings settings(dir.File("station.ini"));
    settings.WriteInt("TCP", "AnswerAcceptCalls", 0);
    CShapedEngine::s_inits = 0;
    CCallEngine engine(CAudioEngineBinding<CShapedEngine>::Factory(), settings);
    EXPECT_EQ(engine.Start("Velmora", 1), 1);
    EXPECT_EQ(CShapedEngine::s_inits, 1);
    EXPECT_EQ(engine.StopWorker(), 1);
}

}  // namespace
