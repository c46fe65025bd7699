#include "common/FileHandle.h"

#include "platform/FileApi.h"

int CFileHandle::Open(const char* name, int mode) {
    Close();
    if (!name) return 0;
    switch (mode) {
    case FILEMODE_READ:
        m_handle = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        break;
    case FILEMODE_REWRITE:
        DeleteFileA(name);
        m_handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        break;
    case FILEMODE_APPEND:
        m_handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (IsOpen()) SetFilePointer(m_handle, 0, nullptr, FILE_END);
        break;
    default:
        return 0;
    }
    return IsOpen() ? 1 : 0;
}

DWORD CFileHandle::Read(void* buffer, DWORD bytes) {
    if (!IsOpen() || !buffer || bytes == 0) return 0;
    DWORD done = 0;
    if (!ReadFile(m_handle, buffer, bytes, &done, nullptr)) return 0;
    return done;
}

void CFileHandle::Write(const void* buffer, DWORD bytes) {
    if (!IsOpen() || !buffer || bytes == 0) return;
    DWORD done = 0;
    WriteFile(m_handle, buffer, bytes, &done, nullptr);
}

long CFileHandle::Seek(LONG distance, int origin) {
    if (origin < 0 || origin > 2) return -1;
    if (!IsOpen()) return 0;
    const DWORD pos = SetFilePointer(m_handle, distance, nullptr, static_cast<DWORD>(origin));
    return pos == INVALID_SET_FILE_POINTER ? -1 : static_cast<long>(pos);
}

DWORD CFileHandle::GetSize() {
    if (!IsOpen()) return 0;
    const DWORD size = GetFileSize(m_handle, nullptr);
    return size == INVALID_FILE_SIZE ? 0 : size;
}

int CFileHandle::GetLastWriteTime(FILETIME& out) {
    if (!IsOpen()) return 0;
    return GetFileTime(m_handle, nullptr, nullptr, &out) ? 1 : 0;
}

int CFileHandle::SetFileTime(const FILETIME& time) {
    if (!IsOpen()) return 0;
    return ::SetFileTime(m_handle, &time, &time, &time) ? 1 : 0;
}

void CFileHandle::Close() {
    if (!IsOpen()) return;
    CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}
