#pragma once
// Whether a destination can be dialled at all. Destinations come from
// outside (remote-control requests, phonebook files); they are checked where
// they enter and once more before a transport sees them, so that nothing a
// request contains can cost the station its listening socket. Any thread.
#include <cstdint>

#include "common/Records.h"

// A TCP or UDP port a call can go to: 1 to 65535.
bool IsValidPort(int64_t port);
// Known kind; an address (IP, multicast) or first number (ISDN) that is not
// empty and ends within its field; a valid port for the IP kinds.
bool IsValidDestination(const ConnectionInfo& destination);
