#pragma once
// Processing quality, block times and sample-rate conversion: a thin view
// over CAudioSettingsLogic. DoModal returns IDOK after storing, IDCANCEL
// with nothing written.
//
// Threads: GUI thread.
#include "ui/AudioSettingsLogic.h"
#include "ui/StandardDialog.h"

class wxCheckBox;
class wxChoice;
class wxSlider;

class CAudioSettingsDlg : public CStandardDialog {
public:
    CAudioSettingsDlg() : CStandardDialog(114, 7) {}
    const CAudioSettingsLogic& Logic() const { return m_logic; }

protected:
    void BuildView(wxTopLevelWindow& view) override;
    void OnOK() override;

private:
    void ShowTime(CAudioSettingsLogic::Block block);

    CAudioSettingsLogic m_logic;
    wxChoice* m_mp2 = nullptr;
    wxChoice* m_mp3 = nullptr;
    wxSlider* m_sliders[CAudioSettingsLogic::kBlockCount] = {};
    wxStaticText* m_times[CAudioSettingsLogic::kBlockCount] = {};
    wxCheckBox* m_noSrc = nullptr;
};
