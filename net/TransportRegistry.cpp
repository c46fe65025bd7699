#include "net/TransportRegistry.h"

#include "net/Isdn.h"
#include "net/MulticastTransport.h"
#include "net/TcpTransport.h"

namespace {
constexpr TransportRegistration kTransports[] = {
    {TRANSPORT_TCP, false, &CTcpTransport::Create},
    {TRANSPORT_MULTICAST, false, &CMulticastTransport::Create},
    {TRANSPORT_ISDN, true, &CISDN::Create},
};
}  // namespace

std::span<const TransportRegistration> RegisteredTransports() { return kTransports; }
