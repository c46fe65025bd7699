#pragma once
// A thin owner of one registry key under HKEY_LOCAL_MACHINE. Embedded by value
// in its owner and used on the owner's thread only; no locking.
#include "platform/WinTypes.h"

struct RegistryKeyObject;

class CRegistryKey {
public:
    CRegistryKey() = default;
    ~CRegistryKey() { Close(); }
    CRegistryKey(const CRegistryKey&) = delete;
    CRegistryKey& operator=(const CRegistryKey&) = delete;

    // 1/0. Fails while a key is open (that key stays open). Read only opens
    // for reading; otherwise values may also be set and sub keys created.
    int Open(const char* subKey, bool readOnly);
    // 1/0. Creates the key (and its parents) or opens it, for writing only.
    // Fails while a key is open.
    int Create(const char* subKey);
    void Close();
    bool IsOpen() const { return m_key != nullptr; }

    // 1 only when the value exists, is of type REG_SZ and fits; `buffer` then
    // holds it, always terminated within `size` bytes.
    int QueryString(const char* valueName, char* buffer, DWORD size);
    // Writes `size` bytes of `text` as REG_SZ; nothing when closed.
    void SetString(const char* valueName, const char* text, DWORD size);
    // The value; 0 when closed, missing or not of type REG_DWORD.
    DWORD QueryDword(const char* valueName);
    void SetDword(const char* valueName, DWORD value);

    static constexpr const char* kKeyClass = "Qiv";

private:
    RegistryKeyObject* m_key = nullptr;
};
