#pragma once
// A small file-backed stand-in for the Windows registry: keys and values the
// program keeps under HKEY_LOCAL_MACHINE (its own key, the ASIO driver list)
// and the class ids of the built-in drivers under HKEY_CLASSES_ROOT.
// Key paths and value names compare without regard to case. The store is one
// text file, named by VELMORA_REGISTRY_FILE, else ~/.velmora/registry; every
// call reads it and every change rewrites it whole (temporary file, rename)
// under one process-wide lock. Any thread; a key handle belongs to one.
#include "platform/WinTypes.h"

struct RegistryKeyObject;
using HKEY = RegistryKeyObject*;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))

constexpr DWORD KEY_QUERY_VALUE = 0x0001;
constexpr DWORD KEY_SET_VALUE = 0x0002;
constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
constexpr DWORD KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr DWORD KEY_NOTIFY = 0x0010;
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// All return ERROR_SUCCESS or an error code of platform/WinError.h.
// ERROR_FILE_NOT_FOUND when the key does not exist.
LONG RegOpenKeyExA(HKEY parent, const char* subKey, DWORD options, DWORD access, HKEY* result);
// Creates the key and any missing parents; `keyClass` is kept with a new key.
LONG RegCreateKeyExA(HKEY parent, const char* subKey, DWORD reserved, const char* keyClass, DWORD options,
                     DWORD access, void* security, HKEY* result, DWORD* disposition);
LONG RegCloseKey(HKEY key);
// With null `data` only type and size are given; a too small buffer gives
// ERROR_MORE_DATA and the size needed.
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueExA(HKEY key, const char* valueName, DWORD reserved, DWORD type, const BYTE* data,
                    DWORD size);
LONG RegDeleteValueA(HKEY key, const char* valueName);
// Name of the index-th direct sub key (in name order); ERROR_NO_MORE_ITEMS past the last.
LONG RegEnumKeyA(HKEY key, DWORD index, char* name, DWORD nameSize);

// Where the store lives for this process (the environment is read each call).
const char* RegistryStorePath();
