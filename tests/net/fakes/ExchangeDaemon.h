#pragma once
// The simulated exchange daemon, started for one test and stopped with it;
// its control line answers queries such as "active".
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

class CExchangeDaemon {
public:
    // config: the exchange's configuration text; the socket lives in dir.
    // With capture set, the line bytes of every B-channel go to files there.
    CExchangeDaemon(const std::filesystem::path& dir, const std::string& config, const std::string& capture = "")
        : m_socket((dir / "exchange.sock").string()) {
        std::ofstream(dir / "exchange.conf") << config;
        setenv("VELMORA_ISDN_EXCHANGE", m_socket.c_str(), 1);
        const std::string conf = (dir / "exchange.conf").string();
        const std::string trace = (dir / "trace.txt").string();
        m_trace = trace;
        m_pid = fork();
        if (m_pid == 0) {
            if (capture.empty())
                execl(VELMORA_EXCHANGE, VELMORA_EXCHANGE, "--config", conf.c_str(), "--trace", trace.c_str(),
                      static_cast<char*>(nullptr));
            else
                execl(VELMORA_EXCHANGE, VELMORA_EXCHANGE, "--config", conf.c_str(), "--trace", trace.c_str(),
                      "--capture", capture.c_str(), static_cast<char*>(nullptr));
            _exit(96);
        }
        for (int i = 0; i < 400 && Query("active").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ~CExchangeDaemon() {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }

    // The reply line, empty while the daemon does not answer.
    std::string Query(const std::string& line) const {
        const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, m_socket.c_str(), sizeof addr.sun_path - 1);
        std::string reply;
        if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            const std::string packet = "Q" + line;
            char buf[256];
            ssize_t n = 0;
            if (send(fd, packet.data(), packet.size(), MSG_NOSIGNAL) > 0 && (n = recv(fd, buf, sizeof buf, 0)) > 1)
                reply.assign(buf + 1, static_cast<size_t>(n - 1));
        }
        close(fd);
        return reply;
    }
    // The message trace so far, for failure messages.
    std::string Trace() const {
        std::ifstream in(m_trace);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string m_socket;
    std::string m_trace;
    pid_t m_pid = -1;
};
