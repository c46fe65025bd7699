#pragma once
// A transport as the connection manager holds it: the CTransport operations
// plus what only the manager asks of a transport - starting and ending a
// connection, listening, its last error and the peer's address. Each kind
// implements this once and registers in net/TransportRegistry.cpp; the
// manager never names a concrete transport.
//
// Threads: the call engine's worker thread, like CTransport.
#include "common/Records.h"
#include "common/Settings.h"
#include "net/Transport.h"

class CManagedTransport : public CTransport {
public:
    virtual ~CManagedTransport() = default;

    // Starts an outgoing connection to `connection` (connect, dial or open);
    // sendFormat is the last format the manager was given. 1 = started.
    virtual int Start(const ConnectionInfo& connection, const AudioFormat& sendFormat) = 0;
    // Answers calls when the settings say so. The manager hands back the
    // result of a transport whose answer matters; others return 0.
    virtual int StartListening(const CSettings& settings) = 0;
    // Ends the current connection (the manager's Disconnect).
    virtual void HangUpConnection() = 0;
    // Closes the IP sockets (the engine's idle command); nothing for others.
    virtual void CloseIpSockets() {}
    // Returned and cleared.
    virtual int GetLastError() = 0;
    // Writes the peer's address as text; 0 when this kind has none to give.
    virtual int GetPeerAddress(char* /*out*/, int /*size*/) { return 0; }
    virtual int IsSendStarved() { return 0; }
    // Buffering values carried to the answering side; only TCP has them.
    virtual int SetBuffering(int /*connectionType*/, int /*bufferingMode*/, int /*bufferMs*/) { return 0; }
    virtual int GetBuffering(int* /*connectionType*/, int* /*bufferingMode*/, int* /*bufferMs*/) const { return 0; }
};
