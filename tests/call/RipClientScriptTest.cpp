// Runs the independent Python control application against a server whose
// main window behaves like the real one: a make-connection request is
// answered with the states and reports of a call, a stop with idle.
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "call/RIP.h"
#include "common/MainWindowMessages.h"
#include "platform/MessageSink.h"

namespace fs = std::filesystem;

TEST(RipClientScriptTest, PythonClientRunsAWholeSession) {
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";
    const fs::path dir = fs::temp_directory_path() / ("ripscript-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const fs::path oldDir = fs::current_path();
    fs::current_path(dir);
    setenv("VELMORA_SETTINGS_FILE", (dir / "Velmora.Ini").c_str(), 1);
    std::ofstream(dir / "Velmora.Ini") << "[TCP]\nAnswerAcceptCalls=1\n[ISDN]\nAnswerAcceptCalls=0\n";

    CMessageSink window;
    auto rip = std::make_unique<CRIP>();
    int port = 21000 + getpid() % 20000;
    for (; port < 65000 && !rip->Init(window.Handle(), port); port += 11) rip = std::make_unique<CRIP>();
    rip->SetAvailableTransports(TRANSPORT_TCP);
    rip->SendState(16);  // as the main window does when the engine first reports
    window.SetSendHandler([&](UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_RIP_CONNECT) {
            ConnectionInfo dest;
            rip->GetRequestedDestination(&dest);
            AudioFormat format;
            rip->GetRequestedFormat(&format);
            rip->SendState(32);
            rip->SetConnectionInfo(dest);
            rip->SetEncoderFormat(format);
            rip->SendState(50);
            StationIdentity peer;
            std::strcpy(peer.stationName, "Far Studio");
            std::strcpy(peer.versionText, "V1.5b  ");
            rip->SetRemoteIdentity(peer);
            AudioFormat received = format;
            received.direction = DIRECTION_BOTH;
            rip->SetDecoderFormat(received);
        } else if (message == WM_RIP_DISCONNECT) {
            rip->SendState(16);
            rip->SendConnectionError(TRANSPORT_TCP, 10054, "Connection reset by peer");
        }
        return 0;
    });

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::string script = std::string(source) + "/tests/call/rip_client.py";
        execlp("python3", "python3", script.c_str(), std::to_string(port).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    for (int i = 0; i < 3000; ++i) {  // at most 15 s
        rip->Poll();
        if (waitpid(child, &status, WNOHANG) == child) break;
        usleep(5000);
        if (i == 2999) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
    }
    rip.reset();
    fs::current_path(oldDir);
    fs::remove_all(dir);
    unsetenv("VELMORA_SETTINGS_FILE");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A control application that starts before its station keeps trying the
// port; a try whose own port is the station's meets itself. In a network of
// its own whose only port for outgoing connections is the station's, the
// first try does exactly that: the client must drop it, leave the port free
// and still get the station's first report once it listens.
TEST(RipClientScriptTest, ClientThatMeetsItselfBeforeTheStationListensGetsTheFirstReport) {
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";
    const fs::path dir = fs::temp_directory_path() / ("ripself-" + std::to_string(getpid()));
    fs::create_directories(dir);
    constexpr int kPort = 45000;
    const fs::path tried = dir / "tried", result = dir / "result";
    // The client's first pause (after its first try) widens the range to a
    // second port and waits until the station listens.
    const std::string client = std::string("cd '") + source + "/tests/app' && python3 -c '\n"
        "import socket, time\n"
        "import rip_client\n"
        "real_sleep = time.sleep\n"
        "def first_pause(seconds):\n"
        "    time.sleep = real_sleep\n"
        "    open(\"/proc/sys/net/ipv4/ip_local_port_range\", \"w\").write(\"" + std::to_string(kPort) + " " +
        std::to_string(kPort + 1) + "\")\n"
        "    open(\"" + tried.string() + "\", \"w\").close()\n"
        "    end = time.time() + 30\n"
        "    while \":%04X 00000000:0000 0A\" % " + std::to_string(kPort) + " not in open(\"/proc/net/tcp\").read()"
        " and time.time() < end:\n"
        "        real_sleep(0.01)\n"
        "time.sleep = first_pause\n"
        "sock = rip_client.connect(" + std::to_string(kPort) + ", patience=30)\n"
        "sock.settimeout(30)\n"
        "command, body = rip_client.read(sock)\n"
        "open(\"" + result.string() + "\", \"w\").write(hex(command))\n"
        "' > '" + (dir / "client.log").string() + "' 2>&1 &";

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNET) != 0 || std::system("ip link set lo up 2> /dev/null") != 0) _exit(77);
        std::ofstream("/proc/sys/net/ipv4/ip_local_port_range") << kPort << " " << kPort << "\n";
        if (std::system(client.c_str()) != 0) _exit(2);
        for (int i = 0; i < 3000 && !fs::exists(tried); ++i) usleep(10000);  // at most 30 s
        if (!fs::exists(tried)) _exit(3);  // the client took its first try as the station
        CMessageSink window;
        CRIP rip;
        if (!rip.Init(window.Handle(), kPort)) _exit(4);  // the port is still held
        rip.SendState(16);
        for (int i = 0; i < 3000 && !fs::exists(result); ++i) {  // at most 30 s
            rip.Poll();
            usleep(10000);
        }
        std::string command;
        std::ifstream(result) >> command;
        _exit(command == "0x20010" ? 0 : 5);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        fs::remove_all(dir);
        GTEST_SKIP() << "no network of its own";
    }
    std::ifstream log(dir / "client.log");
    const std::string said((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: the client kept a connection to itself; 4: the station could not listen; "
                                         "5: no first report\n" << said;
    fs::remove_all(dir);
}
