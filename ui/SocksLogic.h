#pragma once
// The SOCKS proxy settings: enable, version, proxy address and port, and the
// SOCKS 5 login. Plain logic under CSocksDlg.
//
// Threads: GUI thread.
#include <string>

class CSettings;

class CSocksLogic {
public:
    static constexpr int kAddressLength = 100;
    static constexpr int kPortLength = 5;
    static constexpr int kLoginLength = 15;

    // What OK found: the message line (section 9) and the field to focus.
    enum Field { kNone = 0, kAddress, kPort, kUsername };
    struct Check {
        int line = 0;  // 0 when everything may be stored
        Field field = kNone;
    };
    struct Enabling {
        bool version = false, address = false, port = false, login = false, credentials = false;
    };

    void Load(const CSettings& settings);
    Check Validate() const;
    // Writes every key only when Validate passes; returns its result.
    Check Store(const CSettings& settings) const;

    void SetUseProxy(bool on) { m_enable = on; }
    void SetVersion(int version) { m_version = version == 4 ? 4 : 5; }
    void SetAddress(const std::string& text) { m_address = text.substr(0, kAddressLength); }
    void SetPort(const std::string& text) { m_port = text.substr(0, kPortLength); }
    void SetNeedLogin(bool on) { m_needLogin = on; }
    void SetUsername(const std::string& text) { m_username = text.substr(0, kLoginLength); }
    void SetPassword(const std::string& text) { m_password = text.substr(0, kLoginLength); }

    bool UseProxy() const { return m_enable; }
    int Version() const { return m_version; }
    const std::string& Address() const { return m_address; }
    const std::string& Port() const { return m_port; }
    bool NeedLogin() const { return m_needLogin; }
    const std::string& Username() const { return m_username; }
    const std::string& Password() const { return m_password; }
    Enabling Controls() const;

private:
    int PortNumber() const;

    bool m_enable = false;
    int m_version = 4;
    std::string m_address;
    std::string m_port;
    bool m_needLogin = false;
    std::string m_username;
    std::string m_password;
};
