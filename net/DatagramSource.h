#pragma once
// Where a multicast receiver takes its datagrams from: the transport's
// socket on a station, a scripted list in the fuzz target.
#include <cstdint>

#include "platform/WinSock.h"

class CDatagramSource {
public:
    // One waiting datagram, at most max bytes of it, and its sender's
    // address; 0 when none waits (or on any error).
    virtual int ReceiveDatagram(uint8_t* dst, int max, ws::SocketAddress* from) = 0;

protected:
    ~CDatagramSource() = default;
};
