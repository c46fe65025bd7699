#pragma once
// The global settings: station identification, language, processor speed,
// G.711 law, library location and the connection made at start-up. Plain
// logic under CGlobalSettingsDlg; the language list goes through the
// translator like every other translated list.
//
// Threads: GUI thread.
#include <string>
#include <vector>

#include "common/PhonebookView.h"
#include "common/Translator.h"
#include "common/TranslatorWindow.h"

class CPhonebook;
class CSettings;

class CGlobalSettingsLogic : private CTranslatorWindow, private IPhonebookComboBox {
public:
    static constexpr int kIdLength = 39;
    // Destination kinds of the auto-connect list, in list order.
    static constexpr int kKindOfEntry[3] = {32, 16, 128};

    CGlobalSettingsLogic();
    // The phonebook may be null (no names to offer).
    void Load(const CSettings& settings, CPhonebook* phonebook);
    void Store(const CSettings& settings);

    void SetIdString(const std::string& text) { m_id = text.substr(0, kIdLength); }
    void SetLaw(int law) { m_law = law == 4 ? 4 : 2; }
    void SetFastCpu(bool on) { m_fastCpu = on; }
    void SetLocation(const std::string& text) { m_location = text; }
    void SetAutoDial(bool on) { m_autoDial = on; }
    void SelectKindEntry(int entry);
    // -1 clears the name.
    void SelectName(int index);
    void SelectLanguage(int index);

    const std::string& IdString() const { return m_id; }
    int Law() const { return m_law; }
    bool FastCpu() const { return m_fastCpu; }
    const std::string& Location() const { return m_location; }
    bool AutoDial() const { return m_autoDial; }
    int Kind() const { return m_kind; }
    int KindEntry() const;
    const std::vector<std::string>& Names() const { return m_names; }
    const std::string& Name() const { return m_name; }
    int NameIndex() const;
    const std::vector<std::string>& Languages() const { return m_languages; }
    int LanguageIndex() const { return m_language; }

    // The folder part of a chosen file (up to its last '/'), and the name the
    // browse dialog starts with.
    static std::string FolderOf(const std::string& path);
    static std::string BrowseStartName(const std::string& location) { return location + "/*.*"; }

private:
    void FillNames();
    // CTranslatorWindow: the language list.
    bool SetItemText(int, const char*) override { return false; }
    int AddComboString(int controlId, const char* text) override;
    bool SetComboItemData(int, int, intptr_t) override { return false; }
    int SelectComboString(int controlId, const char* text) override;
    bool GetComboSelection(int controlId, std::string& text) override;
    int MessageBox(const char*, const char*, UINT) override { return 0; }
    // IPhonebookComboBox: the names of one kind.
    void ResetContent() override { m_names.clear(); }
    void AddString(const char* name) override { m_names.emplace_back(name); }

    CTranslator m_translator;
    CPhonebook* m_phonebook = nullptr;
    std::string m_id;
    int m_law = 2;
    bool m_fastCpu = false;
    std::string m_location;
    bool m_autoDial = false;
    int m_kind = 16;
    std::vector<std::string> m_names;
    std::string m_name;
    std::vector<std::string> m_languages;
    int m_language = -1;
};
