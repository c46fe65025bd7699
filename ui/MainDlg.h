#pragma once
// The main window: constructed and started by the application object, run
// modally, destroyed when the operator closes it. Its state and message
// handling live in CMainDlgLogic; this class is the start-up, the window
// and the wiring.
#include <functional>
#include <memory>
#include <string>

#include "common/Phonebook.h"
#include "common/Translator.h"
#include "ui/MainDlgLogic.h"
#include "ui/MainEngine.h"
#include "ui/framework/Dialog.h"
#include "ui/framework/NoticeBox.h"

class wxStaticText;
class CMainDlg;

// Where the subsystems that are wired in later plug into the start-up. An
// empty step is skipped; a step returning 0 has shown its own message and
// ends the start-up.
struct CMainDlgHooks {
    std::function<std::unique_ptr<CMainEngine>()> makeEngine;
    std::function<std::unique_ptr<CRemoteControl>()> makeRemoteControl;
    std::function<void(CMainDlg&)> showSplash;
    std::function<int(CMainDlg&)> checkCpuSpeed;
    std::function<int(CMainDlg&)> checkIsdnCard;
    std::function<int(CMainDlg&)> initPhonebook;
    std::function<int(CMainDlg&)> initAudioDevices;
    std::function<int(CMainDlg&)> createPages;
};

class CMainDlg : public CDialog, private CTranslatorWindow, private CMainDlgView {
public:
    // Hooks for every main window built afterwards (GUI thread, before construction).
    static void SetHooks(CMainDlgHooks hooks);

    CMainDlg();
    ~CMainDlg() override;

    // The start-up before the window exists; 0 when a step failed (its
    // message has been shown).
    int Init(const char* programName);

    CTranslator& Translator() { return m_translator; }
    CMainEngine& Engine() { return *m_engine; }
    CPhonebook& Phonebook() { return m_phonebook; }
    const CMainDlgLogic& Logic() const { return m_logic; }

protected:
    void BuildView(wxDialog& view) override;
    BOOL OnInitDialog() override;
    void OnOK() override {}  // Enter never closes the main window
    void OnCancel() override;
    void OnDestroy() override;
    void OnTimer(UINT_PTR id) override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    int InitPhonebook();
    void SavePhonebook();
    void StartRemoteControl();

    // CTranslatorWindow
    bool SetItemText(int, const char*) override { return false; }
    int AddComboString(int, const char*) override { return -1; }
    bool SetComboItemData(int, int, intptr_t) override { return false; }
    int SelectComboString(int, const char*) override { return -1; }
    bool GetComboSelection(int, std::string&) override { return false; }
    int MessageBox(const char* text, const char* caption, UINT style) override;

    // CMainDlgView
    void ShowStatusLine(const std::string& text) override;
    void ShowErrorBox(ErrorKind kind, const std::string& text) override;
    void AcceptDroppedFiles(bool accept) override;
    void SetGuiPriority(bool idle) override;
    void RefreshMenus(int) override {}
    void PageSetState(int, int) override {}
    void PageShowConnection(int, const ConnectionInfo&) override {}
    void PageShowReceiveFormat(int, const std::string&) override {}
    void PageShowSendFormat(int, const std::string&) override {}
    void PageShowRxIndicator(int, int) override {}
    void PageShowTxIndicator(int, int) override {}
    void PageShowRemoteName(int, const char*) override {}
    BandwidthAnswer RunBandwidthDialog(int, int, int) override { return kBandwidthContinue; }

    CTranslator m_translator;
    CPhonebook m_phonebook;
    std::unique_ptr<CMainEngine> m_engine;
    std::unique_ptr<CRemoteControl> m_rip;
    CMainDlgLogic m_logic;
    std::string m_winClass;
    std::string m_statusText;
    wxStaticText* m_statusLine = nullptr;
    CNoticeBox m_engineErrors{"Error...", MB_ICONERROR | MB_SETFOREGROUND};
    CNoticeBox m_connectionErrors{"Error...", MB_ICONERROR | MB_SETFOREGROUND};
};
