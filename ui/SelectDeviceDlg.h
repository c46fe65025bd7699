#pragma once
// The device dialog: every usable input, or the current interface's
// outputs, in one list; OK or a double click stores the choice. A thin view
// over CSelectDeviceLogic.
//
// Threads: GUI thread.
#include "ui/SelectDeviceLogic.h"
#include "ui/StandardDialog.h"

class CDeviceSource;
class CSettings;
class wxListCtrl;

class CSelectDeviceDlg : public CStandardDialog {
public:
    static constexpr int kList = 1161, kProperties = 1162;

    // What the pages' Select buttons call: direction 1 input, 0 output.
    // IDOK (1) when a device was stored and the audio must be reopened,
    // IDCANCEL (2) when nothing changed.
    static int Choose(int direction, const DialogColours& colours);

    CSelectDeviceDlg(CDeviceSource& source, const CSettings& settings);
    void SetInputMode() { m_logic.SetDirection(CSelectDeviceLogic::kInput); }
    void SetOutputMode() { m_logic.SetDirection(CSelectDeviceLogic::kOutput); }
    const CSelectDeviceLogic& Logic() const { return m_logic; }

protected:
    void BuildView(wxTopLevelWindow& view) override;
    void OnOK() override;

private:
    void Fill();
    void ShowProperties();

    CSelectDeviceLogic m_logic;
    wxListCtrl* m_list = nullptr;
    wxWindow* m_properties = nullptr;
};
