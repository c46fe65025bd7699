#include "ui/destinations/ConnectionTypeChoice.h"

#include "common/Codes.h"

void ChooseConnectionRadio(ConnectionInfo& c, ConnectionRadio radio) {
    switch (radio) {
    case ConnectionRadio::Type1:
        c.connectionType = CONNTYPE_1;
        break;
    case ConnectionRadio::Type2:
        c.connectionType = CONNTYPE_2;
        break;
    case ConnectionRadio::Type3:
        c.connectionType = CONNTYPE_3;
        break;
    case ConnectionRadio::Reliable:
        c.connectionType = CONNTYPE_3;
        c.bufferingMode = BUFMODE_MEASURE_RELIABLE;
        break;
    case ConnectionRadio::LowDelay:
        c.connectionType = CONNTYPE_3;
        c.bufferingMode = BUFMODE_MEASURE_DELAY;
        break;
    case ConnectionRadio::FixedBuffer:
        c.connectionType = CONNTYPE_3;
        c.bufferingMode = BUFMODE_FIXED;
        break;
    }
}

ConnectionTypeMarks NormalizeConnectionType(ConnectionInfo& c, bool fixedBufferOffered) {
    ConnectionTypeMarks marks{ConnectionRadio::Type2, ConnectionRadio::Reliable, false};
    if (c.connectionType == CONNTYPE_3) {
        marks.type = ConnectionRadio::Type3;
        marks.bufferingEnabled = true;
    } else if (c.connectionType == CONNTYPE_1) {
        marks.type = ConnectionRadio::Type1;
    } else {
        c.connectionType = CONNTYPE_2;
    }
    if (c.bufferingMode == BUFMODE_MEASURE_DELAY)
        marks.buffer = ConnectionRadio::LowDelay;
    else if (c.bufferingMode == BUFMODE_FIXED && fixedBufferOffered)
        marks.buffer = ConnectionRadio::FixedBuffer;
    else
        c.bufferingMode = BUFMODE_MEASURE_RELIABLE;
    return marks;
}
