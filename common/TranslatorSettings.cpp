// The translator's uses of the settings store: which file to load, and the
// language choice of the global settings dialog.
#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "common/Settings.h"
#include "common/Translator.h"

namespace {
constexpr char kEnglish[] = "English (Default)";
constexpr char kPrefix[] = "VelmoraTrans.";
constexpr char kSuffix[] = ".Language";
}  // namespace

int CTranslator::LoadLanguage() {
    const CSettings settings;
    if (settings.GetMiniISDNEnabled()) return 1;
    return LoadLanguageFile(0, settings.GetMainLanguage().c_str());
}

void CTranslator::FillLanguageList(int comboId) {
    if (!m_window) return;
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(".", ec)) {
        const std::string file = entry.path().filename().string();
        if (file.rfind(kPrefix, 0) != 0) continue;
        const std::string name = LanguageNameOf(file);
        if (!name.empty()) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) m_window->AddComboString(comboId, name.c_str());
    m_window->AddComboString(comboId, kEnglish);
    const std::string current = LanguageNameOf(CSettings().GetMainLanguage());
    m_window->SelectComboString(comboId, current.empty() ? kEnglish : current.c_str());
}

void CTranslator::SaveLanguageChoice(int comboId) {
    std::string chosen;
    if (!m_window || !m_window->GetComboSelection(comboId, chosen)) return;
    const CSettings settings;
    if (chosen == kEnglish) {
        settings.SetMainLanguage("");
    } else {
        settings.SetMainLanguage((kPrefix + chosen + kSuffix).c_str());
    }
}
