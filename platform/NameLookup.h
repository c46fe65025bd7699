#pragma once
// Address texts and host names to IPv4 addresses, as Winsock's inet_addr and
// gethostbyname. Thread-safe: any thread, e.g. a connect worker.
#include <cstdint>

namespace ws {

// "a.b.c.d" (and the shorter classic forms) to an address in host byte order;
// kAddressNone (0xFFFFFFFF) when the text is not an address.
uint32_t inet_addr(const char* text);

// The first IPv4 address of a host name, host byte order. 0 on success,
// SOCKET_ERROR with 11001 (no such host), 11002 (try again), 11003 (failure)
// or 11004 (no address) as the last error.
int gethostbyname(const char* name, uint32_t* firstAddress);

}  // namespace ws
