#pragma once
// A PulseAudio server of the test's own: its runtime folder and socket lie
// in the test's folder, named to this process through PULSE_SERVER (so the
// program, pactl, parec and ALSA's pulse plugin all reach it), with one null
// sink at 48000 Hz and that sink's monitor source. It never exits on idle and
// loads nothing else, so it runs as root as well.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/PeerProcess.h"

class CPulseServer {
public:
    static constexpr const char* kSink = "velmora_null";
    static constexpr const char* kMonitor = "velmora_null.monitor";

    ~CPulseServer() { Stop(); }

    bool Start(const std::string& folder) {
        const std::string runtime = folder + "/pulse";
        std::filesystem::create_directories(runtime);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        const std::string socket = runtime + "/native";
        setenv("PULSE_RUNTIME_PATH", runtime.c_str(), 1);
        setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
        setenv("PULSE_COOKIE", (runtime + "/cookie").c_str(), 1);
        if (!m_server.Start({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                             "--disallow-exit", "--system=no", "--disable-shm=yes", "--log-target=stderr", "-L",
                             "module-native-protocol-unix socket=" + socket + " auth-anonymous=1", "-L",
                             std::string("module-null-sink sink_name=") + kSink + " rate=48000 channels=2"},
                            folder + "/pulseaudio.log"))
            return false;
        // Waits for the server to answer, up to 30 s.
        for (int i = 0; i < 300; ++i) {
            int code = -1;
            RunCommand("pactl info > /dev/null 2>&1", &code);
            if (code == 0) return true;
            if (!m_server.Running()) return false;
            m_server.Wait(100);
        }
        return false;
    }

    void Stop() {
        m_server.Stop();
        unsetenv("PULSE_SERVER");
        unsetenv("PULSE_RUNTIME_PATH");
        unsetenv("PULSE_COOKIE");
    }

    std::string Log() const { return m_server.Log(); }

private:
    CPeerProcess m_server;
};
