#pragma once
// The main window's state and its handling of the call engine's and the
// remote-control server's messages, without any toolkit. The dialog feeds
// it every message; it answers through CMainDlgView.
//
// Threads: GUI thread only (messages arrive there through the queue).
#include <string>

#include "common/Records.h"
#include "common/StationIdentity.h"
#include "platform/WindowMessages.h"
#include "ui/MainEngine.h"

class CTranslator;

// What the logic asks of the window. Page and dialog calls reach the pages
// and the bandwidth dialog once those exist; until then the view shows what
// it can in its status line.
class CMainDlgView {
public:
    virtual ~CMainDlgView() = default;
    virtual void ShowStatusLine(const std::string& text) = 0;
    // Reports that arrive while the station runs: one box per kind, which
    // must not wait (a later report of that kind replaces the open box's text).
    enum ErrorKind { kEngineError, kConnectionError };
    virtual void ShowErrorBox(ErrorKind kind, const std::string& text) = 0;  // caption "Error..."
    virtual void AcceptDroppedFiles(bool accept) = 0;
    virtual void SetGuiPriority(bool idle) = 0;
    virtual void RefreshMenus(int callState) = 0;

    virtual void PageSetState(int state, int kind) = 0;  // all three pages
    virtual void PageShowConnection(int kind, const ConnectionInfo& info) = 0;
    virtual void PageShowReceiveFormat(int kind, const std::string& text) = 0;
    virtual void PageShowSendFormat(int kind, const std::string& text) = 0;
    virtual void PageShowRxIndicator(int kind, int value) = 0;
    virtual void PageShowTxIndicator(int kind, int value) = 0;
    virtual void PageShowRemoteName(int kind, const char* name) = 0;

    enum BandwidthAnswer { kBandwidthDisconnect, kBandwidthContinue, kBandwidthTestAgain };
    virtual BandwidthAnswer RunBandwidthDialog(int needed, int receive, int send) = 0;
};

class CMainDlgLogic {
public:
    CMainDlgLogic(CMainEngine& engine, CTranslator& translator, CMainDlgView& view);

    void SetRemoteControl(CRemoteControl* rip) { m_rip = rip; }
    // A problem of the settings that calls would otherwise meet in silence;
    // the status line shows it while no call runs.
    void SetSetupWarning(const std::string& text) {
        m_setupWarning = text;
        m_view.ShowStatusLine(StatusLine());
    }
    // Engine and remote-control messages; true when the message was one of them.
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    int CallState() const { return m_callState; }
    int EngineStarted() const { return m_engineStarted; }
    int IdleFlag() const { return m_idle; }
    bool NoReceive() const { return m_noReceive; }
    bool NoSend() const { return m_noSend; }
    const PhonebookEntry& CurrentEntry() const { return m_current; }
    const StationIdentity& RemoteIdentity() const { return m_remote; }
    const std::string& LastError() const { return m_lastError; }
    std::string StatusLine() const;
    // The status line's word for a call state.
    static const char* StateText(int state);

private:
    void OnState(int state, int kind);
    void OnIncoming();
    void OnDecoderFormat(int kind);
    void OnEncoderFormat(int kind);
    void OnRemoteIdentity(LPARAM code);
    void OnLowBandwidth();
    void OnRipConnect();
    bool IsMulticastSender() const { return m_current.connection.kind == TRANSPORT_MULTICAST && m_current.connection.flag; }
    bool IsMulticastReceiver() const { return m_current.connection.kind == TRANSPORT_MULTICAST && !m_current.connection.flag; }
    void Refresh();

    CMainEngine& m_engine;
    CTranslator& m_translator;
    CMainDlgView& m_view;
    CRemoteControl* m_rip = nullptr;

    int m_engineStarted = 0;
    int m_callState = 0;
    int m_idle = 1;
    bool m_noReceive = false;
    bool m_noSend = false;
    PhonebookEntry m_current;
    StationIdentity m_remote;
    std::string m_lastError;
    std::string m_setupWarning;
};
