#pragma once
// The Win32 file calls the program's file helper needs, over POSIX files.
// Sharing is imitated with advisory whole-file locks: a handle opened without
// sharing (or for writing) takes an exclusive lock, a shared reader a shared
// one, so a second opener that Windows would turn away is turned away here
// too (between handles of this program). A handle belongs to one thread.
#include <cstdint>

#include "platform/WinTypes.h"

constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_BEGIN = 0;
constexpr DWORD FILE_CURRENT = 1;
constexpr DWORD FILE_END = 2;
constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

// INVALID_HANDLE_VALUE on failure (missing file for OPEN_EXISTING, a folder,
// no rights, a sharing conflict). `security`, `flags` and `templateFile` are
// accepted and ignored.
HANDLE CreateFileA(const char* name, DWORD access, DWORD shareMode, void* security, DWORD creation,
                   DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* bytesRead, void* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* bytesWritten, void* overlapped);
// New position (low 32 bits, high part through `distanceHigh` when given), or
// INVALID_SET_FILE_POINTER for a bad handle, method or a position before 0.
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, DWORD* sizeHigh);
// Linux keeps no creation time; the status-change time stands in for it.
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
// Sets last-access and last-write time (null leaves one as it is); the
// creation time cannot be set here and is ignored.
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);
BOOL CloseHandle(HANDLE file);
BOOL DeleteFileA(const char* name);
// Renames a file; FALSE when `to` exists (never replaced) or the rename fails.
BOOL MoveFileA(const char* from, const char* to);

inline HANDLE CreateFile(const char* name, DWORD access, DWORD shareMode, void* security, DWORD creation,
                         DWORD flags, HANDLE templateFile) {
    return CreateFileA(name, access, shareMode, security, creation, flags, templateFile);
}
inline BOOL DeleteFile(const char* name) { return DeleteFileA(name); }
inline BOOL MoveFile(const char* from, const char* to) { return MoveFileA(from, to); }

// FILETIME and Unix time (seconds and nanoseconds since 1970).
FILETIME FileTimeFromUnix(int64_t seconds, uint32_t nanoseconds);
void UnixFromFileTime(const FILETIME& time, int64_t* seconds, uint32_t* nanoseconds);
