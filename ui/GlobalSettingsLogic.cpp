#include "ui/GlobalSettingsLogic.h"

#include <algorithm>

#include "common/Phonebook.h"
#include "common/Settings.h"

namespace {
constexpr int kLanguageList = 1220;
}

CGlobalSettingsLogic::CGlobalSettingsLogic() {
    m_translator.SetSection(6);
    m_translator.AttachWindow(this);
}

void CGlobalSettingsLogic::Load(const CSettings& settings, CPhonebook* phonebook) {
    m_phonebook = phonebook;
    SetIdString(settings.GetMainIDString());
    m_languages.clear();
    m_language = -1;
    m_translator.FillLanguageList(kLanguageList);
    SetLaw(settings.GetISDNG711Type());
    m_fastCpu = settings.GetMainFastCPU() == 1;
    m_location = settings.GetLibraryLocation();
    m_autoDial = settings.GetMainAutoDial() != 0;
    const int kind = settings.GetMainAutoDialType();
    m_kind = kind == 32 || kind == 128 ? kind : 16;
    m_name = settings.GetMainAutoDialName();
    FillNames();
}

void CGlobalSettingsLogic::Store(const CSettings& settings) {
    settings.SetMainIDString(m_id.c_str());
    settings.SetISDNG711Type(m_law);
    m_translator.SaveLanguageChoice(kLanguageList);
    settings.SetMainFastCPU(m_fastCpu ? 1 : 0);
    settings.SetLibraryLocation(m_location.c_str());
    settings.SetMainAutoDial(m_autoDial ? 1 : 0);
    settings.SetMainAutoDialType(m_kind);
    settings.SetMainAutoDialName(m_name.c_str());
}

int CGlobalSettingsLogic::KindEntry() const {
    for (int entry = 0; entry < 3; ++entry)
        if (kKindOfEntry[entry] == m_kind) return entry;
    return 1;
}

void CGlobalSettingsLogic::SelectKindEntry(int entry) {
    if (entry < 0 || entry >= 3) return;
    m_kind = kKindOfEntry[entry];
    FillNames();
}

void CGlobalSettingsLogic::SelectName(int index) {
    m_name = index >= 0 && index < static_cast<int>(m_names.size()) ? m_names[static_cast<size_t>(index)] : "";
}

int CGlobalSettingsLogic::NameIndex() const {
    auto it = std::find(m_names.begin(), m_names.end(), m_name);
    return it == m_names.end() ? -1 : static_cast<int>(it - m_names.begin());
}

void CGlobalSettingsLogic::SelectLanguage(int index) {
    m_language = index >= 0 && index < static_cast<int>(m_languages.size()) ? index : -1;
}

void CGlobalSettingsLogic::FillNames() {
    m_names.clear();
    if (m_phonebook) m_phonebook->FillComboBox(this, m_kind);
    if (NameIndex() < 0) m_name.clear();
}

std::string CGlobalSettingsLogic::FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

int CGlobalSettingsLogic::AddComboString(int controlId, const char* text) {
    if (controlId != kLanguageList) return -1;
    m_languages.emplace_back(text);
    return static_cast<int>(m_languages.size()) - 1;
}

int CGlobalSettingsLogic::SelectComboString(int controlId, const char* text) {
    if (controlId != kLanguageList) return -1;
    auto it = std::find(m_languages.begin(), m_languages.end(), text);
    m_language = it == m_languages.end() ? -1 : static_cast<int>(it - m_languages.begin());
    return m_language;
}

bool CGlobalSettingsLogic::GetComboSelection(int controlId, std::string& text) {
    if (controlId != kLanguageList || m_language < 0) return false;
    text = m_languages[static_cast<size_t>(m_language)];
    return true;
}
