#pragma once
// The Network / IP destination dialog without its window: address, port and
// proxy, connection type with the fixed buffer, direction, audio format and
// auto reconnect, and the checks of OK. GUI thread only.
#include <string>

#include "ui/destinations/ConnectionTypeChoice.h"
#include "ui/destinations/DestinationFormats.h"
#include "ui/destinations/DestinationLogic.h"

class CNetworkDestinationLogic : public CDestinationLogic {
public:
    static constexpr int kDefaultPort = 5003;
    static constexpr int kMaxBufferSteps = 60;  // half seconds

    using CDestinationLogic::CDestinationLogic;

    int Kind() const override { return TRANSPORT_TCP; }
    bool ProxyEnabled() const { return m_settings.GetSocksEnable() != 0; }

    // The fixed buffer in half-second steps, 1..60, while the dialog is open.
    int BufferSteps() const { return m_bufferSteps; }
    void SetBufferSteps(int steps);
    std::string BufferText() const;  // "1.5"

    ConnectionTypeMarks ChooseConnection(ConnectionRadio radio);
    ConnectionTypeMarks ConnectionMarks() { return NormalizeConnectionType(m_entry.connection, true); }

    // Direction combo: 0 both ways, 1 receive only, 2 transmit only.
    int DirectionIndex();
    void SetDirectionIndex(int index);

    FormatLists UpdateFormats() { return UpdateFormatLists(m_entry.format, FormatDialog::Network); }
    FormatLists ChooseCompression(int index);
    FormatLists ChooseBitRate(int bitRate);
    FormatLists ChooseSampleRate(int sampleRate);
    FormatLists ChooseMode(int mode);

    DestinationRefusal Ok(const std::string& address, const std::string& portText, bool useDefaultPort, bool proxy);

private:
    void LoadDefaults() override;
    int DefaultReconnectKind() const override { return TRANSPORT_TCP; }
    void Loaded() override { SetBufferSteps(m_entry.connection.bufferMs / 500); }

    int m_bufferSteps = 1;
};
