#pragma once
// The multicast destination dialog without its window: group address and
// port, sender or receiver, router hops, the receiver's connection type and
// the sender's audio format, and the checks of OK. GUI thread only.
#include <cstdint>
#include <functional>
#include <string>

#include "ui/destinations/ConnectionTypeChoice.h"
#include "ui/destinations/DestinationFormats.h"
#include "ui/destinations/DestinationLogic.h"

class CMulticastDestinationLogic : public CDestinationLogic {
public:
    static constexpr int kDefaultPort = 5005;
    static constexpr int kHopChars = 3;

    // Host name to its first IPv4 address (host byte order); false when it
    // does not resolve. Tests give their own.
    using Resolver = std::function<bool(const char* name, uint32_t* address)>;

    explicit CMulticastDestinationLogic(const CSettings& settings, Resolver resolver = {});

    int Kind() const override { return TRANSPORT_MULTICAST; }
    bool IsSender() const { return m_entry.connection.flag != 0; }
    void SetSender(bool sender);

    // The receiver's radios; a sender's stay as they are, disabled.
    ConnectionTypeMarks ChooseConnection(ConnectionRadio radio);
    ConnectionTypeMarks ConnectionMarks() { return NormalizeConnectionType(m_entry.connection, false); }

    // A sender's lists; a receiver's format is kept as loaded.
    FormatLists UpdateFormats();
    FormatLists ChooseCompression(int index);
    FormatLists ChooseBitRate(int bitRate);
    FormatLists ChooseSampleRate(int sampleRate);
    FormatLists ChooseMode(int mode);

    // Whether the text names a group in 225.0.0.0 to 239.255.255.255, after
    // blanks, '*' and '_' are taken out.
    bool IsMulticastAddress(const std::string& text) const;
    static int ClampHops(int hops);

    struct OkResult {
        DestinationRefusal refusal;
        bool askNotMulticast = false;  // ask the operator, then OkAnyway
    };
    OkResult Ok(const std::string& address, const std::string& portText, bool useDefaultPort, int hops);
    // The rest of OK after the operator chose to keep an address that is no group.
    DestinationRefusal OkAnyway(int hops);

private:
    void LoadDefaults() override;
    int DefaultReconnectKind() const override { return TRANSPORT_MULTICAST; }

    Resolver m_resolver;
};
