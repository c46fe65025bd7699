#include "platform/CrashHandler.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <sys/uio.h>
#include <sys/utsname.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kAltStackBytes = 64 * 1024;
constexpr int kMaxStackWords = 3072;
constexpr int kCodeBytes = 128;

// Report-once flag: armed by Install; the first crashing thread takes it.
enum : int { kIdle, kArmed, kWriting, kDone };
std::atomic<int> g_state{kIdle};

// Gathered by Install, read by the handler.
char g_exePath[520] = "Unknown";
char g_programName[520] = "Unknown";
char g_reportPath[1040] = "ERRORLOG.TXT";
char g_userName[198] = "Unknown";
long g_timezoneOffset = 0;  // seconds east of UTC
int g_processors = 1;
long g_pageSize = 4096;
struct sigaction g_previous[sizeof kSignals / sizeof kSignals[0]];
bool g_installed = false;
alignas(16) char g_mainAltStack[kAltStackBytes];

size_t Length(const char* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

void CopyText(char* dst, size_t size, const char* src) {
    size_t i = 0;
    for (; i + 1 < size && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
}

// Reads our own memory without faulting: false when any byte is unmapped.
bool ReadMemory(uintptr_t address, void* out, size_t size) {
    iovec local{out, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}

// ---- formatting without the C library's locks ----

struct Out {
    char* buf;
    size_t size;
    size_t len = 0;
    void Put(char c) {
        if (len + 1 < size) buf[len++] = c;
    }
};

void PutNumber(Out& out, uint64_t value, bool negative, unsigned base, int width, bool left, bool zero) {
    char digits[24];
    int n = 0;
    do {
        const unsigned d = static_cast<unsigned>(value % base);
        digits[n++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
        value /= base;
    } while (value);
    const int total = n + (negative ? 1 : 0);
    if (!left && !zero)
        for (int i = total; i < width; ++i) out.Put(' ');
    if (negative) out.Put('-');
    if (!left && zero)
        for (int i = total; i < width; ++i) out.Put('0');
    while (n) out.Put(digits[--n]);
    if (left)
        for (int i = total; i < width; ++i) out.Put(' ');
}

size_t FormatV(char* buf, size_t size, const char* f, va_list args) {
    Out out{buf, size};
    for (; *f; ++f) {
        if (*f != '%') {
            out.Put(*f);
            continue;
        }
        ++f;
        bool left = false, zero = false;
        for (; *f == '-' || *f == '0'; ++f) (*f == '-' ? left : zero) = true;
        int width = 0;
        for (; *f >= '0' && *f <= '9'; ++f) width = width * 10 + (*f - '0');
        int longs = 0;
        for (; *f == 'l'; ++f) ++longs;
        switch (*f) {
            case 'd': {
                const int64_t v = longs ? va_arg(args, long long) : va_arg(args, int);
                PutNumber(out, v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v), v < 0, 10,
                          width, left, zero);
                break;
            }
            case 'u':
            case 'x': {
                const uint64_t v = longs ? va_arg(args, unsigned long long) : va_arg(args, unsigned);
                PutNumber(out, v, false, *f == 'x' ? 16 : 10, width, left, zero);
                break;
            }
            case 's': {
                const char* s = va_arg(args, const char*);
                if (!s) s = "(null)";
                const int n = static_cast<int>(Length(s));
                if (!left)
                    for (int i = n; i < width; ++i) out.Put(' ');
                for (const char* p = s; *p; ++p) out.Put(*p);
                if (left)
                    for (int i = n; i < width; ++i) out.Put(' ');
                break;
            }
            case 'c':
                out.Put(static_cast<char>(va_arg(args, int)));
                break;
            case '%':
                out.Put('%');
                break;
            default:
                if (!*f) --f;  // a lone '%' at the end
                break;
        }
    }
    if (size) buf[out.len] = 0;
    return out.len;
}

// ---- the process's mappings, read line by line from /proc/self/maps ----

struct Mapping {
    uintptr_t start, end, offset;
    char perms[5];
    const char* path;  // empty for anonymous mappings
};

uintptr_t ParseHex(const char*& p) {
    uintptr_t v = 0;
    for (;; ++p) {
        const char c = *p;
        if (c >= '0' && c <= '9') v = v * 16 + static_cast<uintptr_t>(c - '0');
        else if (c >= 'a' && c <= 'f') v = v * 16 + static_cast<uintptr_t>(c - 'a' + 10);
        else break;
    }
    return v;
}

bool ParseMapping(char* line, Mapping& m) {
    const char* p = line;
    m.start = ParseHex(p);
    if (*p++ != '-') return false;
    m.end = ParseHex(p);
    if (*p++ != ' ') return false;
    for (int i = 0; i < 4; ++i) m.perms[i] = *p ? *p++ : '-';
    m.perms[4] = 0;
    while (*p == ' ') ++p;
    m.offset = ParseHex(p);
    for (int field = 0; field < 2; ++field) {  // device and inode
        while (*p == ' ') ++p;
        while (*p && *p != ' ') ++p;
    }
    while (*p == ' ') ++p;
    m.path = p;
    return true;
}

// Calls visit(mapping) for each line; stops early when it returns false.
template <typename Visit>
void ForEachMapping(Visit visit) {
    const int fd = open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    static char buf[8192];
    size_t have = 0;
    for (;;) {
        const ssize_t n = read(fd, buf + have, sizeof buf - 1 - have);
        if (n <= 0) break;
        have += static_cast<size_t>(n);
        size_t at = 0;
        for (;;) {
            char* nl = static_cast<char*>(memchr(buf + at, '\n', have - at));
            if (!nl) break;
            *nl = 0;
            Mapping m;
            if (ParseMapping(buf + at, m) && !visit(m)) {
                close(fd);
                return;
            }
            at = static_cast<size_t>(nl - buf) + 1;
        }
        memmove(buf, buf + at, have - at);
        have -= at;
        if (have == sizeof buf - 1) have = 0;  // a line longer than the buffer is skipped
    }
    close(fd);
}

const char* BaseName(const char* path) {
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/') name = p + 1;
    return name;
}

// ---- the report ----

struct Registers {
    uint64_t di = 0, si = 0, ax = 0, bx = 0, cx = 0, dx = 0, ip = 0, bp = 0, flags = 0, sp = 0;
    uint32_t cs = 0, ss = 0;
    bool write = false;
};

Registers RegistersOf(const void* context) {
    Registers r;
#if defined(__x86_64__)
    const auto* uc = static_cast<const ucontext_t*>(context);
    const greg_t* g = uc->uc_mcontext.gregs;
    r.di = static_cast<uint64_t>(g[REG_RDI]);
    r.si = static_cast<uint64_t>(g[REG_RSI]);
    r.ax = static_cast<uint64_t>(g[REG_RAX]);
    r.bx = static_cast<uint64_t>(g[REG_RBX]);
    r.cx = static_cast<uint64_t>(g[REG_RCX]);
    r.dx = static_cast<uint64_t>(g[REG_RDX]);
    r.ip = static_cast<uint64_t>(g[REG_RIP]);
    r.bp = static_cast<uint64_t>(g[REG_RBP]);
    r.flags = static_cast<uint64_t>(g[REG_EFL]);
    r.sp = static_cast<uint64_t>(g[REG_RSP]);
    const uint64_t csgsfs = static_cast<uint64_t>(g[REG_CSGSFS]);
    r.cs = static_cast<uint32_t>(csgsfs & 0xFFFF);
    r.ss = static_cast<uint32_t>((csgsfs >> 48) & 0xFFFF);
    r.write = (static_cast<uint64_t>(g[REG_ERR]) & 2) != 0;  // page-fault error code: write access
#else
    (void)context;
#endif
    return r;
}

void WriteMemoryLines(CReportFile& file) {
    struct sysinfo si;
    if (sysinfo(&si) != 0) return;
    const uint64_t unit = si.mem_unit ? si.mem_unit : 1;
    const uint64_t total = si.totalram * unit, avail = si.freeram * unit;
    const uint64_t swap = si.totalswap * unit, swapFree = si.freeswap * unit;
    // The user part of the address space and what this process has used of it.
    const uint64_t space = sizeof(void*) == 8 ? 0x7FFFFFFFF000ull : 0xC0000000ull;
    uint64_t used = 0;
    const int fd = open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        char buf[64];
        const ssize_t n = read(fd, buf, sizeof buf - 1);
        if (n > 0) {
            buf[n] = 0;
            for (const char* p = buf; *p >= '0' && *p <= '9'; ++p) used = used * 10 + static_cast<uint64_t>(*p - '0');
            used *= static_cast<uint64_t>(g_pageSize);
        }
        close(fd);
    }
    auto mb = [](uint64_t v) { return static_cast<unsigned long long>((v + 0xFFFFF) >> 20); };
    file.Printf("%d%% memory in use.\r\n", total ? static_cast<int>((total - avail) * 100 / total) : 0);
    file.Printf("%lu MBytes physical memory.\r\n", mb(total));
    file.Printf("%lu MBytes physical memory free.\r\n", mb(avail));
    file.Printf("%lu MBytes paging file.\r\n", mb(swap));
    file.Printf("%lu MBytes paging file free.\r\n", mb(swapFree));
    file.Printf("%lu MBytes user address space.\r\n", mb(space));
    file.Printf("%lu MBytes user address space free.\r\n", mb(used < space ? space - used : 0));
}

int ProcessorType() {
#if defined(__x86_64__)
    return 8664;
#elif defined(__i386__)
    return 586;
#elif defined(__aarch64__)
    return 0xAA64;
#else
    return 0;
#endif
}

void WriteReport(int signal, const siginfo_t* info, const void* context) {
    CReportFile file;
    if (!file.Open(g_reportPath)) return;  // read-only directory: no report
    const Registers r = RegistersOf(context);
    const uintptr_t fault = reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr);
    const bool overflow = signal == SIGSEGV && r.sp && fault + 65536 > r.sp && fault < r.sp + 65536;
    const uint32_t code = CCrashHandler::ExceptionCodeOf(signal, info ? info->si_code : 0, overflow);

    char module[520];
    CopyText(module, sizeof module, "Unknown");
    ForEachMapping([&](const Mapping& m) {
        if (r.ip < m.start || r.ip >= m.end) return true;
        if (m.path[0] == '/') CopyText(module, sizeof module, BaseName(m.path));
        return false;
    });

    file.Printf("%s caused %s (0x%08x) \r\n", g_programName, CCrashHandler::GetExceptionName(code), code);
    file.Printf("in module %s at %04x:%08lx.\r\n\r\n", module, r.cs, static_cast<unsigned long long>(r.ip));
    file.Printf("Exception handler called in %s.\r\n", CCrashHandler::kHandlerName);
    file.WriteText("Error occurred at ");
    file.WriteFileTime(time(nullptr));
    file.WriteText("\r\n");
    file.Printf("%s, run by %s\r\n", g_exePath, g_userName);
    struct utsname un;
    if (uname(&un) == 0) {
        unsigned v[3] = {0, 0, 0};
        const char* p = un.release;
        for (int i = 0; i < 3 && *p; ++i) {
            for (; *p >= '0' && *p <= '9'; ++p) v[i] = v[i] * 10 + static_cast<unsigned>(*p - '0');
            if (*p == '.') ++p;
            else break;
        }
        file.Printf("Operating system: %s %u.%u.%u\r\n", un.sysname, v[0], v[1], v[2]);
    } else {
        file.WriteText("Operating system: Unknown\r\n");
    }
    file.Printf("%dprocessor(s), type %d\r\n", g_processors, ProcessorType());
    WriteMemoryLines(file);
    if (code == 0xC0000005u) {
        file.Printf("%s location %08lx caused an access violation.\r\n", r.write ? "Write to" : "Read from",
                    static_cast<unsigned long long>(fault));
    }
    file.WriteText("\r\nContext:\r\n");
    file.Printf("RDI:    0x%08lx  RSI: 0x%08lx  RAX:   0x%08lx\r\n", r.di, r.si, r.ax);
    file.Printf("RBX:    0x%08lx  RCX: 0x%08lx  RDX:   0x%08lx\r\n", r.bx, r.cx, r.dx);
    file.Printf("RIP:    0x%08lx  RBP: 0x%08lx  SegCs: 0x%08x\r\n", r.ip, r.bp, r.cs);
    file.Printf("EFlags: 0x%08lx  RSP: 0x%08lx  SegSs: 0x%08x\r\n", r.flags, r.sp, r.ss);
    file.WriteText("\r\nBytes at CS:EIP:\r\n");
    for (int i = 0; i < kCodeBytes; ++i) {
        uint8_t b;
        if (ReadMemory(static_cast<uintptr_t>(r.ip) + static_cast<uintptr_t>(i), &b, 1)) {
            file.Printf("%02x ", b);
        } else {
            file.WriteText("?? ");
        }
    }
    uintptr_t stackBase = 0;
    ForEachMapping([&](const Mapping& m) {
        if (r.sp < m.start || r.sp >= m.end) return true;
        stackBase = m.end;
        return false;
    });
    CCrashHandler::WriteStack(file, static_cast<uintptr_t>(r.sp), stackBase);
    CCrashHandler::WriteModuleList(file);
    file.Close();
}

void OnSignal(int signal, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    int expected = kArmed;
    if (g_state.compare_exchange_strong(expected, kWriting, std::memory_order_acq_rel)) {
        WriteReport(signal, info, context);
        g_state.store(kDone, std::memory_order_release);
    } else {
        // Another thread is writing: let it finish before this one ends the process.
        for (int i = 0; i < 10000 && g_state.load(std::memory_order_acquire) == kWriting; ++i) {
            const timespec ms{0, 1000000};
            nanosleep(&ms, nullptr);
        }
    }
    struct sigaction dfl;
    memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signal, &dfl, nullptr);
    errno = savedErrno;
    // A signal that was sent (kill, raise, abort) is sent again; a fault
    // returns to its instruction and faults again, now without us.
    if (!info || info->si_code <= 0 || signal == SIGABRT) raise(signal);
}

}  // namespace

// ---- CReportFile ----

bool CReportFile::Open(const char* path) {
    Close();
    m_fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
    m_length = 0;
    return m_fd >= 0;
}

void CReportFile::Close() {
    if (m_fd < 0) return;
    Flush();
    close(m_fd);
    m_fd = -1;
}

void CReportFile::Flush() {
    const char* p = m_buffer;
    size_t left = static_cast<size_t>(m_length);
    while (left && m_fd >= 0) {
        const ssize_t n = write(m_fd, p, left);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            break;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    m_length = 0;
}

void CReportFile::Append(const char* text, size_t length) {
    if (m_length > kFlushAbove) Flush();
    if (length > kMaxAppend) length = kMaxAppend;
    memcpy(m_buffer + m_length, text, length);
    m_length += static_cast<int32_t>(length);
}

void CReportFile::Printf(const char* format, ...) {
    char text[kMaxAppend + 1];
    va_list args;
    va_start(args, format);
    const size_t n = FormatV(text, sizeof text, format, args);
    va_end(args);
    Append(text, n);
}

void CReportFile::WriteChar(char c) { Append(&c, 1); }

void CReportFile::WriteFileTime(int64_t unixSeconds) {
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    const int64_t local = unixSeconds + g_timezoneOffset;
    int64_t days = local / 86400;
    int64_t secs = local % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    // The file-system clock keeps seconds in steps of two.
    Printf("%d/%d/%d %02d:%02d:%02d", month, day, year, static_cast<int>(secs / 3600),
           static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60 / 2 * 2));
}

// ---- CCrashHandler ----

bool CCrashHandler::Install(const char* reportDirectory) {
    const ssize_t n = readlink("/proc/self/exe", g_exePath, sizeof g_exePath - 1);
    if (n > 0) {
        g_exePath[n] = 0;
    } else {
        CopyText(g_exePath, sizeof g_exePath, "Unknown");
    }
    CopyText(g_programName, sizeof g_programName, BaseName(g_exePath));
    if (char* dot = strrchr(g_programName, '.')) *dot = 0;
    if (reportDirectory) {
        CopyText(g_reportPath, sizeof g_reportPath, reportDirectory);
    } else {
        CopyText(g_reportPath, sizeof g_reportPath, g_exePath);
        char* slash = strrchr(g_reportPath, '/');
        if (slash) {
            *slash = 0;
        } else {
            g_reportPath[0] = 0;
        }
    }
    if (g_reportPath[0]) {
        const size_t len = Length(g_reportPath);
        if (len + 1 < sizeof g_reportPath && g_reportPath[len - 1] != '/') {
            g_reportPath[len] = '/';
            g_reportPath[len + 1] = 0;
        }
    }
    const size_t len = Length(g_reportPath);
    CopyText(g_reportPath + len, sizeof g_reportPath - len, kReportName);

    char pwbuf[1024];
    passwd pw;
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, pwbuf, sizeof pwbuf, &found) == 0 && found && found->pw_name) {
        CopyText(g_userName, sizeof g_userName, found->pw_name);
    }
    const time_t now = time(nullptr);
    tm local;
    if (localtime_r(&now, &local)) g_timezoneOffset = local.tm_gmtoff;
    const long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    g_processors = cpus > 0 ? static_cast<int>(cpus) : 1;
    const long page = sysconf(_SC_PAGESIZE);
    if (page > 0) g_pageSize = page;

    stack_t ss;
    memset(&ss, 0, sizeof ss);
    ss.ss_sp = g_mainAltStack;
    ss.ss_size = sizeof g_mainAltStack;
    sigaltstack(&ss, nullptr);

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = OnSignal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    bool ok = true;
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        ok = sigaction(kSignals[i], &sa, g_installed ? nullptr : &g_previous[i]) == 0 && ok;
    }
    g_installed = true;
    g_state.store(kArmed, std::memory_order_release);
    return ok;
}

void CCrashHandler::Uninstall() {
    if (!g_installed) return;
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
    g_installed = false;
}

CCrashHandler::CThreadGuard::CThreadGuard() {
    m_stack = new (std::nothrow) char[kAltStackBytes];
    if (!m_stack) return;
    stack_t ss;
    memset(&ss, 0, sizeof ss);
    ss.ss_sp = m_stack;
    ss.ss_size = kAltStackBytes;
    sigaltstack(&ss, nullptr);
}

CCrashHandler::CThreadGuard::~CThreadGuard() {
    if (!m_stack) return;
    stack_t ss;
    memset(&ss, 0, sizeof ss);
    ss.ss_flags = SS_DISABLE;
    sigaltstack(&ss, nullptr);
    delete[] static_cast<char*>(m_stack);
}

uint32_t CCrashHandler::ExceptionCodeOf(int signal, int code, bool stackOverflow) {
    switch (signal) {
        case SIGSEGV:
            return stackOverflow ? 0xC00000FDu : 0xC0000005u;
        case SIGBUS:
            return code == BUS_ADRALN ? 0x80000002u : 0xC0000006u;
        case SIGFPE:
            switch (code) {
                case FPE_INTDIV: return 0xC0000094u;
                case FPE_INTOVF: return 0xC0000095u;
                case FPE_FLTDIV: return 0xC000008Eu;
                case FPE_FLTOVF: return 0xC0000091u;
                case FPE_FLTUND: return 0xC0000093u;
                case FPE_FLTRES: return 0xC000008Fu;
                case FPE_FLTINV: return 0xC0000090u;
                case FPE_FLTSUB: return 0xC000008Cu;
                default: return 0xC0000090u;
            }
        case SIGILL:
            return code == ILL_PRVOPC || code == ILL_PRVREG ? 0xC0000096u : 0xC000001Du;
        case SIGABRT:
            return 0x40000015u;  // the code a fatal application exit (abort) raises
        default:
            return 0;
    }
}

const char* CCrashHandler::GetExceptionName(uint32_t code) {
    switch (code) {
        case 0x40010005u: return "a Control-C";
        case 0x40010008u: return "a Control-Break";
        case 0x40000015u: return "an Abort";
        case 0x80000002u: return "a Datatype Misalignment";
        case 0x80000003u: return "a Breakpoint";
        case 0xC0000005u: return "an Access Violation";
        case 0xC0000006u: return "an In Page Error";
        case 0xC0000017u: return "a No Memory";
        case 0xC000001Du: return "an Illegal Instruction";
        case 0xC0000025u: return "a Noncontinuable Exception";
        case 0xC0000026u: return "an Invalid Disposition";
        case 0xC000008Cu: return "a Array Bounds Exceeded";
        case 0xC000008Du: return "a Float Denormal Operand";
        case 0xC000008Eu: return "a Float Divide by Zero";
        case 0xC000008Fu: return "a Float Inexact Result";
        case 0xC0000090u: return "a Float Invalid Operation";
        case 0xC0000091u: return "a Float Overflow";
        case 0xC0000092u: return "a Float Stack Check";
        case 0xC0000093u: return "a Float Underflow";
        case 0xC0000094u: return "an Integer Divide by Zero";
        case 0xC0000095u: return "an Integer Overflow";
        case 0xC0000096u: return "a Privileged Instruction";
        case 0xC00000FDu: return "a Stack Overflow";
        case 0xC0000142u: return "a DLL Initialization Failed";
        case 0xE06D7363u: return "a Microsoft C++ Exception";
        default: return "an Unknown exception type";
    }
}

void CCrashHandler::WriteStack(CReportFile& file, uintptr_t address, uintptr_t base) {
    file.WriteText("\r\n\r\nStack:\r\n");
    int words = base > address ? static_cast<int>((base - address) / 4 > kMaxStackWords ? kMaxStackWords
                                                                                        : (base - address) / 4)
                               : 0;
    for (int first = 0; first < words; first += 4) {
        const int inLine = words - first < 4 ? words - first : 4;
        uint32_t line[4];
        if (!ReadMemory(address + static_cast<uintptr_t>(first) * 4, line, static_cast<size_t>(inLine) * 4)) break;
        file.Printf("0x%08lx: ", static_cast<unsigned long long>(address + static_cast<uintptr_t>(first) * 4));
        for (int i = 0; i < inLine; ++i) file.Printf("%08x ", line[i]);
        for (int i = inLine; i < 4; ++i) file.WriteText("         ");
        for (int i = 0; i < inLine; ++i) {
            for (int b = 0; b < 4; ++b) {
                const uint8_t c = static_cast<uint8_t>(line[i] >> (8 * b));  // memory order, lowest first
                file.WriteChar(c >= 32 && c <= 126 ? static_cast<char>(c) : '.');
            }
        }
        file.WriteText("\r\n");
    }
    file.WriteText("\r\n");
}

void CCrashHandler::WriteModuleList(CReportFile& file) {
    struct Module {
        uintptr_t base = 0, end = 0;
        char path[512] = {};
    };
    static Module current;
    current.base = current.end = 0;
    current.path[0] = 0;
    uintptr_t highest = 0;
    int number = 1;
    auto emit = [&]() {
        if (!current.path[0]) return;
        uint8_t magic[4];
        if (!ReadMemory(current.base, magic, 4) || memcmp(magic, "\x7f" "ELF", 4) != 0) return;
        file.Printf("Module %d\r\n", number);
        file.Printf("%s\r\n", current.path);
        file.Printf("Image Base: 0x%08lx  Image Size: 0x%08lx\r\n", static_cast<unsigned long long>(current.base),
                    static_cast<unsigned long long>(current.end - current.base));
        file.Printf("Checksum:   0x%08x  Time Stamp: 0x%08x\r\n", 0u, 0u);
        int64_t size = 0;
        int64_t mtime = -1;
        const int fd = open(current.path, O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            struct stat st;
            if (fstat(fd, &st) == 0) {
                size = st.st_size;
                mtime = st.st_mtime;
            }
            close(fd);
        }
        file.Printf("File Size:  %-10ld  File Time:  ", static_cast<long long>(size));
        if (mtime >= 0) file.WriteFileTime(mtime);
        file.WriteText("\r\n");
        file.WriteText("Version Information:\r\n");
        file.WriteText("   Company:    \r\n");
        file.WriteText("   Product:    \r\n");
        file.WriteText("   FileDesc:   \r\n");
        file.WriteText("   FileVer:    0.0.0.0\r\n");
        file.WriteText("   ProdVer:    0.0.0.0\r\n");
        file.WriteText("\r\n");
        ++number;
    };
    ForEachMapping([&](const Mapping& m) {
        const bool file_backed = m.path[0] == '/';
        if (file_backed && current.path[0] && strcmp(m.path, current.path) == 0 && m.start >= current.end) {
            current.end = m.end;  // further segments of the same file
            return true;
        }
        if (file_backed && m.offset == 0 && m.start > highest) {
            emit();
            highest = m.start;
            current.base = m.start;
            current.end = m.end;
            CopyText(current.path, sizeof current.path, m.path);
        }
        return true;
    });
    emit();
}
