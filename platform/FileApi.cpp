#include "platform/FileApi.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/syscall.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Handles carry the descriptor plus one, so no open file ever looks like
// null or INVALID_HANDLE_VALUE.
HANDLE ToHandle(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1); }

int ToFd(HANDLE h) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return -1;
    const intptr_t v = reinterpret_cast<intptr_t>(h) - 1;
    return v < 0 || v > 0x7FFFFFFF ? -1 : static_cast<int>(v);
}

constexpr int64_t kUnixEpochIn1601Seconds = 11644473600LL;

}  // namespace

FILETIME FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds) {
    const uint64_t ticks =
        static_cast<uint64_t>(seconds + kUnixEpochIn1601Seconds) * 10000000ull + nanoseconds / 100u;
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

void UnixFromFileTime(const FILETIME& time, int64_t* seconds, uint32_t* nanoseconds) {
    const uint64_t ticks = (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    *seconds = static_cast<int64_t>(ticks / 10000000ull) - kUnixEpochIn1601Seconds;
    *nanoseconds = static_cast<uint32_t>(ticks % 10000000ull) * 100u;
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD shareMode, void* /*security*/, DWORD creation,
                   DWORD /*flags*/, HANDLE /*templateFile*/) {
    if (!name || !*name) return INVALID_HANDLE_VALUE;
    int oflags = O_CLOEXEC;
    const bool reading = access & GENERIC_READ;
    const bool writing = access & GENERIC_WRITE;
    if (reading && writing) {
        oflags |= O_RDWR;
    } else if (writing) {
        oflags |= O_WRONLY;
    } else {
        oflags |= O_RDONLY;
    }
    switch (creation) {
    case CREATE_NEW:
        oflags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        oflags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        oflags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!writing) return INVALID_HANDLE_VALUE;
        oflags |= O_TRUNC;
        break;
    default:
        return INVALID_HANDLE_VALUE;
    }
    // Truncation waits until the lock is ours, so a file that another handle
    // holds is not emptied under it.
    const bool truncate = oflags & O_TRUNC;
    oflags &= ~O_TRUNC;
    int fd;
    do {
        fd = ::open(name, oflags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    int lock = 0;
    if (writing || !(shareMode & FILE_SHARE_READ)) {
        lock = (shareMode & (FILE_SHARE_READ | FILE_SHARE_WRITE)) == (FILE_SHARE_READ | FILE_SHARE_WRITE)
                   ? 0
                   : LOCK_EX;
    } else if (!(shareMode & FILE_SHARE_WRITE)) {
        lock = LOCK_SH;
    }
    if (lock && ::flock(fd, lock | LOCK_NB) != 0) {
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    if (truncate && ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return ToHandle(fd);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* bytesRead, void* /*overlapped*/) {
    if (bytesRead) *bytesRead = 0;
    const int fd = ToFd(file);
    if (fd < 0 || (!buffer && bytes)) return FALSE;
    DWORD done = 0;
    while (done < bytes) {
        const ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (bytesRead) *bytesRead = done;
            return FALSE;
        }
        if (n == 0) break;  // end of file: success with fewer bytes
        done += static_cast<DWORD>(n);
    }
    if (bytesRead) *bytesRead = done;
    return TRUE;
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* bytesWritten, void* /*overlapped*/) {
    if (bytesWritten) *bytesWritten = 0;
    const int fd = ToFd(file);
    if (fd < 0 || (!buffer && bytes)) return FALSE;
    DWORD done = 0;
    while (done < bytes) {
        const ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, bytes - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (bytesWritten) *bytesWritten = done;
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (bytesWritten) *bytesWritten = done;
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
    const int fd = ToFd(file);
    int whence;
    switch (method) {
    case FILE_BEGIN:
        whence = SEEK_SET;
        break;
    case FILE_CURRENT:
        whence = SEEK_CUR;
        break;
    case FILE_END:
        whence = SEEK_END;
        break;
    default:
        return INVALID_SET_FILE_POINTER;
    }
    if (fd < 0) return INVALID_SET_FILE_POINTER;
    // Without a high part the distance is a signed 32-bit value.
    const int64_t move =
        distanceHigh
            ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                   static_cast<uint32_t>(distance))
            : static_cast<int64_t>(distance);
    const off_t pos = ::lseek(fd, static_cast<off_t>(move), whence);
    if (pos < 0) return INVALID_SET_FILE_POINTER;
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(pos) >> 32);
    return static_cast<DWORD>(pos);
}

DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
    const int fd = ToFd(file);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return INVALID_FILE_SIZE;
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    return static_cast<DWORD>(st.st_size);
}

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite) {
    const int fd = ToFd(file);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return FALSE;
    if (creation) *creation = FileTimeFromUnix(st.st_ctim.tv_sec, static_cast<uint32_t>(st.st_ctim.tv_nsec));
    if (lastAccess)
        *lastAccess = FileTimeFromUnix(st.st_atim.tv_sec, static_cast<uint32_t>(st.st_atim.tv_nsec));
    if (lastWrite)
        *lastWrite = FileTimeFromUnix(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
    return TRUE;
}

BOOL SetFileTime(HANDLE file, const FILETIME* /*creation*/, const FILETIME* lastAccess,
                 const FILETIME* lastWrite) {
    const int fd = ToFd(file);
    if (fd < 0) return FALSE;
    struct timespec times[2];
    const FILETIME* given[2] = {lastAccess, lastWrite};
    for (int i = 0; i < 2; ++i) {
        if (!given[i]) {
            times[i].tv_sec = 0;
            times[i].tv_nsec = UTIME_OMIT;
            continue;
        }
        int64_t seconds;
        uint32_t nanoseconds;
        UnixFromFileTime(*given[i], &seconds, &nanoseconds);
        times[i].tv_sec = static_cast<time_t>(seconds);
        times[i].tv_nsec = static_cast<long>(nanoseconds);
    }
    return ::futimens(fd, times) == 0 ? TRUE : FALSE;
}

BOOL CloseHandle(HANDLE file) {
    const int fd = ToFd(file);
    if (fd < 0) return FALSE;
    return ::close(fd) == 0 ? TRUE : FALSE;  // the lock goes with the descriptor
}

BOOL DeleteFileA(const char* name) {
    if (!name || !*name) return FALSE;
    struct stat st {};
    if (::lstat(name, &st) != 0 || S_ISDIR(st.st_mode)) return FALSE;
    return ::unlink(name) == 0 ? TRUE : FALSE;
}

BOOL MoveFileA(const char* from, const char* to) {
    if (!from || !*from || !to || !*to) return FALSE;
    // POSIX rename replaces its target; the no-replace form refuses instead.
    if (::syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return TRUE;
    if (errno != EINVAL && errno != ENOSYS) return FALSE;
    // A file system without it: a hard link fails on an existing name too.
    if (::link(from, to) != 0) return FALSE;
    return ::unlink(from) == 0 ? TRUE : FALSE;
}
