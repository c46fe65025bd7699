#pragma once
// The process-wide switches of l3core: the client/library version handshake
// and the SSE paths of the vector routines. Any thread: the version check
// runs once however many encoders open at the same time.
#include "mp3enc/util/EncError.h"

inline constexpr int kL3CoreVersion = 0x2070001;

// Accepts a client whose upper 16 bits are 0x0207 and then turns the SSE
// paths on where the processor has them. libraryVersion may be null.
EncError* L3CoreCheckVersion(int clientVersion, int* libraryVersion);
// "no Pentium III in this system" when enable is asked of a processor
// without SSE; the flag then stays as it was.
EncError* L3CoreSetSSE(int enable);
// The check with kL3CoreVersion, once per process; later calls return at once.
void L3CoreCheckVersionOnce();
