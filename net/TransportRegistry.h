#pragma once
// The transports the connection manager offers, one row per kind. Adding a
// transport is its class plus one row here.
#include <memory>
#include <span>

#include "common/Settings.h"
#include "net/ManagedTransport.h"

struct TransportRegistration {
    int kind;                  // TRANSPORT_*: the mask bit and the connection's kind
    bool offeredWithMiniIsdn;  // still created when [MiniISDN] Enabled is set
    // Creates and opens the transport from the settings; null when it cannot
    // be had (the kind is then absent). fastCpu: the manager's Init value.
    std::unique_ptr<CManagedTransport> (*create)(const CSettings& settings, int fastCpu);
};

// In polling order, which is also the order of destruction.
std::span<const TransportRegistration> RegisteredTransports();
