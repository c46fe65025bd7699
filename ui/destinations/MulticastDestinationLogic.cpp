#include "ui/destinations/MulticastDestinationLogic.h"

#include <charconv>

#include "common/Codes.h"
#include "platform/NameLookup.h"

namespace {

constexpr int kNameEdit = 4101;
constexpr int kPortEdit = 4103;
constexpr size_t kMaxCheckedChars = 256;
constexpr uint32_t kAddressNone = 0xFFFFFFFFu;

bool ResolveByName(const char* name, uint32_t* address) { return ws::gethostbyname(name, address) == 0; }

}  // namespace

CMulticastDestinationLogic::CMulticastDestinationLogic(const CSettings& settings, Resolver resolver)
    : CDestinationLogic(settings), m_resolver(resolver ? std::move(resolver) : Resolver(ResolveByName)) {}

void CMulticastDestinationLogic::LoadDefaults() {
    ConnectionInfo& c = m_entry.connection;
    c.port = kDefaultPort;
    AudioFormat& f = m_entry.format;
    f.codingType = m_settings.GetUDPLastCodingType();
    f.sampleRate = m_settings.GetUDPLastSamplerate();
    f.bitRate = m_settings.GetUDPLastCodingRate();
    f.deviceMode = m_settings.GetUDPLastDeviceMode();
    c.connectionType = m_settings.GetUDPLastBuffering();
    c.flag = 0;
    c.hops = 1;
    f.direction = DIRECTION_RECEIVE_ONLY;
}

void CMulticastDestinationLogic::SetSender(bool sender) {
    m_entry.connection.flag = sender ? 1 : 0;
    m_entry.format.direction = sender ? DIRECTION_SEND_ONLY : DIRECTION_RECEIVE_ONLY;
}

ConnectionTypeMarks CMulticastDestinationLogic::ChooseConnection(ConnectionRadio radio) {
    ChooseConnectionRadio(m_entry.connection, radio);
    return ConnectionMarks();
}

FormatLists CMulticastDestinationLogic::UpdateFormats() {
    if (!IsSender()) return {};
    return UpdateFormatLists(m_entry.format, FormatDialog::Multicast);
}

FormatLists CMulticastDestinationLogic::ChooseCompression(int index) {
    const int coding = CodingTypeOfCompressionIndex(index);
    if (coding != -1) m_entry.format.codingType = coding;
    return UpdateFormats();
}

FormatLists CMulticastDestinationLogic::ChooseBitRate(int bitRate) {
    m_entry.format.bitRate = bitRate;
    return UpdateFormats();
}

FormatLists CMulticastDestinationLogic::ChooseSampleRate(int sampleRate) {
    m_entry.format.sampleRate = sampleRate;
    return UpdateFormats();
}

FormatLists CMulticastDestinationLogic::ChooseMode(int mode) {
    m_entry.format.deviceMode = mode;
    return UpdateFormats();
}

bool CMulticastDestinationLogic::IsMulticastAddress(const std::string& text) const {
    std::string copy;
    for (char c : text) {
        if (copy.size() == kMaxCheckedChars) break;
        if (c != ' ' && c != '*' && c != '_') copy.push_back(c);
    }
    uint32_t address = ws::inet_addr(copy.c_str());
    if (address == kAddressNone || address == 0) {
        if (copy.empty() || !m_resolver(copy.c_str(), &address)) return false;
    }
    const uint32_t first = address >> 24;  // host byte order
    return first >= 225 && first <= 239;
}

int CMulticastDestinationLogic::ClampHops(int hops) {
    if (hops <= 0 || hops >= 1000) return 1;
    return hops > 255 ? 255 : hops;
}

CMulticastDestinationLogic::OkResult CMulticastDestinationLogic::Ok(const std::string& address,
                                                                   const std::string& portText, bool useDefaultPort,
                                                                   int hops) {
    if (DestinationRefusal r = CheckName(29, 30, kNameEdit)) return {r};
    if (DestinationRefusal r = CheckAddressAndPort(address, portText, useDefaultPort, kDefaultPort, 31, 39, kPortEdit))
        return {r};
    if (!IsMulticastAddress(address)) return {{}, true};
    return {OkAnyway(hops)};
}

DestinationRefusal CMulticastDestinationLogic::OkAnyway(int hops) {
    if (DestinationRefusal r = CheckFormat(32, 33)) return r;
    ConnectionInfo& c = m_entry.connection;
    c.hops = ClampHops(hops);
    const AudioFormat& f = m_entry.format;
    m_settings.SetUDPLastCodingType(f.codingType);
    m_settings.SetUDPLastSamplerate(f.sampleRate);
    m_settings.SetUDPLastCodingRate(f.bitRate);
    m_settings.SetUDPLastDeviceMode(f.deviceMode);
    m_settings.SetUDPLastBuffering(c.connectionType);
    if (IsSender()) c.connectionType = CONNTYPE_1;
    return {};
}
