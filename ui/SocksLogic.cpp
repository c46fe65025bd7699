#include "ui/SocksLogic.h"

#include <charconv>
#include <cstdint>

#include "common/Settings.h"

void CSocksLogic::Load(const CSettings& settings) {
    m_enable = settings.GetSocksEnable() != 0;
    m_version = settings.GetSocksVersion() == 4 ? 4 : 5;
    SetAddress(settings.GetSocksAddress());
    m_port = std::to_string(static_cast<int16_t>(settings.GetSocksPortNumber() & 0xFFFF));
    m_needLogin = settings.GetSocksNeedLogin() != 0;
    SetUsername(settings.GetSocksUsername());
    SetPassword(settings.GetSocksPassword());
}

CSocksLogic::Enabling CSocksLogic::Controls() const {
    Enabling e;
    e.version = e.address = e.port = m_enable;
    e.login = m_enable && m_version == 5;
    e.credentials = e.login && m_needLogin;
    return e;
}

int CSocksLogic::PortNumber() const {
    int value = 0;
    const auto [end, error] = std::from_chars(m_port.data(), m_port.data() + m_port.size(), value);
    (void)end;
    return error == std::errc() ? value : 0;
}

CSocksLogic::Check CSocksLogic::Validate() const {
    if (!m_enable) return {};
    if (m_address.empty()) return {17, kAddress};
    if ((PortNumber() & 0xFFFF) == 0) return {18, kPort};
    // The login box counts even while SOCKS 4 greys it out.
    if (m_needLogin && m_username.empty()) return {19, kUsername};
    return {};
}

CSocksLogic::Check CSocksLogic::Store(const CSettings& settings) const {
    const Check check = Validate();
    if (check.line != 0) return check;
    settings.SetSocksEnable(m_enable ? 1 : 0);
    settings.SetSocksVersion(m_version);
    settings.SetSocksAddress(m_address.c_str());
    settings.SetSocksPortNumber(PortNumber());
    settings.SetSocksNeedLogin(m_needLogin ? 1 : 0);
    settings.SetSocksUsername(m_username.c_str());
    settings.SetSocksPassword(m_password.c_str());
    return check;
}
