#pragma once
// Shared libraries loaded by name at run time, in Windows shape. A bare name
// is searched the system's way (the program's run path, then the library
// path); a name with a slash is taken as a path. Any thread.
#include "platform/WinTypes.h"

using HMODULE = void*;
using FARPROC = void (*)();

// Null when the library or one it needs cannot be found.
HMODULE LoadLibraryA(const char* name);
// Null when the module lacks the symbol.
FARPROC GetProcAddress(HMODULE module, const char* name);
BOOL FreeLibrary(HMODULE module);
