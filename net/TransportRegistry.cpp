#include "net/TransportRegistry.h"

#include "net/TcpTransport.h"

namespace {
constexpr TransportRegistration kTransports[] = {
    {TRANSPORT_TCP, false, &CTcpTransport::Create},
};
}  // namespace

std::span<const TransportRegistration> RegisteredTransports() { return kTransports; }
