#pragma once
// The crash report. When a fatal signal (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, a stack overflow included) reaches the process, the first thread
// that gets it writes "ERRORLOG.TXT" beside the program: what happened,
// where, when, on which machine, the registers, the code bytes, the stack and
// the loaded modules. The signal then takes its ordinary course and ends the
// process. A directory that cannot be written gets no report.
//
// Everything the handler does is async-signal-safe: no allocation, no stdio,
// no locks; values that need the C library are gathered by Install().
#include <cstddef>
#include <cstdint>

// The report's text, buffered and written out in pieces.
class CReportFile {
public:
    static constexpr int kBufferBytes = 8192;
    static constexpr int kFlushAbove = 7167;
    static constexpr int kMaxAppend = 1024;

    bool Open(const char* path);  // replaces the file; false when it cannot be made
    void Close();                 // writes what is buffered; harmless when not open
    bool IsOpen() const { return m_fd >= 0; }

    // %s %c %d %u %x with '-' and '0' flags, a width and 'l' for 64 bits; %%.
    void Printf(const char* format, ...);
    void WriteText(const char* text) { Printf("%s", text); }
    void WriteInt(int value) { Printf("%d", value); }
    void WriteHexByte(unsigned value) { Printf("%02x", value & 0xFF); }
    void WriteChar(char c);
    // "m/d/yyyy hh:mm:ss" in local time, seconds in steps of two.
    void WriteFileTime(int64_t unixSeconds);

private:
    void Append(const char* text, size_t length);
    void Flush();

    int m_fd = -1;
    int32_t m_length = 0;
    char m_buffer[kBufferBytes];
};

class CCrashHandler {
public:
    static constexpr const char* kHandlerName = "AfxWinMain - CCrashHandler()";
    static constexpr const char* kReportName = "ERRORLOG.TXT";

    // Installs the handler for the whole process and an alternate signal
    // stack for the calling thread. reportDirectory null: the directory of
    // the executable. Call once, early, on the main thread.
    static bool Install(const char* reportDirectory = nullptr);
    // Removes the handler (tests); the report flag stays as it is.
    static void Uninstall();

    // Gives the calling thread an alternate signal stack, so that a stack
    // overflow on it is reported too. Every thread we start builds one.
    class CThreadGuard {
    public:
        CThreadGuard();
        ~CThreadGuard();
        CThreadGuard(const CThreadGuard&) = delete;
        CThreadGuard& operator=(const CThreadGuard&) = delete;

    private:
        void* m_stack = nullptr;
    };

    // Windows exception code that stands for a signal and its si_code.
    static uint32_t ExceptionCodeOf(int signal, int code, bool stackOverflow);
    static const char* GetExceptionName(uint32_t code);
    // Writes the stack section: words from `address` up to `base` (at most
    // 3072 of them), 4 per line; an unreadable word ends the dump.
    static void WriteStack(CReportFile& file, uintptr_t address, uintptr_t base);
    // Writes the module list from the process's mappings.
    static void WriteModuleList(CReportFile& file);
};
