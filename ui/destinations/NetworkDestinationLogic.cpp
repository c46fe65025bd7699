#include "ui/destinations/NetworkDestinationLogic.h"

#include <cstdio>

#include "common/Codes.h"

namespace {
constexpr int kNameEdit = 3101;
constexpr int kPortEdit = 3103;
constexpr int kStepMs = 500;
}  // namespace

void CNetworkDestinationLogic::LoadDefaults() {
    m_entry.connection.port = kDefaultPort;
    AudioFormat& f = m_entry.format;
    f.codingType = m_settings.GetTCPLastCodingType();
    f.sampleRate = m_settings.GetTCPLastSamplerate();
    f.bitRate = m_settings.GetTCPLastCodingRate();
    f.deviceMode = m_settings.GetTCPLastDeviceMode();
    m_entry.connection.connectionType = m_settings.GetTCPLastBuffering();
}

void CNetworkDestinationLogic::SetBufferSteps(int steps) {
    m_bufferSteps = steps < 1 ? 1 : steps > kMaxBufferSteps ? kMaxBufferSteps : steps;
}

std::string CNetworkDestinationLogic::BufferText() const {
    char text[16];
    std::snprintf(text, sizeof(text), m_bufferSteps % 2 ? "%d.5" : "%d.0", m_bufferSteps / 2);
    return text;
}

ConnectionTypeMarks CNetworkDestinationLogic::ChooseConnection(ConnectionRadio radio) {
    ChooseConnectionRadio(m_entry.connection, radio);
    return ConnectionMarks();
}

int CNetworkDestinationLogic::DirectionIndex() {
    int& d = m_entry.format.direction;
    if (d == DIRECTION_RECEIVE_ONLY) return 1;
    if (d == DIRECTION_SEND_ONLY) return 2;
    d = DIRECTION_BOTH;
    return 0;
}

void CNetworkDestinationLogic::SetDirectionIndex(int index) {
    m_entry.format.direction = index == 1 ? DIRECTION_RECEIVE_ONLY : index == 2 ? DIRECTION_SEND_ONLY : DIRECTION_BOTH;
}

FormatLists CNetworkDestinationLogic::ChooseCompression(int index) {
    const int coding = CodingTypeOfCompressionIndex(index);
    if (coding != -1) m_entry.format.codingType = coding;
    return UpdateFormats();
}

FormatLists CNetworkDestinationLogic::ChooseBitRate(int bitRate) {
    m_entry.format.bitRate = bitRate;
    return UpdateFormats();
}

FormatLists CNetworkDestinationLogic::ChooseSampleRate(int sampleRate) {
    m_entry.format.sampleRate = sampleRate;
    return UpdateFormats();
}

FormatLists CNetworkDestinationLogic::ChooseMode(int mode) {
    m_entry.format.deviceMode = mode;
    return UpdateFormats();
}

DestinationRefusal CNetworkDestinationLogic::Ok(const std::string& address, const std::string& portText,
                                                bool useDefaultPort, bool proxy) {
    if (ProxyEnabled()) m_entry.connection.flag = proxy ? 1 : 0;
    if (DestinationRefusal r = CheckName(34, 35, kNameEdit)) return r;
    if (DestinationRefusal r = CheckReconnect(36)) return r;
    if (DestinationRefusal r = CheckAddressAndPort(address, portText, useDefaultPort, kDefaultPort, 37, 42, kPortEdit))
        return r;
    if (DestinationRefusal r = CheckFormat(38, 39)) return r;
    m_entry.connection.bufferMs = m_bufferSteps * kStepMs;
    const AudioFormat& f = m_entry.format;
    m_settings.SetTCPLastCodingType(f.codingType);
    m_settings.SetTCPLastSamplerate(f.sampleRate);
    m_settings.SetTCPLastCodingRate(f.bitRate);
    m_settings.SetTCPLastDeviceMode(f.deviceMode);
    m_settings.SetTCPLastBuffering(m_entry.connection.connectionType);
    return {};
}
