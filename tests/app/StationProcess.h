#pragma once
// The real program as a child process: started in its own folder with a
// virtual sound device, stopped by a signal. Test processes only.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

struct StationEnv {
    std::vector<std::pair<std::string, std::string>> extra;  // set after the common ones
    std::function<bool()> enter;                              // run first in the child; false ends it with 98
};

// Long two-station calls (minutes of calls, stations started afresh) run in
// the plain build only: under the memory and race checkers a station on a
// loaded machine takes longer to start than its control script waits, and
// the checked passes have no room in the build's time for them.
#ifdef VELMORA_CHECKED_BUILD
inline constexpr bool kPlainBuild = false;
#else
inline constexpr bool kPlainBuild = true;
#endif
inline constexpr const char* kPlainBuildOnly = "a long two-station call: run in the plain build only";

inline pid_t StartStation(const std::filesystem::path& dir, const std::string& device, const StationEnv& env = {}) {
    const pid_t child = fork();
    if (child == 0) {
        if (env.enter && !env.enter()) _exit(98);
        if (chdir(dir.c_str()) != 0) _exit(97);
        setenv("VELMORA_VIRTUAL_AUDIO", device.c_str(), 1);
        setenv("VELMORA_REGISTRY_FILE", (dir / "registry").c_str(), 1);
        setenv("LSAN_OPTIONS", "suppressions=" VELMORA_SOURCE_DIR "/tools/lsan-suppressions.txt", 1);
        for (const auto& [name, value] : env.extra) setenv(name.c_str(), value.c_str(), 1);
        execl(VELMORA_PROGRAM, VELMORA_PROGRAM, static_cast<char*>(nullptr));
        _exit(96);
    }
    return child;
}

// Every thread's stack of a child that did not end when asked, so that a hang
// seen once on a loaded machine says where it hung.
inline void PrintStacks(pid_t child) {
    const std::string cmd = "gdb -p " + std::to_string(child) +
                            " -batch -ex 'thread apply all bt' 2>&1 | grep -v '^\\[New LWP\\|^\\[Thread debugging'";
    if (std::system(cmd.c_str()) != 0) std::printf("no stacks of process %d\n", static_cast<int>(child));
}

// Runs a control script; when it fails, every station's stacks follow its
// output, so that a station found unresponsive once says where it was.
inline int RunControlScript(const std::string& cmd, std::initializer_list<pid_t> stations) {
    const int status = std::system(cmd.c_str());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        for (pid_t s : stations) PrintStacks(s);
    return status;
}

inline void StopStation(pid_t child) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

// Any program as a child: started in its folder with "NAME=value" entries
// added to its environment.
inline pid_t SpawnIn(const std::filesystem::path& dir, const std::vector<std::string>& env,
                     const std::vector<std::string>& args) {
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) _exit(97);
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(96);
    }
    return child;
}

inline void StopChild(pid_t child, int signal) {
    kill(child, signal);
    waitpid(child, nullptr, 0);
}

// The simulated ISDN exchange of a test folder: its configuration in
// root/exchange.conf, its socket root/exchange.sock.
inline std::string ExchangeEnv(const std::filesystem::path& root) {
    return "VELMORA_ISDN_EXCHANGE=" + (root / "exchange.sock").string();
}

// Starts the exchange with the extra arguments given; -1 if its socket never
// came up (it is stopped then).
inline pid_t StartExchangeIn(const std::filesystem::path& root, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {VELMORA_EXCHANGE, "--config", (root / "exchange.conf").string()};
    args.insert(args.end(), extra.begin(), extra.end());
    const pid_t exchange = SpawnIn(root, {ExchangeEnv(root)}, args);
    for (int i = 0; i < 200 && !std::filesystem::exists(root / "exchange.sock"); ++i) usleep(50000);
    if (std::filesystem::exists(root / "exchange.sock")) return exchange;
    StopChild(exchange, SIGKILL);
    return -1;
}

// A station in `dir` on the exchange of `root`: its virtual device sends the
// tone and keeps what it played in dir/played.raw.
inline pid_t StartIsdnStation(const std::filesystem::path& root, const std::filesystem::path& dir,
                              const std::string& device, int toneHz) {
    const std::string sound = device + ",tone=" + std::to_string(toneHz) + ",level=0.25,sink=" +
                              (dir / "played.raw").string() + ",sink_seconds=120";
    return SpawnIn(dir,
                   {ExchangeEnv(root), "VELMORA_VIRTUAL_AUDIO=" + sound,
                    "VELMORA_REGISTRY_FILE=" + (dir / "registry").string(), "VELMORA_MESSAGEBOX_TIMEOUT_MS=3000",
                    "LSAN_OPTIONS=suppressions=" VELMORA_SOURCE_DIR "/tools/lsan-suppressions.txt"},
                   {VELMORA_PROGRAM});
}
