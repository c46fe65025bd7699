#include "common/RegistryKey.h"

#include <cstring>

#include "platform/Registry.h"
#include "platform/WinError.h"

int CRegistryKey::Open(const char* subKey, bool readOnly) {
    if (m_key) return 0;
    const DWORD access = readOnly ? KEY_READ : (KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access, &key) != ERROR_SUCCESS) return 0;
    m_key = key;
    return 1;
}

int CRegistryKey::Create(const char* subKey) {
    if (m_key) return 0;
    HKEY key = nullptr;
    DWORD disposition = 0;
    // Reading stays allowed too, so a key just created can be checked back.
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, kKeyClass, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE | KEY_READ, nullptr, &key, &disposition) != ERROR_SUCCESS) {
        return 0;
    }
    m_key = key;
    return 1;
}

void CRegistryKey::Close() {
    if (!m_key) return;
    RegCloseKey(m_key);
    m_key = nullptr;
}

int CRegistryKey::QueryString(const char* valueName, char* buffer, DWORD size) {
    if (!m_key || !buffer || size == 0) return 0;
    DWORD type = REG_NONE;
    DWORD got = size;
    if (RegQueryValueExA(m_key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &got) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        buffer[0] = '\0';
        return 0;
    }
    // A value stored without its terminator still comes back as a string.
    if (got == 0 || buffer[got - 1] != '\0') {
        if (got >= size) {
            buffer[0] = '\0';
            return 0;
        }
        buffer[got] = '\0';
    }
    return 1;
}

void CRegistryKey::SetString(const char* valueName, const char* text, DWORD size) {
    if (!m_key || !text) return;
    RegSetValueExA(m_key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
}

DWORD CRegistryKey::QueryDword(const char* valueName) {
    if (!m_key) return 0;
    DWORD type = REG_NONE;
    BYTE data[4] = {};
    DWORD size = sizeof data;
    if (RegQueryValueExA(m_key, valueName, nullptr, &type, data, &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != 4) {
        return 0;
    }
    // REG_DWORD is little-endian whatever the host.
    return static_cast<DWORD>(data[0]) | (static_cast<DWORD>(data[1]) << 8) |
           (static_cast<DWORD>(data[2]) << 16) | (static_cast<DWORD>(data[3]) << 24);
}

void CRegistryKey::SetDword(const char* valueName, DWORD value) {
    if (!m_key) return;
    const BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                          static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    RegSetValueExA(m_key, valueName, 0, REG_DWORD, data, sizeof data);
}
