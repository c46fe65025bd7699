#pragma once
// The connection-type radios of the Network / IP and multicast dialogs: the
// type and buffering sub-type they stand for, and how a stored pair that
// fits no radio is read. Pure functions; any thread.
#include "common/Records.h"

enum class ConnectionRadio { Type1, Type2, Type3, Reliable, LowDelay, FixedBuffer };

struct ConnectionTypeMarks {
    ConnectionRadio type;    // the one checked of Type 1..3
    ConnectionRadio buffer;  // the one checked of the buffering radios
    bool bufferingEnabled;   // only with Type 3
};

// The pair a radio sets; a buffering radio implies Type 3.
void ChooseConnectionRadio(ConnectionInfo& info, ConnectionRadio radio);
// Moves an unknown type to Type 2 and an unknown sub-type to reliable (the
// fixed buffer only where offered), and tells which radios show it.
ConnectionTypeMarks NormalizeConnectionType(ConnectionInfo& info, bool fixedBufferOffered);
