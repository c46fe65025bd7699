// Two real stations under Xvfb call each other through the simulated ISDN
// exchange, driven through their remote-control ports by a control
// application: G.711 both ways in A-law and mu-law with the tones checked,
// hang-up from either side, and busy, unanswered and unknown numbers. The
// test starts and stops the exchange itself.
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

namespace fs = std::filesystem;

namespace {

std::string StationIni(int ripPort, int controller, const char* msn, int accept, const char* name) {
    return "[ARIP]\nPortNumber=" + std::to_string(ripPort) +
           "\n[TCP]\nAnswerAcceptCalls=0\n[ISDN]\nG711Type=2\nController=" + std::to_string(controller) +
           "\nMSN-0=" + msn + "\nAnswerAcceptCalls=" + std::to_string(accept) +
           "\n[Main]\nNoSplash=1\nFastCPU=1\nIDString=" + name + "\n[Audio]\nInterface=1\n";
}

}  // namespace

TEST(IsdnCallTest, TwoStationsCallThroughTheExchange) {
    CXDisplay x;
    if (!x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";

    const int base = 33000 + (getpid() % 3000) * 10;
    const fs::path root = fs::temp_directory_path() / ("velmora_isdn_" + std::to_string(getpid()));
    const fs::path a = root / "a", b = root / "b", capture = root / "capture";
    fs::create_directories(a);
    fs::create_directories(b);
    fs::create_directories(capture);
    // Station B's own number is 12: it takes 3412 and leaves 3413 ringing.
    std::ofstream(root / "exchange.conf") << "controller 1 2 3411\ncontroller 2 2 3412 3413\nnoanswer 1500\n";
    std::ofstream(a / "Velmora.Ini") << StationIni(base, 0, "3411", 0, "Studio A");
    std::ofstream(b / "Velmora.Ini") << StationIni(base + 1, 1, "12", 1, "Studio B");
    const pid_t exchange = StartExchangeIn(root, {"--trace", (root / "trace.txt").string(), "--capture", capture.string()});
    ASSERT_GT(exchange, 0) << "the exchange never came up";
    const pid_t stationA = StartIsdnStation(root, a, "Virtual A", 1000);
    const pid_t stationB = StartIsdnStation(root, b, "Virtual B", 440);

    const std::string cmd = std::string("python3 '") + source + "/tests/app/rip_isdn_calls.py' " +
                            std::to_string(base) + " " + std::to_string(base + 1) + " '" +
                            (root / "exchange.sock").string() + "' '" + root.string() + "'";
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
