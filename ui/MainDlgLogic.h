#pragma once
// The main window's switchboard without any toolkit: its call state, the
// engine's, the pages' and the remote-control server's messages, the menu
// commands, the timers, the status line and the menu and player states.
// The window feeds it every message, command and timer; it answers through
// CMainDlgView.
//
// Threads: GUI thread only (messages arrive there through the queue).
#include <functional>
#include <string>

#include "common/Codes.h"
#include "common/Records.h"
#include "common/StationIdentity.h"
#include "platform/WindowMessages.h"
#include "ui/MainEngine.h"
#include "ui/MainMenus.h"

class CMixerControl;
class CTranslator;
class CMainPage;

// The window's timers.
constexpr UINT_PTR kLevelTimer = 101;          // 30 ms: level meters and clip clock
constexpr UINT_PTR kStatusTimer = 102;         // 1 s: CPU load, link rates, status line
constexpr UINT_PTR kHangUpRepeatTimer = 103;   // 1 s: hang-up repeat after a stop request
constexpr UINT_PTR kRemoteControlTimer = 104;  // 200 ms: remote-control poll
constexpr UINT_PTR kReconnectTimer = 105;      // once, 1 s after a call ended by itself

// Menu and button commands.
namespace MainCommand {
constexpr int kExit = 2;
constexpr int kAbout = 40001;
constexpr int kHelp = 40003;
constexpr int kViewIsdn = 40004;
constexpr int kViewNetwork = 40005;
constexpr int kViewMulticast = 40006;
constexpr int kOpenPhonebook = 40008;
constexpr int kSavePhonebookAs = 40009;
constexpr int kGlobalSettings = 40010;
constexpr int kAudioSettings = 40012;
constexpr int kAnswerSettings = 40013;
constexpr int kShowLibrary = 40014;
constexpr int kSocksSettings = 40022;
constexpr int kAlwaysOnTop = 100;
constexpr int kRemove = 1814;
constexpr int kVoiceover = 1815;
constexpr int kPlay = 1816;
constexpr int kStop = 1817;
constexpr int kPause = 1818;
constexpr int kNext = 1819;
constexpr int kPrevious = 1820;
constexpr int kLibraryList = 1821;  // the list's selection changed
constexpr int kAdd = 1823;
constexpr int kCloseLibrary = 1824;
constexpr int kSelectTenth = 1827;   // Ctrl+0; 1828..1836 are Ctrl+1..9
constexpr int kToggleVoiceover = 1837;
}  // namespace MainCommand

class CMainDlgView {
public:
    virtual ~CMainDlgView() = default;
    virtual void ShowStatusLine(const std::string& text) = 0;  // control 1806
    virtual void ShowLinkRates(const std::string& text) = 0;   // control 1807
    virtual void ShowCpuLoad(const std::string& text) = 0;     // control 1805
    virtual void ShowClipTimes(const std::string& position, const std::string& remaining) = 0;  // 1811, 1810
    // Reports that arrive while the station runs: one box per kind, which
    // must not wait (a later report of that kind replaces the open box's text).
    enum ErrorKind { kEngineError, kConnectionError };
    virtual void ShowErrorBox(ErrorKind kind, const std::string& text) = 0;  // caption "Error..."
    virtual void AcceptDroppedFiles(bool accept) = 0;
    virtual void SetGuiPriority(bool idle) = 0;
    virtual void ShowMenus(const MainMenuState& menus) = 0;
    virtual void ShowPlayerControls(const PlayerControls& controls) = 0;
    virtual void EnableTabs(bool enable) = 0;
    // Shows the page of a kind (32, 16, 128) in the sheet with its colours
    // and checks its View item.
    virtual void SelectPage(int kind) = 0;
    virtual void ShowLibraryPanel(bool shown) = 0;
    virtual void ArmTimer(UINT_PTR id, UINT ms) = 0;
    virtual void StopTimer(UINT_PTR id) = 0;
    virtual void CloseSplash() = 0;
    // The page of a kind, or null (MiniISDN has only ISDN).
    virtual CMainPage* Page(int kind) = 0;
    virtual bool FindPhonebookEntry(const char* name, int kind, PhonebookEntry& out) = 0;
    // The library box (its selection and clips).
    virtual bool LibraryHasSelection() = 0;
    virtual std::string SelectedClipPath() = 0;
    virtual void LibrarySelectNext() = 0;
    // 1 when the selection moved; the list's own choice, an entry (1-based) or the previous one.
    virtual int LibraryTakeSelection() { return 0; }
    virtual int LibrarySelectEntry(int /*n*/) { return 0; }
    virtual int LibrarySelectPrevious() { return 0; }
    virtual void LibraryBrowseAndImport() {}
    virtual void LibraryRemoveSelected() {}

    // The input line's level changed in the mixer (0 to the control's maximum).
    virtual void PageSetInputLevel(int /*level*/) {}

    enum BandwidthAnswer { kBandwidthDisconnect, kBandwidthContinue, kBandwidthTestAgain };
    virtual BandwidthAnswer RunBandwidthDialog(int limit, int receive, int send) = 0;
};

class CMainDlgLogic {
public:
    CMainDlgLogic(CMainEngine& engine, CTranslator& translator, CMainDlgView& view);

    void SetRemoteControl(CRemoteControl* rip) { m_rip = rip; }
    // A problem of the settings that calls would otherwise meet in silence;
    // the status line shows it while no call runs.
    void SetSetupWarning(const std::string& text) {
        m_setupWarning = text;
        UpdateStatusLine();
    }
    CRemoteControl* RemoteControl() const { return m_rip; }
    void SetMiniIsdn(bool on) { m_miniIsdn = on; }
    void SetAutoDial(int flag, const std::string& name, int kind);
    void SetLibraryShown(bool shown) { m_libraryShown = shown; }
    void SetVoiceover(bool on) { m_voiceover = on; }
    void SetCpuSampler(std::function<int()> sampler) { m_cpuSampler = std::move(sampler); }

    // Engine, page and remote-control messages; true when the message was one of them.
    // The mixer of the WAVE input and its input line's level control, whose
    // changes the pages show; null and -1 without one.
    void SetMixer(const CMixerControl* mixer, int inputLevelControl) {
        m_mixer = mixer;
        m_inputLevelControl = inputLevelControl;
    }
    // Engine and remote-control messages; true when the message was one of them.
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // Menu commands and buttons that do not open a dialog; true when handled.
    bool HandleCommand(int id);
    // Timers 101, 102, 103, 105; true when handled.
    bool HandleTimer(UINT_PTR id);
    // Runs the auto-dial of [Main] AutoDial once, when it is set.
    void StartAutoDial();

    int CallState() const { return m_callState; }
    bool IsIdle() const { return m_callState == 16; }
    int EngineStarted() const { return m_engineStarted; }
    int IdleFlag() const { return m_idle; }
    bool NoReceive() const { return m_noReceive; }
    bool NoSend() const { return m_noSend; }
    bool LibraryShown() const { return m_libraryShown; }
    bool Voiceover() const { return m_voiceover; }
    int AutoDialFlag() const { return m_autoDial; }
    const PhonebookEntry& CurrentEntry() const { return m_current; }
    const StationIdentity& RemoteIdentity() const { return m_remote; }
    const std::string& LastError() const { return m_lastError; }
    const std::string& StatusLine() const { return m_statusLine; }
    const MainMenuState& Menus() const { return m_menus; }
    PlayerControls Player() const;
    // The word of section 15 for a call state; null when the state has none.
    static const char* StateText(int state, int* line);

    void UpdateStatusLine();
    void UpdateMenus();
    void UpdatePlayerControls();

private:
    void OnState(int state, int kind);
    void OnIncoming();
    void OnDecoderFormat(int kind);
    void OnEncoderFormat(int kind);
    void OnRemoteIdentity(LPARAM code);
    void OnLowBandwidth();
    void OnConnectRequest(int origin, int kind);
    void OnStopRequest(bool repeat);
    void OnRipConnect();
    void RefuseRipConnect(int kind);
    void OnPageShown(int page);
    void OnLevelTick();
    void OnStatusTick();
    void OnPlay();
    void ToggleLibrary();
    void ChoseClipByHand();
    void ShowOnPage(int kind, const std::function<void(CMainPage&)>& action);
    void OnMixerChange(WPARAM mixer, LPARAM control);
    bool IsMulticastSender() const { return m_current.connection.kind == TRANSPORT_MULTICAST && m_current.connection.flag; }
    bool IsMulticastReceiver() const { return m_current.connection.kind == TRANSPORT_MULTICAST && !m_current.connection.flag; }
    void Refresh();

    CMainEngine& m_engine;
    CTranslator& m_translator;
    CMainDlgView& m_view;
    CRemoteControl* m_rip = nullptr;
    std::function<int()> m_cpuSampler;
    const CMixerControl* m_mixer = nullptr;
    int m_inputLevelControl = -1;

    int m_engineStarted = 0;
    int m_callState = 0;
    int m_idle = 1;
    bool m_noReceive = false;
    bool m_noSend = false;
    bool m_miniIsdn = false;
    bool m_libraryShown = true;
    bool m_voiceover = false;
    bool m_clipByHand = false;
    int m_autoDial = 0;
    std::string m_autoDialName;
    int m_autoDialKind = 0;
    PhonebookEntry m_current;
    StationIdentity m_remote;
    std::string m_lastError;
    std::string m_statusLine;
    MainMenuState m_menus;
    std::string m_setupWarning;
};
