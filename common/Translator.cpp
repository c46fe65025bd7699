#include "common/Translator.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "common/Rijndael.h"
#include "common/Sha256.h"
#include "common/SharedState.h"
#include "platform/MessageBoxCodes.h"

namespace {

// The key of enciphered language files is the digest of this identifier; it
// is rebuilt each time and never stored.
constexpr char kKeyIdentifier[] = "VelmoraTrns";
static_assert(sizeof(kKeyIdentifier) == 12, "the identifier has 11 characters");
// The bytes after the last whole cipher block are XORed with this.
constexpr uint8_t kTailMask = 0xA5;

constexpr char kErrorCaption[] = "Error...";
constexpr char kConfirmCaption[] = "Confirm?";

// A section's line table: word 0 the count, then one pointer per text.
using LineTable = uintptr_t;

int LineCount(const LineTable* table) { return table ? static_cast<int>(table[0]) : 0; }
const char* LineAt(const LineTable* table, int line) {
    return reinterpret_cast<const char*>(table[1 + line]);
}

LineTable** Sections() {
    return g_sharedState ? static_cast<LineTable**>(g_sharedState->sectionTable) : nullptr;
}

void FreeText() {
    if (!g_sharedState) return;
    delete[] static_cast<uint8_t*>(g_sharedState->languageText);
    g_sharedState->languageText = nullptr;
}

void FreeSectionTable() {
    if (!g_sharedState) return;
    LineTable** sections = Sections();
    if (sections) {
        for (int s = 0; s < g_sharedState->sectionCount; ++s) delete[] sections[s];
        delete[] sections;
    }
    g_sharedState->sectionTable = nullptr;
    g_sharedState->sectionCount = 0;
}

// Cuts the text (size bytes plus our terminating NUL) into sections and
// lines and publishes the tables. False when memory runs out.
bool Split(uint8_t* text, size_t size) {
    // Line starts: the first byte and every byte after a CR or LF that is not
    // itself one (empty lines do not count).
    std::vector<size_t> starts;
    bool lineStart = true;
    for (size_t p = 0; p < size; ++p) {
        const bool newline = text[p] == '\r' || text[p] == '\n';
        if (newline) {
            text[p] = 0;
        } else if (lineStart) {
            starts.push_back(p);
        }
        lineStart = newline;
    }
    text[size] = 0;

    std::vector<size_t> headers;
    for (size_t i = 0; i < starts.size(); ++i) {
        if (text[starts[i]] == '[') headers.push_back(i);
    }
    const int count = static_cast<int>(headers.size());
    LineTable** sections = new (std::nothrow) LineTable*[count ? count : 1]();
    if (!sections) return false;
    g_sharedState->sectionTable = sections;
    g_sharedState->sectionCount = count;
    for (int s = 0; s < count; ++s) {
        const size_t end = s + 1 < count ? headers[s + 1] : starts.size();
        std::vector<const char*> lines;
        for (size_t i = headers[s] + 1; i < end; ++i) {
            const char* line = reinterpret_cast<const char*>(text + starts[i]);
            if (line[0] != ';') lines.push_back(line);
        }
        LineTable* table = new (std::nothrow) LineTable[lines.size() + 1];
        if (!table) return false;
        table[0] = lines.size();
        for (size_t i = 0; i < lines.size(); ++i) table[1 + i] = reinterpret_cast<uintptr_t>(lines[i]);
        sections[s] = table;
    }
    return true;
}

// Reads the whole file into a fresh buffer with one spare byte for the NUL
// that ends the last line. Null on any failure.
uint8_t* ReadFile(const char* fileName, size_t& size) {
    std::FILE* f = std::fopen(fileName, "rb");
    if (!f) return nullptr;
    uint8_t* text = nullptr;
    long length = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) length = std::ftell(f);
    if (length >= 0 && static_cast<unsigned long>(length) <= CTranslator::kMaxFileBytes &&
        std::fseek(f, 0, SEEK_SET) == 0) {
        size = static_cast<size_t>(length);
        text = new (std::nothrow) uint8_t[size + 1];
        if (text && std::fread(text, 1, size, f) != size) {
            delete[] text;
            text = nullptr;
        }
    }
    std::fclose(f);
    return text;
}

}  // namespace

CTranslator::CTranslator() {
    if (g_sharedState) ++g_sharedState->translatorReferences;
}

CTranslator::~CTranslator() {
    if (!g_sharedState) return;
    if (g_sharedState->translatorReferences.fetch_sub(1) <= 1) {
        g_sharedState->translatorReferences.store(0);
        FreeTables();
    }
}

void CTranslator::FreeTables() {
    FreeSectionTable();
    FreeText();
    // Forget the name too: a later load of the same file must read it again.
    g_sharedState->languageName[0] = 0;
}

void CTranslator::DerivedKey(uint8_t key[32]) {
    Sha256(reinterpret_cast<const uint8_t*>(kKeyIdentifier), sizeof(kKeyIdentifier) - 1, key,
           Sha256Length::LittleEndian);
}

void CTranslator::Decipher(uint8_t* text, size_t size) {
    uint8_t key[32];
    DerivedKey(key);
    CRijndael aes(key);
    aes.DecryptEcb(text, size);
    for (size_t p = size - size % 16; p < size; ++p) text[p] ^= kTailMask;
    std::memset(key, 0, sizeof key);
}

void CTranslator::Encipher(uint8_t* text, size_t size) {
    uint8_t key[32];
    DerivedKey(key);
    CRijndael aes(key);
    aes.EncryptEcb(text, size);
    for (size_t p = size - size % 16; p < size; ++p) text[p] ^= kTailMask;
    std::memset(key, 0, sizeof key);
}

bool CTranslator::IsPlainText(const uint8_t* text, size_t size) {
    if (size < 5) return false;
    int headers = 0;
    for (size_t p = 0; p + 5 <= size; ++p) {
        const bool crlf = text[p] == '\r' && text[p + 1] == '\n';
        const bool lfcr = text[p] == '\n' && text[p + 1] == '\r';
        if ((crlf || lfcr) && text[p + 2] == '[') ++headers;
    }
    return headers > 15;
}

int CTranslator::LoadLanguageFile(int miniIsdn, const char* fileName) {
    if (!g_sharedState) return 0;
    if (miniIsdn) return 1;
    if (!fileName || !fileName[0]) return 1;
    if (std::strcmp(fileName, g_sharedState->languageName) == 0 || g_sharedState->sectionTable) return 1;

    FreeText();
    size_t size = 0;
    uint8_t* text = ReadFile(fileName, size);
    if (!text) return 0;
    return Adopt(text, size, fileName);
}

int CTranslator::LoadLanguageBuffer(const uint8_t* data, size_t size, const char* name) {
    if (!g_sharedState || g_sharedState->sectionTable || size > kMaxFileBytes) return 0;
    FreeText();
    uint8_t* text = new (std::nothrow) uint8_t[size + 1];
    if (!text) return 0;
    if (size) std::memcpy(text, data, size);
    return Adopt(text, size, name ? name : "");
}

int CTranslator::Adopt(uint8_t* text, size_t size, const char* name) {
    g_sharedState->languageText = text;
    if (!IsPlainText(text, size)) {
        Decipher(text, size);
        if (!IsPlainText(text, size)) {
            FreeText();
            return 0;
        }
    }
    if (!Split(text, size)) {
        FreeSectionTable();
        FreeText();
        return 0;
    }
    std::snprintf(g_sharedState->languageName, sizeof g_sharedState->languageName, "%s", name);
    return 1;
}

int CTranslator::IsDefaultLanguage() const { return Sections() ? 0 : 1; }

const char* CTranslator::Lookup(int section, int line) const {
    LineTable** sections = Sections();
    if (!sections || section < 0 || section >= g_sharedState->sectionCount || line < 0) return nullptr;
    const LineTable* table = sections[section];
    if (line >= LineCount(table)) return nullptr;
    return LineAt(table, line);
}

const char* CTranslator::GetText(int id, const char* defaultText) const {
    int section = static_cast<int>(static_cast<uint32_t>(id) >> 16);
    if (section == 0 && m_section > 0) section = m_section;
    const char* text = Lookup(section, id & 0xFFFF);
    return text ? text : defaultText;
}

const char* CTranslator::GetSectionText(int section, int line, const char* defaultText) const {
    if (section == 0 && m_section > 0) section = m_section;
    const char* text = Lookup(section, line);
    return text ? text : defaultText;
}

void CTranslator::CopyText(char* buffer, size_t bufferSize, int line, const char* defaultText) const {
    if (!buffer || bufferSize == 0) return;
    const char* text = GetSectionText(OwnSection(), line, defaultText);
    std::snprintf(buffer, bufferSize, "%s", text ? text : "");
}

int CTranslator::SetItemText(int controlId, int line, const char* defaultText) {
    const char* text = GetSectionText(OwnSection(), line, defaultText);
    if (!text || !m_window) return 0;
    return m_window->SetItemText(controlId, text) ? 1 : 0;
}

int CTranslator::AddComboString(int controlId, int line, const char* defaultText, intptr_t itemData) {
    const char* text = GetSectionText(OwnSection(), line, defaultText);
    if (!text || !m_window) return 0;
    const int index = m_window->AddComboString(controlId, text);
    if (index < 0) return 0;
    if (itemData != -1) m_window->SetComboItemData(controlId, index, itemData);
    return 1;
}

int CTranslator::TranslateMenuItem(int line, CTranslatorMenu* menu, UINT item, UINT flags,
                                   const char* defaultText) {
    if (!menu) return 0;
    const char* chosen = defaultText;
    if (g_sharedState && g_sharedState->sectionCount >= 2) {
        if (const char* text = Lookup(kMenuSection, line)) chosen = text;
    }
    if (!chosen || !chosen[0]) return 0;
    std::string text = chosen;
    std::string current;
    if (menu->GetMenuString(item, flags, current)) {
        const size_t tab = current.rfind('\t');
        if (tab != std::string::npos) text += current.substr(tab);  // keeps the accelerator hint
    }
    menu->ModifyMenu(item, flags, text.c_str());
    return 1;
}

int CTranslator::ShowError(int line, const char* defaultText) {
    if (!m_window) return 0;
    const char* text = Lookup(kErrorSection, line);
    const char* caption = Lookup(kErrorSection, 0);
    return m_window->MessageBox(text ? text : (defaultText ? defaultText : ""), caption ? caption : kErrorCaption,
                                MB_ICONERROR | MB_SETFOREGROUND);
}

int CTranslator::ConfirmText(const char* text) {
    if (!m_window) return 0;
    const char* caption = Lookup(kErrorSection, 1);
    return m_window->MessageBox(text ? text : "", caption ? caption : kConfirmCaption,
                                MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES
               ? 1
               : 0;
}

int CTranslator::Confirm(int line, const char* defaultText) {
    return ConfirmText(GetSectionText(OwnSection(), line, defaultText));
}

int CTranslator::ConfirmSectionText(int section, int line, const char* defaultText) {
    return ConfirmText(GetSectionText(section, line, defaultText));
}

std::string CTranslator::LanguageNameOf(const std::string& fileName) {
    static const std::string kSuffix = ".Language";
    const size_t dot = fileName.find('.');
    if (dot == std::string::npos || fileName.size() < kSuffix.size() ||
        fileName.compare(fileName.size() - kSuffix.size(), kSuffix.size(), kSuffix) != 0) {
        return std::string();
    }
    const size_t end = fileName.size() - kSuffix.size();
    return end > dot ? fileName.substr(dot + 1, end - dot - 1) : std::string();
}
