#pragma once
// The COM calls the program needs to create an in-process driver by class
// id. The classes are the built-in drivers of platform/ (no shared objects
// are loaded), found by their class id in a process-wide table.
//
// Threads: any; the table is read-only once built.
#include <cstdint>

#include "platform/WinTypes.h"

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;

struct CLSID {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
    bool operator==(const CLSID&) const = default;
};
using IID = CLSID;

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", either case. E_FAIL for anything else.
HRESULT CLSIDFromString(const char* text, CLSID* out);
// The same form in upper case; `size` at least 39.
void StringFromCLSID(const CLSID& id, char* text, int size);

// Creates the built-in class `clsid`; `iid` must be the class id itself (the
// driver convention). REGDB_E_CLASSNOTREG for an unknown class.
HRESULT CoCreateInstance(const CLSID& clsid, void* outer, DWORD context, const IID& iid, void** out);

// A built-in class: its id and how to make one. Returns null when it cannot.
using ComFactory = void* (*)(const CLSID& clsid);
void ComRegisterClass(const CLSID& clsid, ComFactory factory);
