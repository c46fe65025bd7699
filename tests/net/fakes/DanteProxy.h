#pragma once
// The Debian SOCKS server (danted) as a real peer, on free loopback ports,
// with a configuration written to a temporary folder:
//   openPort    destinations anyone may reach (SOCKS 4 and 5, no login)
//   loginPort   reachable only with SOCKS 5 user/password
//   closedPort  allowed, but nothing listens there
//   any other   blocked
// The server runs in a process group of its own, stopped by the destructor.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <pwd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "LoopbackPeer.h"

extern char** environ;

namespace loopback {

class DanteProxy {
public:
    static constexpr const char* kUser = "velmorasocks";
    static constexpr const char* kPassword = "Vt-s3cret";

    DanteProxy() = default;
    ~DanteProxy() { Stop(); }
    DanteProxy(const DanteProxy&) = delete;
    DanteProxy& operator=(const DanteProxy&) = delete;

    // Empty when running; else why not (the caller skips).
    std::string Start() {
        const char* binary = "/usr/sbin/danted";
        if (access(binary, X_OK) != 0) return "danted not installed (dante-server)";
        if (geteuid() != 0) return "danted needs root here";
        char tmpl[] = "/tmp/velmora-dante-XXXXXX";
        if (!mkdtemp(tmpl)) return "no temporary folder";
        m_dir = tmpl;
        port = FreePort();
        openPort = FreePort();
        loginPort = FreePort();
        closedPort = FreePort();
        const std::string conf = m_dir + "/danted.conf";
        std::ofstream out(conf);
        out << "logoutput: " << m_dir << "/danted.log\n"
            << "internal: 127.0.0.1 port = " << port << "\n"
            << "external: 127.0.0.1\n"
            << "clientmethod: none\n"
            << "socksmethod: username none\n"
            << "user.privileged: root\n"
            << "user.unprivileged: nobody\n"
            << "client pass {\n  from: 127.0.0.0/8 to: 0.0.0.0/0\n}\n"
            << "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8 port = " << openPort << "\n  command: connect\n}\n"
            << "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8 port = " << closedPort << "\n  command: connect\n}\n"
            << "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8 port = " << loginPort
            << "\n  command: connect\n  socksmethod: username\n}\n"
            << "socks block {\n  from: 0.0.0.0/0 to: 0.0.0.0/0\n}\n";
        out.close();
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attr, 0);
        std::string pidFile = m_dir + "/danted.pid";
        const char* argv[] = {binary, "-f", conf.c_str(), "-N", "1", "-p", pidFile.c_str(), nullptr};
        const int rc = posix_spawn(&m_pid, binary, nullptr, &attr, const_cast<char* const*>(argv), environ);
        posix_spawnattr_destroy(&attr);
        if (rc != 0) {
            m_pid = -1;
            return "cannot start danted";
        }
        for (int i = 0; i < 300; ++i) {
            Conn probe;
            if (probe.Connect(port)) return "";
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return "danted did not come up: " + Log();
    }

    // The login user exists with a known password (created once, as root).
    static bool EnsureLoginUser() {
        if (geteuid() != 0) return false;
        if (!getpwnam(kUser) &&
            std::system("useradd -M -s /usr/sbin/nologin velmorasocks >/dev/null 2>&1") != 0)
            return false;
        return std::system("echo 'velmorasocks:Vt-s3cret' | chpasswd >/dev/null 2>&1") == 0;
    }

    std::string Log() const {
        std::ifstream in(m_dir + "/danted.log");
        std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        return all.size() > 2000 ? all.substr(all.size() - 2000) : all;
    }

    void Stop() {
        if (m_pid > 0) {
            kill(-m_pid, SIGTERM);  // the group started above: the server and its children
            int status = 0;
            for (int i = 0; i < 200 && waitpid(m_pid, &status, WNOHANG) == 0; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (waitpid(m_pid, &status, WNOHANG) == 0) {
                kill(-m_pid, SIGKILL);
                waitpid(m_pid, &status, 0);
            }
            m_pid = -1;
        }
        if (!m_dir.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(m_dir, ec);
            m_dir.clear();
        }
    }

    uint16_t port = 0;
    uint16_t openPort = 0;
    uint16_t loginPort = 0;
    uint16_t closedPort = 0;

private:
    pid_t m_pid = -1;
    std::string m_dir;
};

}  // namespace loopback
