// The station's own identity without a call engine: settings first, the
// registry's name second, and the fixed texts of the program.
#include "call/LocalIdentity.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/TempDir.h"

namespace {

struct LocalIdentityTest : ::testing::Test {
    LocalIdentityTest() : m_settings(m_dir.File("station.ini")) {
        setenv("VELMORA_REGISTRY_FILE", m_dir.File("registry").c_str(), 1);
    }
    CTempDir m_dir;
    CSettings m_settings;
};

TEST_F(LocalIdentityTest, WithoutARegistryTheSettingsNameTheStation) {
    m_settings.WriteString("Main", "IDString", "Studio West");
    uint32_t version = 5;
    const StationIdentity id = ReadLocalIdentity(m_settings, nullptr, &version);
    EXPECT_EQ(version, 5u);
    EXPECT_STREQ(id.stationName, "Studio West");
    EXPECT_STREQ(id.productName, "Velmora");
    EXPECT_EQ(id.versionNumber, kStationVersionNumber);
}

TEST_F(LocalIdentityTest, RegistryNameIsTakenAndAnOldVersionRaised) {
    {
        CRegistryKey key;
        ASSERT_EQ(key.Create(kStationRegistryPath), 1);
        key.SetString("Name", "Studio Ost", 11);
        key.SetDword("Version", 100);
    }
    CRegistryKey registry;
    uint32_t version = 0;
    const StationIdentity id = ReadLocalIdentity(m_settings, &registry, &version);
    EXPECT_STREQ(id.stationName, "Studio Ost");
    EXPECT_EQ(version, kStationRegistryVersion);
    EXPECT_EQ(m_settings.GetMainIDString(), "Studio Ost");
    // A newer version in the registry stays.
    {
        CRegistryKey key;
        ASSERT_EQ(key.Create(kStationRegistryPath), 1);
        key.SetDword("Version", kStationRegistryVersion + 7);
    }
    ReadLocalIdentity(m_settings, &registry, &version);
    EXPECT_EQ(version, kStationRegistryVersion + 7);
}

}  // namespace
