#include "ui/destinations/IsdnDestinationLogic.h"

#include <cstring>

#include "common/Codes.h"

namespace {
constexpr int kNameEdit = 2101;
constexpr int kNumber1Edit = 2104;
}  // namespace

void CIsdnDestinationLogic::LoadDefaults() {
    AudioFormat& f = m_entry.format;
    f.codingType = m_settings.GetISDNLastCodingType();
    f.sampleRate = m_settings.GetISDNLastSamplerate();
    f.bitRate = m_settings.GetISDNLastCodingRate();
    f.deviceMode = m_settings.GetISDNLastDeviceMode();
}

IsdnEnabled CIsdnDestinationLogic::Choose(IsdnChoice choice) {
    ApplyIsdnChoice(m_entry.format, choice);
    return ApplyRules();
}

void CIsdnDestinationLogic::SetNumbers(const std::string& number1, const std::string& number2) {
    CopyText(m_entry.connection.isdn.number1, sizeof(m_entry.connection.isdn.number1), number1);
    CopyText(m_entry.connection.isdn.number2, sizeof(m_entry.connection.isdn.number2), number2);
}

DestinationRefusal CIsdnDestinationLogic::Ok() {
    if (DestinationRefusal r = CheckName(26, 27, kNameEdit)) return r;
    m_entry.format.direction = DIRECTION_BOTH;
    if (DestinationRefusal r = CheckReconnect(28)) return r;
    ConnectionInfo& c = m_entry.connection;
    if (c.isdn.number1[0] == '\0') return {29, "Please fill in the channel number", kNumber1Edit};
    if (c.isdn.number2[0] == '\0') std::memcpy(c.isdn.number2, c.isdn.number1, sizeof(c.isdn.number2));
    const AudioFormat& f = m_entry.format;
    m_settings.SetISDNLastCodingType(f.codingType);
    m_settings.SetISDNLastSamplerate(f.sampleRate);
    m_settings.SetISDNLastCodingRate(f.bitRate);
    m_settings.SetISDNLastDeviceMode(f.deviceMode);
    return {};
}
