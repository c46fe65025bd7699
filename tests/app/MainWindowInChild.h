#pragma once
// The program's main window run in a forked child of the test, in its own
// folder with the given settings and hooks; the hooks' script checks and
// closes the window. The result: 0 when every check in the child held, 1 when
// one failed, 2 when the program ended with a failure of its own, 100 + the
// signal when it died, -1 when it was still running after the patience.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include <wx/debug.h>

#include "ui/CodecApp.h"
#include "ui/MainDlg.h"
#include "ui/framework/WinApp.h"

// Starts the child; `enter` runs first in it (a network namespace, the
// environment), and false from it ends the child with 98.
inline pid_t StartMainWindowInChild(const std::filesystem::path& dir, const std::string& ini,
                                    const CMainDlgHooks& hooks, const std::function<bool()>& enter = {}) {
    const pid_t child = fork();
    if (child == 0) {
        if (enter && !enter()) _exit(98);
        if (chdir(dir.c_str()) != 0) _exit(97);
        std::ofstream("Velmora.Ini") << ini;
        setenv("VELMORA_MESSAGEBOX_TIMEOUT_MS", "15000", 1);
        // The program's own handler replaces the one below once it starts:
        // a toolkit assertion must still fail the test.
        setenv("VELMORA_TOOLKIT_ASSERTS_FATAL", "1", 1);
        wxSetAssertHandler([](const wxString& file, int line, const wxString&, const wxString& cond,
                              const wxString& msg) {
            ADD_FAILURE() << "toolkit assertion " << file << ":" << line << " " << cond << " " << msg;
        });
        CMainDlg::SetHooks(hooks);
        int result;
        {
            CCodecApp app;
            char name[] = "Velmora";
            char* argv[] = {name, nullptr};
            result = AfxWinMain(1, argv);
        }
        _exit(::testing::Test::HasFailure() ? 1 : result == 0 ? 0 : 2);
    }
    return child;
}

inline int WaitForMainWindowChild(pid_t child, std::chrono::seconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) != child) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

inline int RunMainWindowInChild(const std::filesystem::path& dir, const std::string& ini, const CMainDlgHooks& hooks,
                                std::chrono::seconds patience) {
    return WaitForMainWindowChild(StartMainWindowInChild(dir, ini, hooks), patience);
}
