#include "ui/SocksLogic.h"

#include <gtest/gtest.h>

#include "common/Settings.h"
#include "support/IniKeys.h"
#include "support/TempDir.h"

namespace {
struct SocksLogicTest : ::testing::Test {
    void OpenEnabled() {
        m_logic.Load(m_settings);
        m_logic.SetUseProxy(true);
        m_logic.SetAddress("proxy.example");
    }

    CTempDir m_dir{"socks"};
    CSettings m_settings{m_dir / "Velmora.Ini"};
    CSocksLogic m_logic;
};

TEST_F(SocksLogicTest, EnablingOfVersionsAndLogin) {
    m_logic.Load(m_settings);
    struct Case {
        bool use;
        int version;
        bool login;
        bool versionOn, loginOn, credentialsOn;
    };
    for (const Case& c : {Case{false, 5, true, false, false, false}, Case{true, 4, true, true, false, false},
                          Case{true, 5, false, true, true, false}, Case{true, 5, true, true, true, true}}) {
        m_logic.SetUseProxy(c.use);
        m_logic.SetVersion(c.version);
        m_logic.SetNeedLogin(c.login);
        const auto e = m_logic.Controls();
        EXPECT_EQ(e.version, c.versionOn);
        EXPECT_EQ(e.address, c.versionOn);
        EXPECT_EQ(e.port, c.versionOn);
        EXPECT_EQ(e.login, c.loginOn);
        EXPECT_EQ(e.credentials, c.credentialsOn);
    }
}

TEST_F(SocksLogicTest, OkStoresExactlyTheKeysWithAScrambledPassword) {
    OpenEnabled();
    m_logic.SetVersion(5);
    m_logic.SetPort("1081");
    m_logic.SetNeedLogin(true);
    m_logic.SetUsername("studio");
    m_logic.SetPassword("secret");
    ASSERT_EQ(m_logic.Store(m_settings).line, 0);
    auto keys = IniKeys(m_settings.GetPath());
    EXPECT_EQ(keys.size(), 7u);
    EXPECT_EQ(keys["Socks/Enable"], "1");
    EXPECT_EQ(keys["Socks/Version"], "5");
    EXPECT_EQ(keys["Socks/PortNumber"], "1081");
    EXPECT_NE(keys["Socks/Password"], "secret");
    EXPECT_EQ(m_settings.GetSocksPassword(), "secret");
    CSocksLogic again;
    again.Load(m_settings);
    EXPECT_EQ(again.Password(), "secret");
    EXPECT_EQ(again.Port(), "1081");
}

TEST_F(SocksLogicTest, ChecksRefuseAndWriteNothing) {
    m_logic.Load(m_settings);
    m_logic.SetUseProxy(true);
    EXPECT_EQ(m_logic.Store(m_settings).line, 17);
    EXPECT_EQ(m_logic.Validate().field, CSocksLogic::kAddress);
    m_logic.SetAddress("10.0.0.1");
    for (const char* port : {"65536", "0", "", "x"}) {
        m_logic.SetPort(port);
        EXPECT_EQ(m_logic.Store(m_settings).line, 18) << port;
    }
    m_logic.SetPort("-1");  // low 16 bits 0xFFFF
    EXPECT_EQ(m_logic.Validate().line, 0);
    // SOCKS 4 greys the login box out, but a checked box still asks for a name.
    m_logic.SetPort("1080");
    m_logic.SetVersion(4);
    m_logic.SetNeedLogin(true);
    EXPECT_EQ(m_logic.Store(m_settings).line, 19);
    EXPECT_EQ(m_logic.Validate().field, CSocksLogic::kUsername);
    EXPECT_TRUE(IniKeys(m_settings.GetPath()).empty());
}

TEST_F(SocksLogicTest, DisabledProxyStoresEmptyFieldsAsTheyAre) {
    m_logic.Load(m_settings);
    EXPECT_EQ(m_logic.Port(), "1080");
    m_logic.SetPort("");
    m_logic.SetNeedLogin(true);
    ASSERT_EQ(m_logic.Store(m_settings).line, 0);
    EXPECT_EQ(m_settings.GetSocksAddress(), "");
    EXPECT_EQ(m_settings.GetSocksPortNumber(), 0);
    EXPECT_EQ(m_settings.GetSocksEnable(), 0);
}

TEST_F(SocksLogicTest, FieldsKeepTheirLengths) {
    m_logic.SetAddress(std::string(150, 'a'));
    m_logic.SetPort("123456");
    m_logic.SetUsername(std::string(20, 'u'));
    EXPECT_EQ(m_logic.Address().size(), 100u);
    EXPECT_EQ(m_logic.Port(), "12345");
    EXPECT_EQ(m_logic.Username().size(), 15u);
}
}  // namespace
