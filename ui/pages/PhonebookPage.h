#pragma once
// A phonebook page of the main window's tab sheet: the thin window over
// CPhonebookPageLogic, one class for the three destination kinds. It talks
// to the main window only through messages. GUI thread only.
#include <wx/panel.h>

#include <functional>
#include <map>

#include "common/Translator.h"
#include "ui/MainPage.h"
#include "ui/pages/PhonebookPageLogic.h"

class CColorListCtrl;
class wxSlider;
class wxTextCtrl;
class wxImageList;
class CHoverButton;
class CLevelMeter;
class CStatusPanel;
class CPhonebook;

class CPhonebookPage : public wxPanel, public CMainPage, private CPhonebookPageView {
public:
    // Opens the page's destination dialog over `entry` (null: a new one);
    // true after OK with the result in `out`.
    using DestinationDialog =
        std::function<bool(wxWindow* parent, int kind, CPhonebook* phonebook, const PhonebookEntry* entry,
                           PhonebookEntry& out)>;

    CPhonebookPage(wxWindow* parent, int kind, HWND mainWindow, CPhonebook* phonebook, bool miniIsdn);
    ~CPhonebookPage() override;

    CPhonebookPageLogic& Logic() { return m_logic; }
    CLevelMeter* Meter() const { return m_meter; }
    // The control of a page id (list 3007, Connect 3006 ...), or null.
    wxWindow* Control(int id) const;
    const std::map<int, wxWindow*>& Controls() const { return m_controls; }
    // Tests replace the dialog that Add and Edit open.
    static void SetDestinationDialog(DestinationDialog dialog);

    // CMainPage
    int Kind() const override { return m_logic.Kind(); }
    void SetTransports(int mask) override;
    void SetState(int state, int kind) override { m_logic.OnCallState(state, kind); }
    bool CopySelectedEntry(PhonebookEntry& out) override { return m_logic.GetConnectEntry(out); }
    void ShowConnection(const ConnectionInfo& info) override { m_logic.ShowConnection(info); }
    void ShowReceiveFormat(const std::string& text) override;
    void ShowSendFormat(const std::string& text) override { ShowTransmitFormat(text); }
    void ShowRxIndicator(int value) override;
    void ShowTxIndicator(int value) override;
    void ShowRemoteName(const char* name) override { m_logic.ShowRemoteName(name); }
    void ShowLevels(const int* levels, int count) override;
    void SetDeviceNames(const std::string& input, const std::string& output, int inputLineId) override;
    void SetInputLevel(int level) override;
    void SetPlayLevel(int dB) override;
    void RefillList() override { m_logic.RefreshList(); }

private:
    void Build();
    wxWindow* Remember(int id, wxWindow* window);
    CStatusPanel* Panel(int id, bool heading, int width);
    CHoverButton* Button(int id, const char* caption, int width);
    void ShowIndicator(int id, int value);

    // CPhonebookPageView
    void DeleteAllItems() override;
    void InsertItemAtTop(const char* name, int image) override;
    const char* GetSelectionMarkText() override;
    bool SelectListItem(const std::string& text, bool prefix) override;
    void EnableControl(PageControl control, bool on) override;
    void ShowConnectFace(bool connected) override;
    void ShowSelection(const SelectionTexts& texts) override;
    void ShowConnectionName(const std::string& text) override;
    void ShowConnectionLines(const ConnectionLines& lines) override;
    void ShowTransmitFormat(const std::string& text) override;
    void ShowIndicators(int receive, int transmit) override;
    void SetMeterActive(bool active) override;
    void ShowDeviceNames(const std::string& input, const std::string& output) override;
    void SendToMain(UINT message, WPARAM wParam) override;
    bool RunDestinationDialog(const PhonebookEntry* entry, PhonebookEntry& out) override;
    bool RunDeviceDialog(int direction) override;
    void OnQuickButton(int id);
    bool Confirm(const std::string& text) override;
    void ShowError(const std::string& text) override;

    CTranslator m_translator;
    CPhonebookPageLogic m_logic;
    HWND m_mainWindow;
    CPhonebook* m_phonebook;
    bool m_filling = false;
    std::string m_markText;
    std::map<int, wxWindow*> m_controls;
    CColorListCtrl* m_list = nullptr;
    wxImageList* m_images = nullptr;
    wxTextCtrl* m_search = nullptr;
    wxSlider* m_inputSlider = nullptr;
    wxSlider* m_outputSlider = nullptr;
    CHoverButton* m_connect = nullptr;
    CLevelMeter* m_meter = nullptr;
};
