#include "common/Translator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/SharedState.h"
#include "platform/MessageBoxCodes.h"

namespace fs = std::filesystem;

namespace {

// 17 sections (0 to 16) of three texts each, "S<s>L<l>", headers after CR LF.
std::string MakeLanguage(const char* eol = "\r\n", int sections = 17) {
    std::string text = "Velmora language file" + std::string(eol);
    for (int s = 0; s < sections; ++s) {
        text += "[Section " + std::to_string(s) + "]" + eol;
        for (int l = 0; l < 3; ++l) text += "S" + std::to_string(s) + "L" + std::to_string(l) + eol;
    }
    return text;
}

struct FakeWindow : CTranslatorWindow {
    std::map<int, std::string> texts;
    std::vector<std::string> combo;
    std::map<int, intptr_t> data;
    std::string boxText, boxCaption;
    UINT boxStyle = 0;
    int answer = IDYES;
    bool SetItemText(int id, const char* text) override {
        texts[id] = text;
        return true;
    }
    int AddComboString(int id, const char* text) override {
        if (id != 500) return -1;
        combo.push_back(text);
        return static_cast<int>(combo.size()) - 1;
    }
    bool SetComboItemData(int, int index, intptr_t value) override {
        data[index] = value;
        return true;
    }
    int SelectComboString(int, const char*) override { return -1; }
    bool GetComboSelection(int, std::string&) override { return false; }
    int MessageBox(const char* text, const char* caption, UINT style) override {
        boxText = text;
        boxCaption = caption;
        boxStyle = style;
        return answer;
    }
};

struct FakeMenu : CTranslatorMenu {
    std::string text = "&Open phonebook...\tCtrl+O";
    bool GetMenuString(UINT, UINT, std::string& out) override {
        out = text;
        return true;
    }
    bool ModifyMenu(UINT, UINT, const char* t) override {
        text = t;
        return true;
    }
};

struct TranslatorTest : ::testing::Test {
    SharedState m_state;
    SharedState* m_saved = g_sharedState;
    fs::path m_dir;

    void SetUp() override {
        g_sharedState = &m_state;
        m_dir = fs::temp_directory_path() /
                ("velmora_translator_" + std::to_string(::getpid()) + "_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        g_sharedState = m_saved;
        fs::remove_all(m_dir);
    }
    std::string Write(const std::string& name, const std::string& bytes) {
        const fs::path p = m_dir / name;
        std::ofstream(p, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
};

TEST_F(TranslatorTest, WithoutALanguageEveryTextIsTheDefault) {
    CTranslator t;
    EXPECT_EQ(t.IsDefaultLanguage(), 1);
    EXPECT_STREQ(t.GetText(0x100003, "Idle"), "Idle");
    EXPECT_STREQ(t.GetSectionText(2, 24, "Close?"), "Close?");
    EXPECT_EQ(t.LoadLanguageFile(0, ""), 1);
    EXPECT_EQ(t.LoadLanguageFile(1, Write("VelmoraTrans.Deutsch.Language", MakeLanguage()).c_str()), 1);
    EXPECT_EQ(t.IsDefaultLanguage(), 1);  // MiniISDN mode never loads a file
    EXPECT_EQ(t.LoadLanguageFile(0, (m_dir / "missing.Language").c_str()), 0);
    EXPECT_EQ(t.IsDefaultLanguage(), 1);
}

TEST_F(TranslatorTest, PlainFileLoadsAndLookupsFollowTheSectionRules) {
    CTranslator t;
    ASSERT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.Test.Language", MakeLanguage()).c_str()), 1);
    EXPECT_EQ(t.IsDefaultLanguage(), 0);
    EXPECT_EQ(m_state.sectionCount, 17);
    EXPECT_STREQ(t.GetText(2, "x"), "S0L2");
    EXPECT_STREQ(t.GetText((16 << 16) | 2, "x"), "S16L2");
    EXPECT_STREQ(t.GetText((16 << 16) | 3, "x"), "x");  // line beyond the section
    EXPECT_STREQ(t.GetText((17 << 16) | 0, "x"), "x");  // section beyond the file
    t.SetSection(5);
    EXPECT_STREQ(t.GetText((16 << 16) | 1, "x"), "S16L1");
    EXPECT_STREQ(t.GetText(1, "x"), "S5L1");
    EXPECT_STREQ(t.GetSectionText(0, 2, "x"), "S5L2");
    EXPECT_STREQ(t.GetSectionText(3, 0, "x"), "S3L0");
    EXPECT_STREQ(t.GetText(-1, "x"), "x");
    char small[4];
    t.CopyText(small, sizeof small, 0, "default");
    EXPECT_STREQ(small, "S5L");  // cut to the buffer, still terminated
    t.CopyText(small, sizeof small, 9, "ab");
    EXPECT_STREQ(small, "ab");
    // A second file is not loaded over the first.
    EXPECT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.Other.Language", MakeLanguage("\r\n", 18)).c_str()), 1);
    EXPECT_EQ(m_state.sectionCount, 17);
}

TEST_F(TranslatorTest, LfOnlyFileIsTakenForEncipheredAndRefused) {
    CTranslator t;
    EXPECT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.Lf.Language", MakeLanguage("\n")).c_str()), 0);
    EXPECT_EQ(t.IsDefaultLanguage(), 1);
    EXPECT_EQ(m_state.languageText, nullptr);
    // LF CR counts like CR LF.
    EXPECT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.LfCr.Language", MakeLanguage("\n\r")).c_str()), 1);
}

TEST_F(TranslatorTest, FirstByteHeaderCommentsAndEmptyLines) {
    std::string text = "[First]\r\nzero\r\n;comment\r\n\r\n\r\none\n\n;another\rtwo";
    text = "[First]\r\nzero\r\n;comment\r\n\r\n\r\none\r\n\r\n;another\r\ntwo\r\n" + MakeLanguage().substr(23);
    CTranslator t;
    ASSERT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.First.Language", text).c_str()), 1);
    EXPECT_EQ(m_state.sectionCount, 18);
    EXPECT_STREQ(t.GetText(0, "x"), "zero");
    EXPECT_STREQ(t.GetText(1, "x"), "one");
    EXPECT_STREQ(t.GetText(2, "x"), "two");
    EXPECT_STREQ(t.GetText((1 << 16) | 0, "x"), "S0L0");
}

TEST_F(TranslatorTest, LastLineWithoutLineEndIsTerminated) {
    std::string text = MakeLanguage();
    text += "[Last]\r\nno line end";
    CTranslator t;
    ASSERT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.End.Language", text).c_str()), 1);
    EXPECT_STREQ(t.GetText((17 << 16) | 0, "x"), "no line end");
}

TEST_F(TranslatorTest, SizeLimitIsInclusive) {
    std::string text = MakeLanguage();
    std::string filler = "[Filler]\r\n";
    std::string exact = text + filler + std::string(CTranslator::kMaxFileBytes - text.size() - filler.size(), 'x');
    ASSERT_EQ(exact.size(), CTranslator::kMaxFileBytes);
    {
        CTranslator t;
        EXPECT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.Max.Language", exact).c_str()), 1);
        EXPECT_EQ(std::string(t.GetText((17 << 16) | 0, "x")).size(), exact.size() - text.size() - filler.size());
    }
    CTranslator t;
    EXPECT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.Big.Language", exact + "x").c_str()), 0);
    EXPECT_EQ(t.IsDefaultLanguage(), 1);
}

TEST_F(TranslatorTest, EncipheredFileLoadsAndDamagedOnesFallBack) {
    std::string text = MakeLanguage() + "tail";  // not a whole number of blocks
    std::string bytes = text;
    CTranslator::Encipher(reinterpret_cast<uint8_t*>(bytes.data()), bytes.size());
    EXPECT_FALSE(CTranslator::IsPlainText(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    {
        CTranslator t;
        ASSERT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.Enc.Language", bytes).c_str()), 1);
        EXPECT_STREQ(t.GetText((16 << 16) | 2, "x"), "S16L2");
    }
    EXPECT_EQ(m_state.sectionTable, nullptr);  // freed with the last translator
    EXPECT_EQ(m_state.languageName[0], 0);
    // Cut short: too few headers left is English; cut near the end still
    // loads what survived. Neither reads past the buffer.
    for (size_t cut : {size_t{0}, size_t{3}, size_t{16}, size_t{100}, bytes.size() - 17, bytes.size() - 1}) {
        CTranslator t;
        const int loaded = t.LoadLanguageFile(0, Write("VelmoraTrans.Cut.Language", bytes.substr(0, cut)).c_str());
        EXPECT_EQ(loaded, cut > bytes.size() / 2 ? 1 : 0) << cut;
        EXPECT_EQ(t.IsDefaultLanguage(), loaded ? 0 : 1);
        for (int s = 0; s < 18; ++s) EXPECT_NE(t.GetText((s << 16) | 2, "x"), nullptr);
    }
    CTranslator t;
    std::string flipped = bytes;
    flipped[5] ^= 0x40;
    // One block deciphers to noise; the other headers still pass the test.
    EXPECT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.Flip.Language", flipped).c_str()), 1);
}

TEST_F(TranslatorTest, FileEncipheredByOpensslLoads) {
    if (std::system("command -v openssl >/dev/null 2>&1") != 0) GTEST_SKIP() << "openssl not on PATH";
    const std::string text = MakeLanguage() + "trailing bytes";
    const size_t whole = text.size() - text.size() % 16;
    const std::string plainPath = Write("plain.bin", text.substr(0, whole));
    uint8_t key[32];
    CTranslator::DerivedKey(key);
    char hex[65];
    for (int i = 0; i < 32; ++i) std::snprintf(hex + 2 * i, 3, "%02x", key[i]);
    const std::string encPath = (m_dir / "enc.bin").string();
    const std::string cmd = "openssl enc -aes-256-ecb -nopad -K " + std::string(hex) + " -in '" + plainPath +
                            "' -out '" + encPath + "' 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::ifstream in(encPath, std::ios::binary);
    std::string enc((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(enc.size(), whole);
    // The tail is XORed; recover the mask from our own encipherment of the same tail.
    std::string tail = text.substr(whole);
    std::string ours = text;
    CTranslator::Encipher(reinterpret_cast<uint8_t*>(ours.data()), ours.size());
    EXPECT_EQ(ours.substr(0, whole), enc);
    enc += ours.substr(whole);
    CTranslator t;
    ASSERT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.Ossl.Language", enc).c_str()), 1);
    EXPECT_STREQ(t.GetText((16 << 16) | 0, "x"), "S16L0");
}

TEST_F(TranslatorTest, BoxesTakeTheirCaptionsFromSection16) {
    FakeWindow window;
    CTranslator t;
    EXPECT_EQ(t.ShowError(4, "Unable to init Codec object."), 0);  // no window, nothing shown
    t.AttachWindow(&window);
    t.ShowError(4, "Unable to init Codec object.");
    EXPECT_EQ(window.boxText, "Unable to init Codec object.");
    EXPECT_EQ(window.boxCaption, "Error...");
    EXPECT_EQ(window.boxStyle, 0x10010u);
    EXPECT_EQ(t.Confirm(24, "Close?"), 1);
    EXPECT_EQ(window.boxCaption, "Confirm?");
    EXPECT_EQ(window.boxStyle, 0x10024u);
    window.answer = IDNO;
    EXPECT_EQ(t.Confirm(24, "Close?"), 0);

    ASSERT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.Box.Language", MakeLanguage()).c_str()), 1);
    t.ShowError(2, "d");
    EXPECT_EQ(window.boxText, "S16L2");
    EXPECT_EQ(window.boxCaption, "S16L0");
    t.SetSection(2);
    t.Confirm(1, "d");
    EXPECT_EQ(window.boxText, "S2L1");
    EXPECT_EQ(window.boxCaption, "S16L1");
    t.ConfirmSectionText(7, 0, "d");
    EXPECT_EQ(window.boxText, "S7L0");
}

TEST_F(TranslatorTest, ControlsCombosAndMenus) {
    FakeWindow window;
    FakeMenu menu;
    CTranslator t;
    EXPECT_EQ(t.SetItemText(1001, 0, "Add"), 0);  // no window yet
    t.AttachWindow(&window);
    EXPECT_EQ(t.SetItemText(1001, 0, "Add"), 1);
    EXPECT_EQ(window.texts[1001], "Add");
    EXPECT_EQ(t.SetItemText(1001, 0, nullptr), 0);
    EXPECT_EQ(t.AddComboString(500, 0, "Mono", 10), 1);
    EXPECT_EQ(t.AddComboString(500, 1, "Stereo", -1), 1);
    EXPECT_EQ(t.AddComboString(501, 1, "Stereo", 3), 0);  // missing control
    EXPECT_EQ(window.data.size(), 1u);
    EXPECT_EQ(window.data[0], 10);

    EXPECT_EQ(t.TranslateMenuItem(6, nullptr, 40008, 0, "x"), 0);
    EXPECT_EQ(t.TranslateMenuItem(6, &menu, 40008, 0, ""), 0);
    EXPECT_EQ(t.TranslateMenuItem(6, &menu, 40008, 0, "&Open phonebook..."), 1);
    EXPECT_EQ(menu.text, "&Open phonebook...\tCtrl+O");
    ASSERT_EQ(t.LoadLanguageFile(0, Write("VelmoraTrans.Menu.Language", MakeLanguage()).c_str()), 1);
    EXPECT_EQ(t.TranslateMenuItem(2, &menu, 40008, 0, "x"), 1);
    EXPECT_EQ(menu.text, "S1L2\tCtrl+O");
    menu.text = "Exit";
    EXPECT_EQ(t.TranslateMenuItem(1, &menu, 2, 0, "x"), 1);
    EXPECT_EQ(menu.text, "S1L1");
    EXPECT_EQ(t.TranslateMenuItem(9, &menu, 2, 0, "Default"), 1);  // line missing: default
    EXPECT_EQ(menu.text, "Default");
}

TEST(TranslatorNameTest, LanguageNameOfAFileName) {
    EXPECT_EQ(CTranslator::LanguageNameOf("VelmoraTrans.Deutsch.Language"), "Deutsch");
    EXPECT_EQ(CTranslator::LanguageNameOf("VelmoraTrans.Pt.Br.Language"), "Pt.Br");
    EXPECT_EQ(CTranslator::LanguageNameOf("VelmoraTrans.Language"), "");
    EXPECT_EQ(CTranslator::LanguageNameOf("Deutsch.txt"), "");
    EXPECT_EQ(CTranslator::LanguageNameOf(""), "");
}

}  // namespace
