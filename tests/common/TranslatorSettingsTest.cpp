// The translator with the settings store: which file loads, and the language
// choice of the global settings dialog.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/Settings.h"
#include "common/SharedState.h"
#include "common/Translator.h"

namespace fs = std::filesystem;

namespace {

struct ComboWindow : CTranslatorWindow {
    std::vector<std::string> items;
    std::string selected;
    bool SetItemText(int, const char*) override { return true; }
    int AddComboString(int, const char* text) override {
        items.push_back(text);
        return static_cast<int>(items.size()) - 1;
    }
    bool SetComboItemData(int, int, intptr_t) override { return true; }
    int SelectComboString(int, const char* text) override {
        for (size_t i = 0; i < items.size(); ++i) {
            if (items[i] == text) {
                selected = text;
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    bool GetComboSelection(int, std::string& text) override {
        if (selected.empty()) return false;
        text = selected;
        return true;
    }
    int MessageBox(const char*, const char*, UINT) override { return 1; }
};

struct TranslatorSettingsTest : ::testing::Test {
    SharedState m_state;
    SharedState* m_saved = g_sharedState;
    fs::path m_oldDir = fs::current_path();
    fs::path m_dir = fs::temp_directory_path() / ("velmora_trset_" + std::to_string(getpid()));
    std::string m_oldEnv;
    bool m_hadEnv = false;

    void SetUp() override {
        g_sharedState = &m_state;
        fs::create_directories(m_dir);
        fs::current_path(m_dir);
        if (const char* e = std::getenv("VELMORA_SETTINGS_FILE")) {
            m_hadEnv = true;
            m_oldEnv = e;
        }
        unsetenv("VELMORA_SETTINGS_FILE");  // Velmora.Ini in the current directory
    }
    void TearDown() override {
        fs::current_path(m_oldDir);
        fs::remove_all(m_dir);
        if (m_hadEnv) setenv("VELMORA_SETTINGS_FILE", m_oldEnv.c_str(), 1);
        g_sharedState = m_saved;
    }
    static void Write(const std::string& name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }
    static std::string Language() {
        std::string text = "x\r\n";
        for (int s = 0; s < 17; ++s) text += "[S]\r\nS" + std::to_string(s) + "\r\n";
        return text;
    }
};

TEST_F(TranslatorSettingsTest, LoadsTheFileNamedInTheSettingsUnlessMiniIsdn) {
    Write("VelmoraTrans.Deutsch.Language", Language());
    {
        CTranslator t;
        EXPECT_EQ(t.LoadLanguage(), 1);  // no Language key: English
        EXPECT_EQ(t.IsDefaultLanguage(), 1);
    }
    CSettings().SetMainLanguage("VelmoraTrans.Deutsch.Language");
    Write("Velmora.Ini", "[Main]\r\nLanguage=VelmoraTrans.Deutsch.Language\r\n[MiniISDN]\r\nEnabled=1\r\n");
    {
        CTranslator t;
        EXPECT_EQ(t.LoadLanguage(), 1);
        EXPECT_EQ(t.IsDefaultLanguage(), 1);  // MiniISDN mode stays English
    }
    Write("Velmora.Ini", "[Main]\r\nLanguage=VelmoraTrans.Deutsch.Language\r\n");
    {
        CTranslator t;
        EXPECT_EQ(t.LoadLanguage(), 1);
        EXPECT_STREQ(t.GetText(16 << 16, "x"), "S16");
    }
    Write("Velmora.Ini", "[Main]\r\nLanguage=VelmoraTrans.Missing.Language\r\n");
    CTranslator t;
    EXPECT_EQ(t.LoadLanguage(), 0);
    EXPECT_EQ(t.IsDefaultLanguage(), 1);
}

TEST_F(TranslatorSettingsTest, LanguageListAndChoice) {
    Write("VelmoraTrans.Deutsch.Language", "");
    Write("VelmoraTrans.Cymraeg.Language", "");
    Write("Other.Language", "");
    ComboWindow combo;
    CTranslator t;
    t.AttachWindow(&combo);
    t.FillLanguageList(1001);
    EXPECT_EQ(combo.items, (std::vector<std::string>{"Cymraeg", "Deutsch", "English (Default)"}));
    EXPECT_EQ(combo.selected, "English (Default)");

    combo.selected = "Deutsch";
    t.SaveLanguageChoice(1001);
    EXPECT_EQ(CSettings().GetMainLanguage(), "VelmoraTrans.Deutsch.Language");
    combo.items.clear();
    combo.selected.clear();
    t.FillLanguageList(1001);
    EXPECT_EQ(combo.selected, "Deutsch");

    combo.selected = "English (Default)";
    t.SaveLanguageChoice(1001);
    EXPECT_EQ(CSettings().GetMainLanguage(), "");
    combo.selected.clear();
    CSettings().SetMainLanguage("VelmoraTrans.Cymraeg.Language");
    t.SaveLanguageChoice(1001);  // nothing selected: nothing written
    EXPECT_EQ(CSettings().GetMainLanguage(), "VelmoraTrans.Cymraeg.Language");
}

}  // namespace
