#pragma once
// The modeless progress dialog of a library import: an animation while the
// dialog is open, the file's name, a bar from 0 to 100 and Cancel. Cancel
// (and Escape) does not close it: it asks, and a Yes is reported by the next
// SetProgress. GUI thread only.
#include <wx/dialog.h>

#include <string>

#include "common/Translator.h"

class wxGauge;
class wxStaticText;

class CImportProgressDlg : public wxDialog {
public:
    static constexpr int kAnimation = 1252;
    static constexpr int kFileName = 1251;
    static constexpr int kProgress = 1253;

    explicit CImportProgressDlg(wxWindow* parent);
    void SetFileName(const std::string& name);
    // False once the operator confirmed the cancel; else sets the bar.
    bool SetProgress(int percent);
    bool Cancelled() const { return m_cancelled; }
    int Progress() const;

private:
    void AskCancel();

    CTranslator m_translator;
    wxStaticText* m_name = nullptr;
    wxGauge* m_bar = nullptr;
    bool m_cancelled = false;
    bool m_asking = false;
};
