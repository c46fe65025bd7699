#pragma once
// A page of the tab sheet until the phonebook pages exist: it shows the call
// state, the connection, the formats and the far end that reach it, and the
// level meter. GUI thread only.
#include <wx/panel.h>

#include "platform/WinTypes.h"
#include "ui/MainPage.h"

class wxStaticText;
class CLevelMeter;

class CPlaceholderPage : public wxPanel, public CMainPage {
public:
    CPlaceholderPage(wxWindow* parent, int kind, const wxString& title);

    void SetSchemeColours(COLORREF text, COLORREF light, COLORREF mid);
    CLevelMeter* Meter() const { return m_meter; }

    int Kind() const override { return m_kind; }
    void SetTransports(int mask) override;
    void SetState(int state, int kind) override;
    bool CopySelectedEntry(PhonebookEntry&) override { return false; }
    void ShowConnection(const ConnectionInfo& info) override;
    void ShowReceiveFormat(const std::string& text) override;
    void ShowSendFormat(const std::string& text) override;
    void ShowRxIndicator(int) override {}
    void ShowTxIndicator(int) override {}
    void ShowRemoteName(const char* name) override;
    void ShowLevels(const int* levels, int count) override;
    void SetDeviceNames(const std::string& input, const std::string& output, int inputLineId) override;
    void SetInputLevel(int) override {}
    void SetPlayLevel(int) override {}
    void RefillList() override {}

private:
    void SetLine(wxStaticText* line, const std::string& text);

    int m_kind;
    int m_transports = 0;
    wxStaticText* m_title = nullptr;
    wxStaticText* m_state = nullptr;
    wxStaticText* m_destination = nullptr;
    wxStaticText* m_remote = nullptr;
    wxStaticText* m_receive = nullptr;
    wxStaticText* m_send = nullptr;
    wxStaticText* m_devices = nullptr;
    CLevelMeter* m_meter = nullptr;
};
