#pragma once
// Every text the operator sees, looked up in the loaded language file with
// the built-in English text as the fallback. One translator per dialog; all
// share the language tables kept in the shared state. The application's own
// translator loads the file once at start-up and lives for the whole run.
//
// Threads: the GUI thread, and the thread that builds device error texts
// (lookups only). Tables are built before the call engine's worker starts.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/TranslatorWindow.h"

class CTranslator {
public:
    static constexpr size_t kMaxFileBytes = 102400;
    static constexpr int kErrorSection = 16;
    static constexpr int kMenuSection = 1;

    CTranslator();
    ~CTranslator();
    CTranslator(const CTranslator&) = delete;
    CTranslator& operator=(const CTranslator&) = delete;

    void SetSection(int section) { m_section = section; }
    void AttachWindow(CTranslatorWindow* window) { m_window = window; }

    // Loads the file named by [Main] Language (nothing in MiniISDN mode).
    // 1 also when there is nothing to load; 0 when the file is missing or bad.
    int LoadLanguage();
    // The same with the two settings given; for callers that already hold them.
    int LoadLanguageFile(int miniIsdn, const char* fileName);
    // The same over bytes already in memory (size at most kMaxFileBytes).
    int LoadLanguageBuffer(const uint8_t* data, size_t size, const char* name);
    int IsDefaultLanguage() const;

    const char* GetText(int id, const char* defaultText) const;
    const char* GetSectionText(int section, int line, const char* defaultText) const;
    // Copies the text with its NUL, cut to the buffer's size.
    void CopyText(char* buffer, size_t bufferSize, int line, const char* defaultText) const;

    int SetItemText(int controlId, int line, const char* defaultText);
    int AddComboString(int controlId, int line, const char* defaultText, intptr_t itemData);
    int TranslateMenuItem(int line, CTranslatorMenu* menu, UINT item, UINT flags, const char* defaultText);

    int ShowError(int line, const char* defaultText);
    int Confirm(int line, const char* defaultText);
    int ConfirmSectionText(int section, int line, const char* defaultText);

    void FillLanguageList(int comboId);
    void SaveLanguageChoice(int comboId);

    // The language name of a file name "VelmoraTrans.<name>.Language": the
    // part between the first '.' and the ".Language" at its end.
    static std::string LanguageNameOf(const std::string& fileName);

    // Helpers of the file format, public for the tests.
    static bool IsPlainText(const uint8_t* text, size_t size);
    static void Decipher(uint8_t* text, size_t size);
    static void Encipher(uint8_t* text, size_t size);
    static void DerivedKey(uint8_t key[32]);

private:
    int OwnSection() const { return m_section > 0 ? m_section : 0; }
    const char* Lookup(int section, int line) const;  // null when absent
    int ConfirmText(const char* text);
    static void FreeTables();
    static int Adopt(uint8_t* text, size_t size, const char* name);  // owns text (size + 1 bytes)

    int m_section = -1;
    CTranslatorWindow* m_window = nullptr;
};
