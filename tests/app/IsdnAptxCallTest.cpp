// Two real stations under Xvfb call each other through the simulated ISDN
// exchange with standard and enhanced apt-X at 64 and 128 kbit/s, driven
// through their remote-control ports by a control application: each hears
// the other's tone (SNR and level printed), also with the two channels of a
// call delayed against each other mid-call. The test starts and stops the
// exchange itself.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "StationProcess.h"
#include "XDisplay.h"
#include "support/FreePorts.h"

namespace fs = std::filesystem;

namespace {

std::string StationIni(int ripPort, int controller, const char* msn0, int accept, const char* name) {
    return "[ARIP]\nPortNumber=" + std::to_string(ripPort) +
           "\n[TCP]\nAnswerAcceptCalls=0\n[ISDN]\nController=" + std::to_string(controller) + "\nMSN-0=" + msn0 +
           "\nMSN-1=\nDialDelay=200\nAnswerAcceptCalls=" + std::to_string(accept) +
           "\n[Main]\nNoSplash=1\nFastCPU=1\nIDString=" + name + "\n[Audio]\nInterface=1\n";
}

// The control application's rows (rip_isdn_aptx_calls.py) in sets that run
// side by side, each with an exchange and two stations of its own.
struct IsdnAptxCallTest : ::testing::TestWithParam<const char*> {};

}  // namespace

// Under load a starved sender leaves idle fill on one channel and not the
// other (the exchange counts its underruns); the receiver leaves the fill out,
// so the tone plays on at its level.
// In the race-checked build with the three rows side by side at a load of 45
// neither station opened its control port within the control script's 60 s.
TEST_P(IsdnAptxCallTest, StationsCallWithAptxThroughTheExchange) {
    if (!kPlainBuild) GTEST_SKIP() << kPlainBuildOnly;
    CXDisplay x;
    if (!x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";

    const fs::path root = fs::temp_directory_path() / ("velmora_isdn_aptx_" + std::to_string(getpid()));
    const fs::path a = root / "a", b = root / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    // B's first channel takes 3412, its second (no number of its own) 3413.
    std::ofstream(root / "exchange.conf") << "controller 1 2 3411\ncontroller 2 2 3412 3413\n";
    std::ofstream(a / "Velmora.Ini") << StationIni(FreeTestPort(0), 0, "3411", 0, "Studio A");
    std::ofstream(b / "Velmora.Ini") << StationIni(FreeTestPort(1), 1, "3412", 1, "Studio B");
    const pid_t exchange = StartExchangeIn(root);
    ASSERT_GT(exchange, 0) << "the exchange never came up";
    const pid_t stationA = StartIsdnStation(root, a, "Virtual A", 1000);
    const pid_t stationB = StartIsdnStation(root, b, "Virtual B", 440);

    const std::string cmd = std::string("APTX_ROWS=") + GetParam() + " PYTHONPATH='" + source + "/tests/app' python3 '" + source +
                            "/tests/app/rip_isdn_aptx_calls.py' " + std::to_string(FreeTestPort(0)) + " " +
                            std::to_string(FreeTestPort(1)) + " '" + (root / "exchange.sock").string() + "' '" +
                            root.string() + "'";
    const int status = std::system(cmd.c_str());
    StopChild(stationA, SIGKILL);
    StopChild(stationB, SIGKILL);
    StopChild(exchange, SIGTERM);
    EXPECT_FALSE(fs::exists(a / "ERRORLOG.TXT"));
    EXPECT_FALSE(fs::exists(b / "ERRORLOG.TXT"));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    if (!HasFailure()) fs::remove_all(root);
}

// One channel of each kind; two channels in step; two channels apart.
INSTANTIATE_TEST_SUITE_P(Rows, IsdnAptxCallTest, ::testing::Values("0,1", "2,3", "4,5"),
                         [](const ::testing::TestParamInfo<const char*>& i) {
                             return std::string(i.index == 0 ? "OneChannel" : i.index == 1 ? "TwoChannels" : "TwoChannelsApart");
                         });
