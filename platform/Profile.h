#pragma once
// The private-profile (INI file) calls with the Windows rules the settings
// store relies on: section and key names compare without regard to case,
// values are trimmed and lose one pair of enclosing quotes, a write creates the
// file and the section, and every other line keeps its place and its bytes.
//
// Any thread. One process-wide lock serialises every call, so two threads that
// write different keys at the same time lose nothing; a write goes to a
// temporary file beside the target that is then renamed over it, so a crash
// mid-write leaves either the old or the new file, never half of one.
#include <cstddef>

#include "platform/WinTypes.h"

// The value of `key` in `section` as a signed decimal (leading sign and digits;
// anything else reads as 0), or `defaultValue` when the file, section or key is
// missing or the value is empty. Callers take the result as int.
UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* file);

// Copies the value (or `defaultValue`, trimmed; null means "") into `out`,
// cut to size - 1 characters and always terminated; returns the characters
// copied. A null `key` lists the section's key names, a null `section` the
// section names, each terminated, the list ending with a second NUL.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* out,
                               DWORD size, const char* file);

// Sets `key` in `section` to `value`, creating file and section as needed.
// A null `value` removes the key, a null `key` the whole section. FALSE when
// the file cannot be written (read-only, no rights, bad folder) or a name or
// value holds a line break; the file is then unchanged.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* file);

inline UINT GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* file) {
    return GetPrivateProfileIntA(section, key, defaultValue, file);
}
inline DWORD GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                     char* out, DWORD size, const char* file) {
    return GetPrivateProfileStringA(section, key, defaultValue, out, size, file);
}
inline BOOL WritePrivateProfileString(const char* section, const char* key, const char* value,
                                      const char* file) {
    return WritePrivateProfileStringA(section, key, value, file);
}
