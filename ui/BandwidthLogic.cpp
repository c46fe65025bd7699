#include "ui/BandwidthLogic.h"

#include <cstdio>

std::string CBandwidthLogic::NeedText(const std::string& overhead) const {
    char text[160];
    std::snprintf(text, sizeof text, "%d kbps (%s)", m_limit / 1000, overhead.c_str());
    return text;
}

std::string CBandwidthLogic::ProvidedText() const {
    char text[96];
    std::snprintf(text, sizeof text, "RX: %d kbps, TX: %d kbps", m_receive / 1000, m_send / 1000);
    return text;
}

CBandwidthLogic::Answer CBandwidthLogic::FromRemote(int code) {
    switch (code) {
        case 0: return kNone;
        case 16: return kDisconnect;
        case 32: return kContinue;
        default: return kTestAgain;
    }
}
