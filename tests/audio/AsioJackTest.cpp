// The ASIO device on the JACK driver, with a JACK server of the test's own:
// ports appear for the chosen channels, the server's period is the block,
// and a sine played into the input ports is read back at its level.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "audio/AsioDevice.h"
#include "common/Records.h"
#include "support/JackServer.h"
#include "support/JackTonePlayer.h"
#include "support/TempDir.h"
#include "tests/audio/ToneAnalysis.h"

namespace {

bool HaveTools() {
    int code = -1;
    RunCommand("command -v jackd jack_lsp jack_wait > /dev/null 2>&1", &code);
    return code == 0;
}

int SelectJack(CAsioDevice& d, int firstInput, int firstOutput) {
    d.EnumerateDrivers();
    for (int i = 0; i < d.GetDriverCount(); ++i) {
        char text[32];
        if (d.GetDriverName(i, text, sizeof text) && std::string(text) == "JACK") {
            d.SelectDriver(i, firstInput, firstOutput);
            return i;
        }
    }
    return -1;
}

TEST(AsioJackTest, WithoutAServerTheOpenFailsWithTheDriversText) {
    CTempDir dir;
    setenv("VELMORA_REGISTRY_FILE", dir.File("registry").c_str(), 1);
    setenv("JACK_DEFAULT_SERVER", ("velmora-none-" + std::to_string(getpid())).c_str(), 1);
    CAsioDevice d;
    ASSERT_GE(SelectJack(d, 0, 0), 0);
    EXPECT_EQ(d.Open(nullptr, 0), 0);
    EXPECT_STREQ(d.GetErrorText(), "ASIO driver init failed - you may wish to reinstall the driver\n");
    unsetenv("JACK_DEFAULT_SERVER");
}

TEST(AsioJackTest, PortsAppearAndAToneComesInAtItsLevel) {
    if (!HaveTools()) GTEST_SKIP() << "jackd, jack_lsp or jack_wait missing (tools/setup-debian.sh installs them)";
    CTempDir dir;
    setenv("VELMORA_REGISTRY_FILE", dir.File("registry").c_str(), 1);
    CJackServer jack;
    ASSERT_TRUE(jack.Start(dir.File("jackd.log"), 1024)) << jack.Log();

    CAsioDevice d;
    ASSERT_GE(SelectJack(d, 2, 4), 0);  // inputs 3 and 4, outputs 5 and 6
    ASSERT_EQ(d.Open(nullptr, 0), 1) << d.GetErrorText();
    EXPECT_EQ(d.GetBlockSamples(), 1024);  // the server's period, whatever the setting
    EXPECT_EQ(d.GetChannelCount(1), 8);
    char name[8];
    ASSERT_EQ(d.GetChannelName(2, 1, name, sizeof name), 1);
    EXPECT_STREQ(name, "In 3");
    ASSERT_EQ(d.Start(), 1) << d.GetErrorText();
    const std::string ports = jack.Ports();
    for (const char* port : {"Velmora:in_3", "Velmora:in_4", "Velmora:out_5", "Velmora:out_6"})
        EXPECT_NE(ports.find(port), std::string::npos) << port << " not in:\n" << ports;
    EXPECT_EQ(ports.find("Velmora:in_1"), std::string::npos);

    d.SetCaptureMode(10);
    d.SetCaptureFormat(CODING_PCM, 48000, DEVICEMODE_STEREO);
    // Half full scale: in 16-bit samples, a peak of 16384. The tone plays
    // until the test stops it, however late the reading below starts.
    const double sent = 0.5 * 32768;
    CJackTonePlayer player;
    ASSERT_TRUE(player.Start({"Velmora:in_3", "Velmora:in_4"}, 1000.0, 0.5)) << player.Error() << jack.Log();
    // Reads what arrives until half a second of it carries the tone in at
    // least 45 of its 50 windows of 10 ms (or 60 s pass). A loaded machine
    // may make the server skip a period now and then.
    std::vector<int16_t> got;
    std::vector<int16_t> buf(8192);
    int clean = 0;
    double level = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < end && clean < 45) {
        d.ServiceCapture();
        const int n = d.Read(buf.data(), 8192);
        got.insert(got.end(), buf.begin(), buf.begin() + n / 2);
        if (n > 0 && got.size() >= 2 * 24000) {
            clean = 0;
            level = 0;
            for (int w = 0; w < 50; ++w) {
                const size_t at = got.size() / 2 - 24000 + static_cast<size_t>(w) * 480;
                const ToneFit fit = FitTone(got.data(), at, 480, 2, w % 2, 1000.0, 48000.0);
                level += fit.amplitude / 50;
                if (std::fabs(Db(fit.amplitude / sent)) < 0.2 && Db(fit.residualRms / fit.amplitude) < -30) ++clean;
            }
        }
        if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the next period
    }
    EXPECT_GE(clean, 45) << "mean level " << level << " of " << sent << "\n" << jack.Log();
    int l = 0, r = 0;
    d.GetCaptureLevels(&l, &r);
    EXPECT_NEAR(l, sent, 0.03 * sent);
    player.Stop();
    EXPECT_EQ(d.Stop(), 1);
    d.Close();
    EXPECT_EQ(jack.Ports().find("Velmora:"), std::string::npos);
}

}  // namespace
