#include "common/Destination.h"

#include <cstring>

#include "common/Codes.h"

namespace {

// Blanks, '*' and '_' are dropped from an address before it is dialled, so a
// text of nothing else is as empty as no text.
bool HasDialableText(const char* text, size_t width) {
    const void* end = std::memchr(text, 0, width);
    if (!end) return false;  // over-long: the field holds no terminator
    for (const char* p = text; p != end; ++p) {
        if (*p != ' ' && *p != '*' && *p != '_') return true;
    }
    return false;
}

}  // namespace

bool IsValidPort(int64_t port) { return port >= 1 && port <= 65535; }

bool IsValidDestination(const ConnectionInfo& d) {
    switch (d.kind) {
        case TRANSPORT_TCP:
            return HasDialableText(d.address, sizeof d.address) && IsValidPort(d.port);
        case TRANSPORT_MULTICAST:  // the group transport takes the port's low 16 bits
            return HasDialableText(d.address, sizeof d.address) && IsValidPort(d.port & 0xFFFF);
        case TRANSPORT_ISDN:
            return HasDialableText(d.isdn.number1, sizeof d.isdn.number1) &&
                   std::memchr(d.isdn.number2, 0, sizeof d.isdn.number2) != nullptr;
        default:
            return false;
    }
}
