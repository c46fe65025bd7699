#include "platform/NameLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "platform/WinSock.h"

namespace ws {

uint32_t inet_addr(const char* text) {
    if (!text || !*text) return kAddressNone;
    in_addr a;
    // inet_aton takes the same classic forms as Winsock's inet_addr (a.b.c.d, a.b.c, a.b, a).
    if (::inet_aton(text, &a) == 0) return kAddressNone;
    return ntohl(a.s_addr);
}

int gethostbyname(const char* name, uint32_t* firstAddress) {
    if (!name || !*name) {
        WSASetLastError(WSAHOST_NOT_FOUND);
        return SOCKET_ERROR;
    }
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    // getaddrinfo is re-entrant, unlike the classic gethostbyname.
    const int rc = ::getaddrinfo(name, nullptr, &hints, &list);
    if (rc != 0) {
        int code = WSANO_RECOVERY;
        switch (rc) {
        case EAI_NONAME: code = WSAHOST_NOT_FOUND; break;
        case EAI_AGAIN: code = WSATRY_AGAIN; break;
#ifdef EAI_NODATA
        case EAI_NODATA: code = WSANO_DATA; break;
#endif
        case EAI_ADDRFAMILY: code = WSANO_DATA; break;
        default: break;
        }
        WSASetLastError(code);
        return SOCKET_ERROR;
    }
    int result = SOCKET_ERROR;
    for (const addrinfo* p = list; p; p = p->ai_next) {
        if (p->ai_family == AF_INET && p->ai_addr) {
            sockaddr_in sa;
            std::memcpy(&sa, p->ai_addr, sizeof sa);
            if (firstAddress) *firstAddress = ntohl(sa.sin_addr.s_addr);
            result = 0;
            break;
        }
    }
    ::freeaddrinfo(list);
    if (result != 0) WSASetLastError(WSANO_DATA);
    return result;
}

}  // namespace ws
