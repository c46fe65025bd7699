#pragma once
// Runs a peer program (a sound server, a player) as a child process of the
// test and ends it again; the output goes to a log file for the failure text.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

class CPeerProcess {
public:
    CPeerProcess() = default;
    ~CPeerProcess() { Stop(); }
    CPeerProcess(const CPeerProcess&) = delete;
    CPeerProcess& operator=(const CPeerProcess&) = delete;

    // Starts argv[0] (found on PATH) with its output in `log`; false when it could not start.
    bool Start(const std::vector<std::string>& argv, const std::string& log) {
        m_log = log;
        m_pid = fork();
        if (m_pid < 0) return false;
        if (m_pid == 0) {
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            if (FILE* f = std::fopen(log.c_str(), "w")) {
                dup2(fileno(f), 1);
                dup2(fileno(f), 2);
            }
            execvp(args[0], args.data());
            _exit(127);
        }
        return true;
    }

    // Waits up to timeoutMs for the process to end by itself; its exit code, or -1.
    int Wait(int timeoutMs) {
        if (m_pid <= 0) return -1;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            int status = 0;
            const pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (std::chrono::steady_clock::now() >= end) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // Ends the process (terminate, then kill when it does not go) and reaps it.
    void Stop() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        if (Wait(5000) == -1 && m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        m_pid = -1;
    }

    bool Running() const { return m_pid > 0 && kill(m_pid, 0) == 0; }

    std::string Log() const {
        std::ifstream f(m_log);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }

private:
    pid_t m_pid = -1;
    std::string m_log;
};

// Output of a shell command, with its exit code.
inline std::string RunCommand(const std::string& command, int* exitCode = nullptr) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[512];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        const int status = pclose(p);
        if (exitCode) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else if (exitCode) {
        *exitCode = -1;
    }
    return out;
}
