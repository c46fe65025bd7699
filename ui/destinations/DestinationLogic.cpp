#include "ui/destinations/DestinationLogic.h"

#include <charconv>
#include <cstring>

#include "common/Codes.h"
#include "common/Phonebook.h"
#include "ui/destinations/DestinationFormats.h"

namespace {

class CNameCollector : public IPhonebookComboBox {
public:
    void ResetContent() override { names.clear(); }
    void AddString(const char* name) override { names.emplace_back(name); }
    std::vector<std::string> names;
};

std::string NameOf(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

}  // namespace

void CDestinationLogic::Load(CPhonebook* phonebook, const PhonebookEntry* entry) {
    m_phonebook = phonebook;
    ReadSettings();
    m_entry = PhonebookEntry();
    m_loadedName.clear();
    if (entry) {
        m_entry = *entry;
        m_loadedName = NameOf(entry->name, sizeof(entry->name));
    } else {
        LoadDefaults();
    }
    m_entry.connection.kind = Kind();
    // The same destination when the reconnect names this entry, or nothing.
    m_sameDestination = m_entry.reconnectName[0] == '\0' ||
                        (m_entry.reconnectKind == m_entry.connection.kind &&
                         NameOf(m_entry.reconnectName, sizeof(m_entry.reconnectName)) == m_loadedName);
    Loaded();
}

void CDestinationLogic::SetName(const std::string& name) { CopyText(m_entry.name, sizeof(m_entry.name), name); }

void CDestinationLogic::SetReconnectKind(int kind) {
    m_entry.reconnectKind = kind == TRANSPORT_TCP || kind == TRANSPORT_ISDN ? kind : DefaultReconnectKind();
}

void CDestinationLogic::SetReconnectName(const std::string& name) {
    CopyText(m_entry.reconnectName, sizeof(m_entry.reconnectName), name);
}

std::vector<std::string> CDestinationLogic::ReconnectChoices() {
    SetReconnectKind(m_entry.reconnectKind);
    CNameCollector names;
    if (m_phonebook) m_phonebook->FillComboBox(&names, m_entry.reconnectKind);
    const std::string current = NameOf(m_entry.reconnectName, sizeof(m_entry.reconnectName));
    bool found = false;
    for (const std::string& name : names.names) found = found || name == current;
    if (!found) m_entry.reconnectName[0] = '\0';
    return names.names;
}

DestinationRefusal CDestinationLogic::CheckName(int emptyLine, int usedLine, int nameId) const {
    if (m_entry.name[0] == '\0') return {emptyLine, "Please fill in the name field", nameId};
    if (m_phonebook && NameOf(m_entry.name, sizeof(m_entry.name)) != m_loadedName && m_phonebook->IsNameUsed(m_entry))
        return {usedLine, "The name is already used. Please specify a new name.", nameId};
    return {};
}

DestinationRefusal CDestinationLogic::CheckReconnect(int line) {
    if (!m_entry.autoReconnect) return {};
    if (m_sameDestination) {
        m_entry.reconnectKind = Kind();
        std::memcpy(m_entry.reconnectName, m_entry.name, sizeof(m_entry.name));
        m_entry.reconnectName[sizeof(m_entry.name)] = '\0';
    }
    if (m_entry.reconnectName[0] == '\0') return {line, "Please select an auto reconnect destination", 0};
    return {};
}

void CDestinationLogic::CopyText(char* field, size_t size, const std::string& text) {
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, size - n);
}

DestinationRefusal CDestinationLogic::CheckAddressAndPort(const std::string& address, const std::string& portText,
                                                         bool useDefault, int defaultPort, int missingLine,
                                                         int rangeLine, int portId) {
    CopyText(m_entry.connection.address, sizeof(m_entry.connection.address), address);
    int port = defaultPort;
    if (!useDefault) {
        port = 0;
        const char* first = portText.data();
        const char* last = first + portText.size();
        while (first != last && *first == ' ') ++first;
        while (last != first && last[-1] == ' ') --last;
        if (first != last) {
            const auto [end, ec] = std::from_chars(first, last, port);
            if (ec != std::errc() || end != last || port < 0 || port > 65535)
                return {rangeLine, "The port number must lie between 1 and 65535", portId};
        }
    }
    m_entry.connection.port = port;
    if (port == 0 || m_entry.connection.address[0] == '\0')
        return {missingLine, "Please fill in both the address and the port number", 0};
    return {};
}

DestinationRefusal CDestinationLogic::CheckFormat(int bitRateLine, int sampleRateLine) {
    AudioFormat& f = m_entry.format;
    const bool mpeg = f.codingType == CODING_MPEG_L2 || f.codingType == CODING_MPEG_L3;
    if (mpeg && f.bitRate == -1) return {bitRateLine, "Please select a bitrate", 0};
    if (!mpeg) f.bitRate = BitRateOnOk(f);
    if (f.sampleRate == -1) return {sampleRateLine, "Please select a samplerate", 0};
    return {};
}
