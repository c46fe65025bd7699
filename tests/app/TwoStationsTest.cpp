// Two real stations under Xvfb, each with a virtual sound device: a control
// application asks the first, through its remote-control port, to call the
// second over TCP, follows the reports and hangs up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "XDisplay.h"

namespace fs = std::filesystem;

namespace {

pid_t StartStation(const fs::path& dir, const std::string& device) {
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) _exit(97);
        setenv("VELMORA_VIRTUAL_AUDIO", device.c_str(), 1);
        setenv("VELMORA_REGISTRY_FILE", (dir / "registry").c_str(), 1);
        setenv("VELMORA_MESSAGEBOX_TIMEOUT_MS", "3000", 1);
        setenv("LSAN_OPTIONS", "suppressions=" VELMORA_SOURCE_DIR "/tools/lsan-suppressions.txt", 1);
        execl(VELMORA_PROGRAM, VELMORA_PROGRAM, static_cast<char*>(nullptr));
        _exit(96);
    }
    return child;
}

void Stop(pid_t child) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

}  // namespace

TEST(TwoStationsTest, ControlApplicationCallsTheSecondStationAndHangsUp) {
    CXDisplay x;
    if (!x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";

    const int base = 30000 + (getpid() % 3000) * 10;
    const int ripPort = base, portA = base + 1, portB = base + 2;
    const fs::path root = fs::temp_directory_path() / ("velmora_two_" + std::to_string(getpid()));
    const fs::path a = root / "a", b = root / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    std::ofstream(a / "Velmora.Ini") << "[ARIP]\nPortNumber=" << ripPort << "\n[TCP]\nPortNumber=" << portA
                                     << "\n[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio A\n[Audio]\nInterface=1\n";
    std::ofstream(b / "Velmora.Ini") << "[TCP]\nPortNumber=" << portB
                                     << "\nAnswerAcceptCalls=1\nAnswerSameSettings=1\n"
                                        "[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio B\n[Audio]\nInterface=1\n";
    const pid_t stationA = StartStation(a, "Virtual A,tone=1000");
    const pid_t stationB = StartStation(b, "Virtual B,tone=440");

    const std::string cmd = std::string("python3 '") + source + "/tests/app/rip_two_stations.py' " +
                            std::to_string(ripPort) + " " + std::to_string(portB);
    const int status = std::system(cmd.c_str());
    Stop(stationA);
    Stop(stationB);
    EXPECT_FALSE(fs::exists(a / "ERRORLOG.TXT"));
    EXPECT_FALSE(fs::exists(b / "ERRORLOG.TXT"));
    fs::remove_all(root);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
