#pragma once
// What the three destination dialogs share: the working copy of the entry,
// the name it was loaded with, the name checks of OK and the auto reconnect
// choice. A dialog works only on its copy; the page takes it with GetEntry
// after OK, so Cancel loses every change. GUI thread only.
#include <string>
#include <vector>

#include "common/Records.h"
#include "common/Settings.h"

class CPhonebook;

// A refused OK: the message (line of the dialog's language section and its
// English text) and the control that gets the focus (0: none).
struct DestinationRefusal {
    int line = 0;
    const char* text = nullptr;
    int focusId = 0;
    explicit operator bool() const { return text != nullptr; }
};

class CDestinationLogic {
public:
    // Longest texts the entry's fields hold; the edits are limited to them,
    // so saving never cuts what the operator typed.
    static constexpr int kNameChars = sizeof(PhonebookEntry::name) - 1;
    static constexpr int kAddressChars = sizeof(ConnectionInfo::address) - 1;
    static constexpr int kNumberChars = 39;
    static constexpr int kPortChars = 5;  // 65535

    explicit CDestinationLogic(const CSettings& settings) : m_settings(settings) {}
    virtual ~CDestinationLogic() = default;
    CDestinationLogic(const CDestinationLogic&) = delete;
    CDestinationLogic& operator=(const CDestinationLogic&) = delete;

    // Without an entry the dialog starts from the kind's defaults.
    void Load(CPhonebook* phonebook, const PhonebookEntry* entry);
    void GetEntry(PhonebookEntry& out) const { out = m_entry; }
    const PhonebookEntry& Entry() const { return m_entry; }
    PhonebookEntry& Entry() { return m_entry; }
    virtual int Kind() const = 0;

    void SetName(const std::string& name);

    // Auto reconnect (ISDN and Network / IP).
    bool IsSameDestination() const { return m_sameDestination; }
    void SetAutoReconnect(bool on) { m_entry.autoReconnect = on ? 1 : 0; }
    void SetSameDestination(bool same) { m_sameDestination = same; }
    void SetReconnectKind(int kind);
    void SetReconnectName(const std::string& name);
    // Names of the reconnect kind's entries for the destination combo; a
    // reconnect name none of them has is emptied.
    std::vector<std::string> ReconnectChoices();

protected:
    // Settings the dialog reads at every Load; defaults of a new entry.
    virtual void ReadSettings() {}
    virtual void LoadDefaults() = 0;
    // After the working entry is complete.
    virtual void Loaded() {}
    // Kind that the reconnect kind becomes when it is neither 16 nor 32.
    virtual int DefaultReconnectKind() const = 0;

    // The checks every OK begins with: a name, not used by another entry.
    DestinationRefusal CheckName(int emptyLine, int usedLine, int nameId) const;
    // With auto reconnect to the same destination, points it at this entry;
    // refuses when no reconnect destination is chosen.
    DestinationRefusal CheckReconnect(int line);
    // Address and port of the Network / IP and multicast dialogs. A port
    // outside 1..65535 is refused, not cut to 16 bits.
    DestinationRefusal CheckAddressAndPort(const std::string& address, const std::string& portText, bool useDefault,
                                           int defaultPort, int missingLine, int rangeLine, int portId);
    // The bit rate of a non-MPEG format follows from the rest; MPEG and the
    // sample rate must be chosen.
    DestinationRefusal CheckFormat(int bitRateLine, int sampleRateLine);
    static void CopyText(char* field, size_t size, const std::string& text);

    const CSettings& m_settings;
    PhonebookEntry m_entry;
    std::string m_loadedName;
    CPhonebook* m_phonebook = nullptr;
    bool m_sameDestination = true;
};
