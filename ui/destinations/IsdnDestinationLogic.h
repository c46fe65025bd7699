#pragma once
// The ISDN destination dialog without its window: the rule set over the
// working entry and the checks of OK. GUI thread only.
#include "ui/destinations/DestinationLogic.h"
#include "ui/destinations/IsdnFormatRules.h"

class CIsdnDestinationLogic : public CDestinationLogic {
public:
    using CDestinationLogic::CDestinationLogic;

    int Kind() const override { return TRANSPORT_ISDN; }
    bool TwoChannelG722() const { return m_twoChannelG722; }

    // A choice, then the rules; returns what stays enabled.
    IsdnEnabled Choose(IsdnChoice choice);
    IsdnEnabled ApplyRules() { return ApplyIsdnRules(m_entry.format, m_twoChannelG722); }

    void SetNumbers(const std::string& number1, const std::string& number2);
    // Refusal or, on success, the entry completed and the last format saved.
    DestinationRefusal Ok();

private:
    void ReadSettings() override { m_twoChannelG722 = m_settings.GetISDNEnableTwoChannelG722() != 0; }
    void LoadDefaults() override;
    int DefaultReconnectKind() const override { return TRANSPORT_ISDN; }

    bool m_twoChannelG722 = false;
};
