// A level change made with amixer on the input line reaches the main
// window's handler: ALSA's event, the mixer's watcher, a posted message on
// the window's queue, and the handler that shows the new level.
#include <gtest/gtest.h>

#include <string>

#include "audio/MixerControl.h"
#include "common/Translator.h"
#include "QuietMainView.h"
#include "platform/MessageSink.h"
#include "support/PulseServer.h"
#include "support/TempDir.h"
#include "ui/MainDlgLogic.h"

namespace {

struct LevelView : CQuietMainView {
    LevelView() : CQuietMainView(kBandwidthContinue) {}
    int level = -1;
    void PageSetInputLevel(int value) override { level = value; }
};

int WaveInId(const char* name) {
    for (UINT i = 0; i < waveInGetNumDevs(); ++i) {
        WAVEINCAPSA caps;
        if (waveInGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR && std::string(caps.szPname) == name)
            return static_cast<int>(i);
    }
    return -1;
}

TEST(MainDlgMixerTest, AmixerLevelChangeReachesTheHandler) {
    int code = -1;
    RunCommand("command -v pulseaudio amixer > /dev/null 2>&1", &code);
    if (code != 0) GTEST_SKIP() << "pulseaudio or amixer missing (tools/setup-debian.sh installs them)";
    CTempDir dir;
    CPulseServer server;
    ASSERT_TRUE(server.Start(dir.Path().string())) << server.Log();
    const int id = WaveInId("pulse");
    if (id < 0) GTEST_SKIP() << "ALSA lists no pulse device (libasound2-plugins)";

    CMessageSink window;  // the main window's queue
    CMixerControl mixer;
    ASSERT_EQ(mixer.Open(id, 1, window.Handle()), 1);
    int line = -1;
    char name[40] = {};
    for (int i = 0; i < mixer.GetLineCount(); ++i)
        if (mixer.GetLineInfo(i, &line, name, kMixerVolume) && std::string(name) == "Capture") break;
    ASSERT_STREQ(name, "Capture");
    CIdleEngine engine;
    CTranslator translator;
    LevelView view;
    CMainDlgLogic logic(engine, translator, view);
    logic.SetMixer(&mixer, mixer.GetControlId(line, kMixerVolume));

    RunCommand("amixer -D pulse sset Capture 40% > /dev/null", &code);
    ASSERT_EQ(code, 0);
    // The GUI thread's loop: every message goes to the handler, until the level shows.
    MSG msg;
    while (view.level != 26214 && window.Wait(msg, 10000)) {
        LRESULT result = 0;
        EXPECT_TRUE(logic.HandleMessage(msg.message, msg.wParam, msg.lParam, result));
    }
    EXPECT_EQ(view.level, 26214);  // 40 % of 65536
    logic.SetMixer(nullptr, -1);
}

}  // namespace
