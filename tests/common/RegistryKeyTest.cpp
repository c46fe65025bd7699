#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "common/RegistryKey.h"
#include "platform/Registry.h"
#include "platform/WinError.h"
#include "support/TempDir.h"

namespace {

constexpr const char* kProgramKey = "Software\\Qiv\\Velmora\\Transvoria";

struct RegistryKeyTest : ::testing::Test {
    CTempDir m_dir;
    std::string m_store = m_dir.File("registry");
    void SetUp() override { ::setenv("VELMORA_REGISTRY_FILE", m_store.c_str(), 1); }
    void TearDown() override { ::unsetenv("VELMORA_REGISTRY_FILE"); }
};

}  // namespace

TEST_F(RegistryKeyTest, CreateSetAndQueryBackAcrossHandles) {
    {
        CRegistryKey key;
        EXPECT_EQ(key.Open(kProgramKey, true), 0) << "missing key";
        ASSERT_EQ(key.Create(kProgramKey), 1);
        key.SetDword("Version", 66818);
        key.SetString("Name", "Studio 1", 9);
    }
    CRegistryKey key;
    ASSERT_EQ(key.Open("software\\QIV\\velmora\\transvoria", true), 1) << "names ignore case";
    EXPECT_EQ(key.QueryDword("version"), 66818u);
    char name[32] = "junk";
    EXPECT_EQ(key.QueryString("NAME", name, sizeof name), 1);
    EXPECT_STREQ(name, "Studio 1");
    EXPECT_EQ(key.QueryDword("Name"), 0u) << "a string is no DWORD";
    EXPECT_EQ(key.QueryString("Version", name, sizeof name), 0) << "a DWORD is no string";
    EXPECT_EQ(key.QueryDword("Missing"), 0u);
    EXPECT_EQ(key.QueryString("Missing", name, sizeof name), 0);

    char tiny[4];
    EXPECT_EQ(key.QueryString("Name", tiny, sizeof tiny), 0) << "too long for the buffer";
}

TEST_F(RegistryKeyTest, OpenTwiceFailsAndKeepsTheFirstKey) {
    CRegistryKey key;
    ASSERT_EQ(key.Create(kProgramKey), 1);
    key.SetDword("Version", 1);
    key.Close();
    ASSERT_EQ(key.Create("Software\\Other"), 1);
    key.Close();

    ASSERT_EQ(key.Open(kProgramKey, false), 1);
    EXPECT_EQ(key.Open("Software\\Other", false), 0);
    EXPECT_EQ(key.Create("Software\\Third"), 0);
    EXPECT_EQ(key.QueryDword("Version"), 1u) << "still the first key";
    key.SetDword("Version", 2);
    EXPECT_EQ(key.QueryDword("Version"), 2u);
}

TEST_F(RegistryKeyTest, ReadOnlyKeysRefuseWritesAndClosedKeysDoNothing) {
    CRegistryKey key;
    ASSERT_EQ(key.Create(kProgramKey), 1);
    key.SetDword("Version", 7);
    key.Close();
    ASSERT_EQ(key.Open(kProgramKey, true), 1);
    key.SetDword("Version", 8);
    EXPECT_EQ(key.QueryDword("Version"), 7u);
    key.Close();
    key.SetDword("Version", 9);
    char text[8];
    EXPECT_EQ(key.QueryString("Version", text, sizeof text), 0);
    EXPECT_EQ(key.QueryDword("Version"), 0u);
    ASSERT_EQ(key.Open(kProgramKey, true), 1);
    EXPECT_EQ(key.QueryDword("Version"), 7u);
}

TEST_F(RegistryKeyTest, StringsStoredWithoutTerminatorComeBackTerminated) {
    CRegistryKey key;
    ASSERT_EQ(key.Create(kProgramKey), 1);
    key.SetString("Name", "ABCDEFGH", 4);  // four bytes, no NUL
    key.Close();
    ASSERT_EQ(key.Open(kProgramKey, true), 1);
    char buffer[8] = "zzzzzzz";
    EXPECT_EQ(key.QueryString("Name", buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "ABCD");
    char exact[4];
    EXPECT_EQ(key.QueryString("Name", exact, sizeof exact), 0) << "no room left for the terminator";
}

TEST_F(RegistryKeyTest, StoreSurvivesOddNamesAndListsSubKeys) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\asio\\Card = [1]%", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const char clsid[] = "{0A1B}\n=:[x]";
    ASSERT_EQ(RegSetValueExA(key, "clsid", 0, REG_SZ, reinterpret_cast<const BYTE*>(clsid), sizeof clsid),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, nullptr, 0, REG_BINARY, reinterpret_cast<const BYTE*>("\0\1"), 2),
              ERROR_SUCCESS);
    const BYTE one[4] = {1, 0, 0, 0};
    ASSERT_EQ(RegSetValueExA(key, "@", 0, REG_DWORD, one, 4), ERROR_SUCCESS) << "not the unnamed value";
    RegCloseKey(key);
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "software\\asio\\Another", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\asio", 0, KEY_READ, &key), ERROR_SUCCESS);
    char name[64];
    ASSERT_EQ(RegEnumKeyA(key, 0, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Another");
    ASSERT_EQ(RegEnumKeyA(key, 1, name, sizeof name), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Card = [1]%");
    EXPECT_EQ(RegEnumKeyA(key, 2, name, sizeof name), ERROR_NO_MORE_ITEMS);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\ASIO\\card = [1]%", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    char back[32];
    DWORD size = sizeof back, type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "CLSID", nullptr, &type, reinterpret_cast<BYTE*>(back), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(std::string(back, size), std::string(clsid, sizeof clsid));
    size = 1;
    EXPECT_EQ(RegQueryValueExA(key, "clsid", nullptr, &type, reinterpret_cast<BYTE*>(back), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, sizeof clsid);
    size = sizeof back;
    ASSERT_EQ(RegQueryValueExA(key, "", nullptr, &type, reinterpret_cast<BYTE*>(back), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(std::string(back, size), std::string("\0\1", 2));
    size = sizeof back;
    ASSERT_EQ(RegQueryValueExA(key, "@", nullptr, &type, reinterpret_cast<BYTE*>(back), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    RegCloseKey(key);
}

TEST_F(RegistryKeyTest, DamagedStoreLinesAreSkipped) {
    {
        std::ofstream out(m_store, std::ios::binary);
        out << "[HKEY_LOCAL_MACHINE\\Software\\Qiv\\Velmora\\Transvoria]\n"
               "Version=4:02050100\n"
               "Broken=4:0G\n"
               "NoType\n"
               "Name=1:41420\n"
               "[%ZZ]\n"
               "Lost=4:01000000\n";
    }
    CRegistryKey key;
    ASSERT_EQ(key.Open(kProgramKey, true), 1);
    EXPECT_EQ(key.QueryDword("Version"), 0x10502u);
    EXPECT_EQ(key.QueryDword("Broken"), 0u);
    char name[8];
    EXPECT_EQ(key.QueryString("Name", name, sizeof name), 0);
}
