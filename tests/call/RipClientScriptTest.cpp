// Runs the independent Python control application against a server whose
// main window behaves like the real one: a make-connection request is
// answered with the states and reports of a call, a stop with idle.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
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
