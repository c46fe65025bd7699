#pragma once
// A thin owner of one file handle with the program's three open modes (also
// used by the phonebook file). Embedded by value in its owner and used on the
// owner's thread only; no locking.
#include "platform/WinTypes.h"

enum FileMode : int {
    FILEMODE_READ = 10,     // existing file, read only, others may read too
    FILEMODE_REWRITE = 20,  // deleted first, then read and write, not shared
    FILEMODE_APPEND = 21,   // read and write, not shared, created if missing, positioned at its end
};

class CFileHandle {
public:
    CFileHandle() = default;
    ~CFileHandle() { Close(); }
    CFileHandle(const CFileHandle&) = delete;
    CFileHandle& operator=(const CFileHandle&) = delete;

    // 1 when the file is open. Closes any open file first; an unknown mode
    // gives 0 and leaves the object closed.
    int Open(const char* name, int mode);
    // Bytes read; 0 when closed or on failure.
    DWORD Read(void* buffer, DWORD bytes);
    // Writes when open, `buffer` is not null and `bytes` is not 0.
    void Write(const void* buffer, DWORD bytes);
    // New position from origin 0 (beginning), 1 (current) or 2 (end); 0 when
    // closed; -1 for any other origin or a position before the start, and
    // the position stays where it was.
    long Seek(LONG distance, int origin);
    // Size in bytes (low 32 bits); 0 when closed.
    DWORD GetSize();
    // 1 and the last-write time, or 0 when closed or the query fails.
    int GetLastWriteTime(FILETIME& out);
    // Creation (where the system keeps one), last-access and last-write time
    // all become `time`; 1 on success, 0 when closed or refused.
    int SetFileTime(const FILETIME& time);
    void Close();
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};
