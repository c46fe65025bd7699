#include "platform/CrashHandler.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t nl; (nl = text.find("\r\n", at)) != std::string::npos; at = nl + 2) lines.push_back(text.substr(at, nl - at));
    return lines;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(ReportFileTest, FormatsAndFlushesALongReportInOrder) {
    CTempDir dir("format");
    CReportFile file;
    ASSERT_TRUE(file.Open((dir.Path() / "r.txt").c_str()));
    file.Printf("%s caused %s (0x%08x) \r\n", "Velmora", "an Access Violation", 0xC0000005u);
    file.Printf("[%04x|%-10d|%d|%lu|%5s|%c|%%]\r\n", 0x33, 1234, -56, 1ull << 40, "ab", 'Z');
    file.WriteHexByte(0x1AB);
    file.WriteInt(-7);
    file.WriteChar('\n');
    for (int i = 0; i < 3000; ++i) file.Printf("line %d\r\n", i);
    file.Close();
    file.Close();  // harmless twice
    const std::string text = ReadAll(dir.Path() / "r.txt");
    const auto lines = Lines(text);
    ASSERT_GE(lines.size(), 3002u);
    EXPECT_EQ(lines[0], "Velmora caused an Access Violation (0xc0000005) ");
    EXPECT_EQ(lines[1], "[0033|1234      |-56|1099511627776|   ab|Z|%]");
    EXPECT_EQ(lines[2], "ab-7\nline 0");
    for (int i = 1; i < 3000; ++i) ASSERT_EQ(lines[2 + i], "line " + std::to_string(i));
    EXPECT_FALSE(file.Open("/proc/velmora-no-such-dir/x"));
}

TEST(CrashHandlerTest, StackOfTenWordsDumpsThreeLines) {
    CTempDir dir("stack");
    uint32_t words[10];
    for (uint32_t i = 0; i < 10; ++i) words[i] = 0x41424344u + i;  // "DCBA" in memory order
    words[9] = 0x00207E1F;
    CReportFile file;
    ASSERT_TRUE(file.Open((dir.Path() / "s.txt").c_str()));
    CCrashHandler::WriteStack(file, reinterpret_cast<uintptr_t>(words), reinterpret_cast<uintptr_t>(words + 10));
    file.Close();
    const auto lines = Lines(ReadAll(dir.Path() / "s.txt"));
    // "", "", "Stack:", three lines, "".
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[2], "Stack:");
    EXPECT_EQ(lines[3].substr(lines[3].find(':') + 2), "41424344 41424345 41424346 41424347 DCBAECBAFCBAGCBA");
    const std::string last = lines[5].substr(lines[5].find(':') + 2);
    EXPECT_EQ(last, "4142434c 00207e1f " + std::string(18, ' ') + "LCBA.~ .");
    EXPECT_EQ(lines[6], "");
}

TEST(CrashHandlerTest, ExceptionNamesAndSignalCodes) {
    EXPECT_STREQ(CCrashHandler::GetExceptionName(0xC0000005u), "an Access Violation");
    EXPECT_STREQ(CCrashHandler::GetExceptionName(0xC00000FDu), "a Stack Overflow");
    EXPECT_STREQ(CCrashHandler::GetExceptionName(0xC000008Cu), "a Array Bounds Exceeded");
    EXPECT_STREQ(CCrashHandler::GetExceptionName(0x12345678u), "an Unknown exception type");
    EXPECT_EQ(CCrashHandler::ExceptionCodeOf(SIGSEGV, SEGV_MAPERR, false), 0xC0000005u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeOf(SIGSEGV, SEGV_MAPERR, true), 0xC00000FDu);
    EXPECT_EQ(CCrashHandler::ExceptionCodeOf(SIGFPE, FPE_INTDIV, false), 0xC0000094u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeOf(SIGBUS, BUS_ADRERR, false), 0xC0000006u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeOf(SIGBUS, BUS_ADRALN, false), 0x80000002u);
    EXPECT_EQ(CCrashHandler::ExceptionCodeOf(SIGILL, ILL_ILLOPN, false), 0xC000001Du);
}

TEST(CrashHandlerTest, ModuleListNamesThisProgram) {
    CTempDir dir("modules");
    CReportFile file;
    ASSERT_TRUE(file.Open((dir.Path() / "m.txt").c_str()));
    CCrashHandler::WriteModuleList(file);
    file.Close();
    const std::string text = ReadAll(dir.Path() / "m.txt");
    char exe[1024] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_EQ(text.rfind("Module 1\r\n" + std::string(exe) + "\r\nImage Base: 0x", 0), 0u) << text.substr(0, 200);
    EXPECT_NE(text.find("   FileVer:    0.0.0.0\r\n"), std::string::npos);
    EXPECT_GE(Count(text, "Module "), 2u);  // the C library at least
}

// ---- children that crash ----

enum class Crash { Segv, Bus, Fpe, Ill, Abort, StackOverflow, TwoThreads };

__attribute__((no_sanitize("undefined"))) __attribute__((noinline)) void WriteNull() {
    volatile int* volatile p = nullptr;
    *p = 1;
}

__attribute__((no_sanitize("undefined"))) __attribute__((noinline)) int Divide(int a, int b) {
    volatile int x = a, y = b;
    return x / y;
}

volatile int g_recurseForever = 1;
volatile int g_sink = 0;

__attribute__((noinline)) int Recurse(int depth) {
    volatile char pad[1024];
    pad[0] = static_cast<char>(depth);
    if (!g_recurseForever) return pad[0];
    return Recurse(depth + 1) + pad[0];
}

[[noreturn]] __attribute__((no_sanitize("undefined"))) void CrashNow(Crash how, const char* dir) {
    switch (how) {
        case Crash::Segv:
            WriteNull();
            break;
        case Crash::Bus: {
            // Touching a page of a mapping beyond the end of its file.
            const std::string path = std::string(dir) + "/empty.bin";
            const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
            void* p = mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0);
            unlink(path.c_str());
            volatile char c = *static_cast<volatile char*>(p);
            (void)c;
            break;
        }
        case Crash::Fpe:
            g_sink = Divide(1, 0);
            break;
        case Crash::Ill:
            __builtin_trap();
        case Crash::Abort:
            abort();
        case Crash::StackOverflow:
            Recurse(0);
            break;
        case Crash::TwoThreads: {
            std::atomic<int> ready{0};
            auto crasher = [&] {
                CCrashHandler::CThreadGuard guard;
                ready.fetch_add(1);
                while (ready.load() < 2) {
                }
                WriteNull();
            };
            std::thread a(crasher), b(crasher);
            a.join();
            b.join();
            break;
        }
    }
    _exit(99);
}

// Runs one crash in a child; returns its wait status.
int RunChild(Crash how, const fs::path& dir, bool dropRights) {
    const pid_t pid = fork();
    if (pid == 0) {
        // Crashes under test must not also produce core files.
        signal(SIGPIPE, SIG_IGN);
        CCrashHandler::Install(dir.c_str());
        if (dropRights && getuid() == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0) _exit(98);
        }
        CrashNow(how, dir.c_str());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

struct CrashCase {
    Crash how;
    int signal;
    const char* name;
    uint32_t code;
};

TEST(CrashHandlerTest, EachSignalLeavesOneCorrectReport) {
    const CrashCase cases[] = {
        {Crash::Segv, SIGSEGV, "an Access Violation", 0xC0000005u},
        {Crash::Bus, SIGBUS, "an In Page Error", 0xC0000006u},
        {Crash::Fpe, SIGFPE, "an Integer Divide by Zero", 0xC0000094u},
        {Crash::Ill, SIGILL, "an Illegal Instruction", 0xC000001Du},
        {Crash::Abort, SIGABRT, "an Abort", 0x40000015u},
        {Crash::StackOverflow, SIGSEGV, "a Stack Overflow", 0xC00000FDu},
        {Crash::TwoThreads, SIGSEGV, "an Access Violation", 0xC0000005u},
    };
    char exe[1024] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    const std::string program = fs::path(exe).stem().string();
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CTempDir dir("child" + std::to_string(i++));
        const int status = RunChild(c.how, dir.Path(), false);
        ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
        EXPECT_EQ(WTERMSIG(status), c.signal);
        const std::string text = ReadAll(dir.Path() / "ERRORLOG.TXT");
        ASSERT_FALSE(text.empty());
        const auto lines = Lines(text);
        ASSERT_GT(lines.size(), 20u);
        char head[128];
        std::snprintf(head, sizeof head, " caused %s (0x%08x) ", c.name, c.code);
        EXPECT_EQ(lines[0], program + head);
        EXPECT_EQ(lines[1].rfind("in module ", 0), 0u);
        EXPECT_EQ(lines[2], "");
        EXPECT_EQ(lines[3], "Exception handler called in AfxWinMain - CCrashHandler().");
        EXPECT_EQ(lines[4].rfind("Error occurred at ", 0), 0u);
        EXPECT_EQ(lines[5], std::string(exe) + ", run by " + (getuid() == 0 ? "root" : lines[5].substr(lines[5].find("run by ") + 7)));
        EXPECT_EQ(lines[6].rfind("Operating system: Linux ", 0), 0u);
        EXPECT_NE(lines[7].find("processor(s), type "), std::string::npos);
        EXPECT_NE(lines[8].find("% memory in use."), std::string::npos);
        EXPECT_EQ(Count(text, "Exception handler called in"), 1u);  // one report even when two threads crashed
        const bool accessViolation = c.code == 0xC0000005u;
        EXPECT_EQ(Count(text, "Write to location 00000000 caused an access violation."), accessViolation ? 1u : 0u);
        EXPECT_NE(text.find("\r\nContext:\r\nRDI:    0x"), std::string::npos);
        EXPECT_NE(text.find("\r\nBytes at CS:EIP:\r\n"), std::string::npos);
        // An overflowed stack pointer lies below the stack: the dump is empty.
        EXPECT_NE(text.find(c.how == Crash::StackOverflow ? "\r\n\r\nStack:\r\n" : "\r\n\r\nStack:\r\n0x"),
                  std::string::npos);
        EXPECT_NE(text.find("Module 1\r\n" + std::string(exe) + "\r\n"), std::string::npos);
    }
}

TEST(CrashHandlerTest, NoReportInAReadOnlyDirectory) {
    CTempDir dir("readonly");
    fs::permissions(dir.Path(), fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                  fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
    const int status = RunChild(Crash::Segv, dir.Path(), true);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    EXPECT_FALSE(fs::exists(dir.Path() / "ERRORLOG.TXT"));
}

}  // namespace
