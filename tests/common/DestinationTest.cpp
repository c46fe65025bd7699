#include "common/Destination.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/Codes.h"

namespace {

ConnectionInfo Network(const char* address, int port) {
    ConnectionInfo d;
    d.kind = TRANSPORT_TCP;
    std::strncpy(d.address, address, sizeof d.address - 1);
    d.port = port;
    return d;
}

}  // namespace

TEST(DestinationTest, IpDestinationsNeedAnAddressAndAPortInRange) {
    EXPECT_TRUE(IsValidDestination(Network("127.0.0.1", 1)));
    EXPECT_TRUE(IsValidDestination(Network("studio.example", 65535)));
    for (int port : {0, -1, 65536, 70000, static_cast<int>(0x98816b8au)}) {
        EXPECT_FALSE(IsValidDestination(Network("127.0.0.1", port))) << port;
    }
    EXPECT_FALSE(IsValidDestination(Network("", 5003)));
    EXPECT_FALSE(IsValidDestination(Network(" *_", 5003)));  // nothing left once cleaned
    ConnectionInfo full = Network("", 5003);
    std::memset(full.address, '7', sizeof full.address);
    EXPECT_FALSE(IsValidDestination(full));
    ConnectionInfo group = Network("239.1.1.1", 5005);
    group.kind = TRANSPORT_MULTICAST;
    EXPECT_TRUE(IsValidDestination(group));
    group.port = 0x10000;  // low 16 bits: 0
    EXPECT_FALSE(IsValidDestination(group));
}

TEST(DestinationTest, IsdnNeedsAFirstNumberAndUnknownKindsAreRefused) {
    ConnectionInfo d;
    d.kind = TRANSPORT_ISDN;
    EXPECT_FALSE(IsValidDestination(d));
    std::strcpy(d.isdn.number1, "0301234567");
    EXPECT_TRUE(IsValidDestination(d));  // no port on ISDN
    std::memset(d.isdn.number2, '9', sizeof d.isdn.number2);
    EXPECT_FALSE(IsValidDestination(d));
    for (int kind : {0, 17, 0x11, 64, -16}) {
        ConnectionInfo k = Network("127.0.0.1", 5003);
        k.kind = kind;
        EXPECT_FALSE(IsValidDestination(k)) << kind;
    }
}
