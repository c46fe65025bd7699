#pragma once
// What a program knows about itself: the running program's file, the power
// and screen-saver switches a studio machine turns off during a call, and the
// timer resolution. Any thread.
#include "platform/WinTypes.h"

// The running program's full path in `out` (terminated within `size`);
// returns its length, 0 when it cannot be had or does not fit.
DWORD GetProgramPath(char* out, DWORD size);

constexpr UINT SPI_GETSCREENSAVEACTIVE = 16;
constexpr UINT SPI_SETSCREENSAVEACTIVE = 17;
constexpr UINT SPI_GETLOWPOWERACTIVE = 83;
constexpr UINT SPI_GETPOWEROFFACTIVE = 84;
constexpr UINT SPI_SETLOWPOWERACTIVE = 85;
constexpr UINT SPI_SETPOWEROFFACTIVE = 86;
constexpr UINT SPIF_SENDWININICHANGE = 2;

// The three switches above. A Linux studio machine has no such system-wide
// switches the program may change, so they are kept for the process: what is
// set is what is read back (all start active). Set calls take the value in
// `param`, get calls write an int through `pvParam`. FALSE for another action.
BOOL SystemParametersInfoA(UINT action, UINT param, void* pvParam, UINT winIni);
