#include "ui/GlobalSettingsLogic.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "common/Codes.h"
#include "common/Phonebook.h"
#include "common/Settings.h"
#include "support/IniKeys.h"
#include "support/TempDir.h"

namespace {
PhonebookEntry Entry(const char* name, int kind) {
    PhonebookEntry e;
    std::strncpy(e.name, name, sizeof e.name - 1);
    e.connection.kind = kind;
    return e;
}

struct GlobalSettingsLogicTest : ::testing::Test {
    void SetUp() override {
        // The language choice goes through the program's own settings file.
        setenv("VELMORA_SETTINGS_FILE", m_settings.GetPath().c_str(), 1);
        m_book.Init((m_dir / "Book.Pb").c_str());
        m_book.AddEntry(Entry("Studio A", TRANSPORT_TCP));
        m_book.AddEntry(Entry("Studio B", TRANSPORT_ISDN));
        m_book.AddEntry(Entry("Relay", TRANSPORT_MULTICAST));
        m_book.AddEntry(Entry("Studio C", TRANSPORT_TCP));
    }
    void TearDown() override { unsetenv("VELMORA_SETTINGS_FILE"); }

    CTempDir m_dir{"global-settings"};
    CSettings m_settings{m_dir / "Velmora.Ini"};
    CPhonebook m_book;
    CGlobalSettingsLogic m_logic;
};

TEST_F(GlobalSettingsLogicTest, DefaultsStoreExactlyTheDialogsKeys) {
    m_logic.Load(m_settings, &m_book);
    EXPECT_EQ(m_logic.Law(), 2);
    EXPECT_EQ(m_logic.Kind(), 16);
    EXPECT_EQ(m_logic.KindEntry(), 1);
    EXPECT_EQ(m_logic.Names().size(), 2u);  // the Network / IP entries only
    EXPECT_EQ(m_logic.Location(), "Library");
    ASSERT_FALSE(m_logic.Languages().empty());
    EXPECT_EQ(m_logic.Languages()[static_cast<size_t>(m_logic.LanguageIndex())], "English (Default)");
    m_logic.Store(m_settings);
    const std::map<std::string, std::string> expected = {
        {"Main/IDString", ""},       {"ISDN/G711Type", "2"},        {"Main/Language", ""},
        {"Main/FastCPU", "0"},       {"Library/Location", "Library"}, {"Main/AutoDial", "0"},
        {"Main/AutoDialType", "16"}, {"Main/AutoDialName", ""}};
    EXPECT_EQ(IniKeys(m_settings.GetPath()), expected);
}

TEST_F(GlobalSettingsLogicTest, AutoConnectKindsNamesAndAMissingName) {
    m_settings.SetMainAutoDial(1);
    m_settings.SetMainAutoDialType(32);
    m_settings.SetMainAutoDialName("Gone");
    m_settings.SetISDNG711Type(4);
    m_settings.SetMainFastCPU(1);
    m_logic.Load(m_settings, &m_book);
    EXPECT_TRUE(m_logic.AutoDial());
    EXPECT_EQ(m_logic.KindEntry(), 0);
    EXPECT_EQ(m_logic.Names(), (std::vector<std::string>{"Studio B"}));
    EXPECT_EQ(m_logic.Name(), "");  // cleared on opening
    EXPECT_EQ(m_logic.Law(), 4);
    EXPECT_TRUE(m_logic.FastCpu());
    m_logic.SelectName(0);
    EXPECT_EQ(m_logic.Name(), "Studio B");
    m_logic.SelectKindEntry(2);
    EXPECT_EQ(m_logic.Kind(), 128);
    EXPECT_EQ(m_logic.Name(), "");  // not among the multicast names
    m_logic.SelectName(0);
    m_logic.SetIdString(std::string(50, 'x'));
    m_logic.Store(m_settings);
    EXPECT_EQ(m_settings.GetMainAutoDialType(), 128);
    EXPECT_EQ(m_settings.GetMainAutoDialName(), "Relay");
    EXPECT_EQ(m_settings.GetMainIDString().size(), 39u);
    // An unknown kind counts as Network / IP.
    m_settings.SetMainAutoDialType(64);
    m_logic.Load(m_settings, nullptr);
    EXPECT_EQ(m_logic.Kind(), 16);
    EXPECT_TRUE(m_logic.Names().empty());
}

TEST_F(GlobalSettingsLogicTest, LanguageFilesAreOfferedAndTheChoiceStored) {
    const std::filesystem::path before = std::filesystem::current_path();
    std::filesystem::current_path(m_dir.Path());
    { std::ofstream(m_dir / "VelmoraTrans.Deutsch.Language") << "x"; }
    m_logic.Load(m_settings, &m_book);
    EXPECT_EQ(m_logic.Languages(), (std::vector<std::string>{"Deutsch", "English (Default)"}));
    m_logic.SelectLanguage(0);
    m_logic.Store(m_settings);
    EXPECT_EQ(m_settings.GetMainLanguage(), "VelmoraTrans.Deutsch.Language");
    std::filesystem::current_path(before);
}

TEST(GlobalSettingsPaths, FolderOfAChosenFile) {
    EXPECT_EQ(CGlobalSettingsLogic::FolderOf("/home/studio/Library/clip.wav"), "/home/studio/Library");
    EXPECT_EQ(CGlobalSettingsLogic::FolderOf("clip.wav"), "");
    EXPECT_EQ(CGlobalSettingsLogic::BrowseStartName("Library"), "Library/*.*");
}
}  // namespace
