#include "ui/MainDlgLogic.h"

#include <cstdio>
#include <cstring>

#include "common/Codes.h"
#include "audio/MixerControl.h"
#include "common/MainWindowMessages.h"
#include "common/Translator.h"
#include "call/RipProtocol.h"
#include "ui/MainPage.h"
#include "ui/StatusTexts.h"

namespace {

constexpr char kNotInUse[] = "(Not in use)";
constexpr int kStatusSection = 15 << 16;
constexpr int kMessageSection = 16 << 16;
constexpr int kOriginPage = 0;
constexpr int kOriginReconnect = 16;
constexpr int kOriginAutoDial = 32;

PhonebookEntry FreshEntry() {
    PhonebookEntry entry;
    entry.format.aptxOption = 1;
    return entry;
}

StationIdentity EmptyIdentity() {
    StationIdentity id;
    std::memset(static_cast<void*>(&id), 0, sizeof id);
    return id;
}

// Page numbers and kinds name the same pages: 0/32 ISDN, 1/16 IP, 2/128 multicast.
int KindOfPage(int page) {
    switch (page) {
        case 0:
        case 32: return 32;
        case 1:
        case 16: return 16;
        case 2:
        case 128: return 128;
        default: return 0;
    }
}

}  // namespace

CMainDlgLogic::CMainDlgLogic(CMainEngine& engine, CTranslator& translator, CMainDlgView& view)
    : m_engine(engine), m_translator(translator), m_view(view), m_current(FreshEntry()), m_remote(EmptyIdentity()) {}

void CMainDlgLogic::SetAutoDial(int flag, const std::string& name, int kind) {
    m_autoDial = flag;
    m_autoDialName = name;
    m_autoDialKind = kind;
}

const char* CMainDlgLogic::StateText(int state, int* line) {
    int l = -1;
    const char* text = nullptr;
    switch (state) {
        case CALL_IDLE: l = 0, text = "Idle"; break;
        case CALL_CLIP_PLAYING:
        case CALL_CONNECTED_CLIP_PLAYING: l = 1, text = "Playing"; break;
        case CALL_CLIP_PAUSED: l = 2, text = "Paused"; break;
        case CALL_CONNECTING: l = 3, text = "Connecting"; break;
        case CALL_LINK_UP:
        case CALL_CONNECTED:
        case CALL_CONNECTED_CLIP_PAUSED: l = 4, text = "Connected"; break;
        case CALL_CHECKING: l = 5, text = "Checking"; break;
        default: break;
    }
    if (line) *line = l;
    return text;
}

void CMainDlgLogic::UpdateStatusLine() {
    int line = 0;
    const char* word = StateText(m_callState, &line);
    if (!word) {
        // Before the first state report only a setup warning has something to say.
        if (m_callState == 0 && !m_setupWarning.empty()) {
            m_statusLine = "  (" + m_setupWarning + ")";
            m_view.ShowStatusLine(m_statusLine);
        }
        return;  // the line stays as it was
    }
    std::string text = std::string(" ") + m_translator.GetText(kStatusSection | line, word) + " ";
    if (m_callState == 16 || m_callState == 21 || m_callState == 22) {
        if (!m_lastError.empty()) {
            text += std::string("  (") + m_translator.GetText(kStatusSection | 11, "Last error:") + " " + m_lastError + ")";
        }
        else if (m_callState == 16 && !m_setupWarning.empty()) {
            text += "  (" + m_setupWarning + ")";
        }
    } else {
        const int kind = m_current.connection.kind;
        if (kind == 16) {
            text += m_translator.GetText(kStatusSection | 7, "(IP Network) to:");
        } else if (kind == 32) {
            text += m_translator.GetText(kStatusSection | 6, "(ISDN) to:");
        } else if (kind == 128) {
            text = std::string(" ") + (m_current.connection.flag
                                           ? m_translator.GetText(kStatusSection | 8, "Multicasting to:")
                                           : m_translator.GetText(kStatusSection | 9, "Receiving multicast from:"));
        }
        text += " ";
        if (m_remote.productName[0]) {
            text += std::string(m_remote.stationName, strnlen(m_remote.stationName, sizeof m_remote.stationName));
        } else if (kind == 16 || kind == 32 || kind == 128) {
            const ConnectionInfo& c = m_current.connection;
            text += kind == 32 ? std::string(c.isdn.number1, strnlen(c.isdn.number1, sizeof c.isdn.number1))
                               : std::string(c.address, strnlen(c.address, sizeof c.address));
        } else {
            text += m_translator.GetText(kStatusSection | 10, "Unknown");
        }
    }
    m_statusLine = text;
    m_view.ShowStatusLine(m_statusLine);
}

void CMainDlgLogic::UpdateMenus() {
    UpdateConnectionMenus(m_menus, m_callState, m_miniIsdn);
    UpdatePlayMenus(m_menus, m_callState, m_miniIsdn, m_libraryShown, m_view.LibraryHasSelection());
    m_view.ShowMenus(m_menus);
}

PlayerControls CMainDlgLogic::Player() const {
    return ComputePlayerControls(m_callState, m_libraryShown, m_view.LibraryHasSelection(), m_noSend);
}

void CMainDlgLogic::UpdatePlayerControls() {
    if (m_callState == 0) return;  // nothing before the first state report
    m_view.ShowPlayerControls(Player());
    const int s = m_callState;
    if (s != 21 && s != 22 && s != 58 && s != 59) {
        int lengthMs = 0;
        if (m_libraryShown && m_view.LibraryHasSelection()) {
            const std::string path = m_view.SelectedClipPath();
            if (s == 50) m_engine.LoadClip(path.c_str());
            int played = 0;
            m_engine.GetClipPosition(&played, &lengthMs);
        }
        m_view.ShowClipTimes(FormatClipTime(0), FormatClipTime(lengthMs));
    }
}

void CMainDlgLogic::Refresh() {
    UpdateStatusLine();
    UpdatePlayerControls();
    UpdateMenus();
}

void CMainDlgLogic::ShowOnPage(int kind, const std::function<void(CMainPage&)>& action) {
    if (CMainPage* page = m_view.Page(kind)) action(*page);
}

void CMainDlgLogic::OnMixerChange(WPARAM mixer, LPARAM control) {
    if (m_mixer == nullptr || m_inputLevelControl < 0) return;
    if (!m_mixer->IsHandle(reinterpret_cast<HMIXER>(mixer)) || control != m_inputLevelControl) return;
    const int level = m_mixer->GetValueById(m_inputLevelControl);
    if (level >= 0) m_view.PageSetInputLevel(level);
}

bool CMainDlgLogic::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    const int kind = static_cast<int>(lParam);
    switch (message) {
        case WM_ENGINE_STARTED: m_engineStarted = 1; return true;
        case WM_ENGINE_STATE: OnState(static_cast<int>(wParam), kind); return true;
        case WM_ENGINE_INCOMING: OnIncoming(); return true;
        case WM_ENGINE_DECODER_FORMAT: OnDecoderFormat(kind); return true;
        case MM_MIXM_CONTROL_CHANGE: OnMixerChange(wParam, lParam); return true;
        case WM_ENGINE_RX_INDICATOR:
            if (!IsMulticastSender()) ShowOnPage(kind, [&](CMainPage& p) { p.ShowRxIndicator(static_cast<int>(wParam)); });
            return true;
        case WM_ENGINE_ENCODER_FORMAT: OnEncoderFormat(kind); return true;
        case WM_ENGINE_TX_INDICATOR:
            if (!IsMulticastReceiver()) {
                const int value = m_noSend ? 0 : static_cast<int>(wParam);
                ShowOnPage(kind, [&](CMainPage& p) { p.ShowTxIndicator(value); });
            }
            return true;
        case WM_ENGINE_REMOTE_IDENTITY: OnRemoteIdentity(lParam); return true;
        case WM_ENGINE_LOW_BANDWIDTH: OnLowBandwidth(); return true;
        case WM_CONNECT_REQUEST: OnConnectRequest(static_cast<int>(wParam), kind); return true;
        case WM_STOP_REQUEST: OnStopRequest(lParam != 0); return true;
        case WM_DEVICES_CHANGED:
        case WM_REINIT_AUDIO: m_engine.ReinitAudio(); return true;
        case WM_SET_INPUT_VOLUME:
            for (int k : {32, 16, 128}) {
                if (k != kind) ShowOnPage(k, [&](CMainPage& p) { p.SetInputLevel(static_cast<int>(wParam)); });
            }
            return true;
        case WM_SET_PLAY_LEVEL:
            m_engine.SetPlayLevel(static_cast<int>(wParam));
            for (int k : {32, 16, 128}) {
                if (k != kind) ShowOnPage(k, [&](CMainPage& p) { p.SetPlayLevel(static_cast<int>(wParam)); });
            }
            return true;
        case WM_PAGE_SHOWN: OnPageShown(kind); return true;
        case WM_LIBRARY_CHANGED: UpdatePlayerControls(); return true;
        case WM_RIP_CONNECT: OnRipConnect(); return true;
        case WM_RIP_DISCONNECT: OnStopRequest(true); return true;
        case WM_RIP_ANSWER_SETTINGS: m_engine.ApplyConnectionSettings(); return true;
        default: return false;
    }
}

bool CMainDlgLogic::HandleCommand(int id) {
    using namespace MainCommand;
    switch (id) {
        case kViewIsdn:
        case kViewNetwork:
        case kViewMulticast:
            if (IsIdle() && (id == kViewIsdn || !m_miniIsdn)) m_view.SelectPage(KindOfPage(id - kViewIsdn));
            return true;
        case kShowLibrary:
            if (IsIdle() && !m_miniIsdn) ToggleLibrary();
            return true;
        case kCloseLibrary:
            if (m_libraryShown) ToggleLibrary();
            return true;
        case kVoiceover:
        case kToggleVoiceover:
            if (!m_libraryShown) return true;
            m_voiceover = !m_voiceover;
            m_engine.SetClipFlag(m_voiceover);
            return true;
        case kPlay:
            if (m_libraryShown && Player().play) OnPlay();
            return true;
        case kPause:
            if (m_libraryShown && Player().pause) m_engine.PauseClip();
            return true;
        case kStop:
            if (m_libraryShown && Player().stop) m_engine.StopClip();
            return true;
        case kAdd:
            if (m_libraryShown && Player().add) m_view.LibraryBrowseAndImport();
            return true;
        case kRemove:
            if (m_libraryShown && Player().remove &&
                m_translator.ConfirmSectionText(10, 1, "Are you sure you want to remove this entry from the library?"))
                m_view.LibraryRemoveSelected();
            return true;
        case kLibraryList:
            if (!m_libraryShown) return true;
            m_view.LibraryTakeSelection();
            ChoseClipByHand();
            return true;
        case kNext:
        case kPrevious:
            if (!m_libraryShown) return true;
            if (id == kNext) {
                m_view.LibrarySelectNext();
            } else {
                m_view.LibrarySelectPrevious();
            }
            ChoseClipByHand();
            return true;
        default:
            if (id >= kSelectTenth && id <= kSelectTenth + 9) {
                if (!m_libraryShown) return true;
                m_view.LibrarySelectEntry(id == kSelectTenth ? 10 : id - kSelectTenth);
                ChoseClipByHand();
                return true;
            }
            return false;
    }
}

void CMainDlgLogic::ChoseClipByHand() {
    m_clipByHand = true;
    UpdatePlayerControls();
}

void CMainDlgLogic::OnPlay() {
    const int s = m_callState;
    if (s == 16) {
        const std::string path = m_view.SelectedClipPath();
        if (path.empty()) return;
        m_engine.LoadClip(path.c_str());
    }
    m_engine.SetClipFlag(m_voiceover);
    m_engine.PlayClip();
    if (s != 58 && s != 59) m_clipByHand = false;
}

void CMainDlgLogic::ToggleLibrary() {
    m_libraryShown = !m_libraryShown;
    m_view.ShowLibraryPanel(m_libraryShown);
    m_view.AcceptDroppedFiles(m_libraryShown);
    UpdateMenus();
    UpdatePlayerControls();
}

bool CMainDlgLogic::HandleTimer(UINT_PTR id) {
    switch (id) {
        case kLevelTimer:
            m_view.StopTimer(kLevelTimer);  // ticks never pile up
            OnLevelTick();
            m_view.ArmTimer(kLevelTimer, 30);
            return true;
        case kStatusTimer: OnStatusTick(); return true;
        case kHangUpRepeatTimer:
            if (!m_engine.IsConnectionActive()) {
                m_view.StopTimer(kHangUpRepeatTimer);
                return true;
            }
            m_engine.Disconnect();
            m_current.autoReconnect = 0;
            m_idle = 1;
            return true;
        case kReconnectTimer:
            m_view.StopTimer(kReconnectTimer);
            if (m_current.autoReconnect) OnConnectRequest(kOriginReconnect, 0);  // unless stopped meanwhile
            return true;
        default: return false;
    }
}

void CMainDlgLogic::StartAutoDial() {
    if (m_autoDial) OnConnectRequest(kOriginAutoDial, 0);
}

void CMainDlgLogic::OnState(int state, int kind) {
    char text[1024];
    text[0] = 0;
    for (int k : {32, 16, 128}) ShowOnPage(k, [&](CMainPage& p) { p.SetState(state, kind); });
    if (m_rip) m_rip->SendState(state);
    const int previous = m_callState;
    switch (state) {
        case CALL_IDLE: {
            if (m_idle == 0 && m_current.autoReconnect) {
                // A call placed here ended by itself: dial its reconnect
                // destination after a second, without holding up the window.
                m_view.ArmTimer(kReconnectTimer, 1000);
                break;
            }
            m_view.AcceptDroppedFiles(m_libraryShown);
            m_noReceive = m_noSend = false;
            m_view.SetGuiPriority(false);
            m_view.EnableTabs(true);
            m_lastError.clear();
            if (m_idle == 0) {
                if (m_engine.TakeErrorText(text, sizeof text)) text[sizeof text - 1] = 0;
                int code = 0;
                if (m_engine.TakeErrorCode(&code)) {
                    const int currentKind = m_current.connection.kind ? m_current.connection.kind : kind;
                    m_lastError = FormatConnectionError(m_translator, currentKind, code);
                    if (m_rip) m_rip->SendConnectionError(currentKind, code, m_lastError.substr(0, 80).c_str());
                }
            }
            if (previous != 17 && previous != 32 && previous != 48 && previous != 50) m_lastError.clear();
            m_remote = EmptyIdentity();
            m_current = FreshEntry();
            m_view.ShowLinkRates("");
            m_idle = 1;
            break;
        }
        case CALL_CONNECTING:
        case CALL_LINK_UP:
            m_view.AcceptDroppedFiles(false);
            m_view.EnableTabs(false);
            if (KindOfPage(kind)) m_view.SelectPage(KindOfPage(kind));
            break;
        case CALL_CONNECTED:
            if (previous != 58) {
                m_view.EnableTabs(false);
                if (KindOfPage(kind)) m_view.SelectPage(KindOfPage(kind));
                m_view.SetGuiPriority(true);
            } else if (!m_clipByHand) {
                m_view.LibrarySelectNext();
            }
            break;
        default: break;
    }
    m_callState = state;
    Refresh();
    // Last, once the window shows the true state behind it.
    if (state == 16 && text[0]) m_view.ShowErrorBox(CMainDlgView::kEngineError, text);
}

void CMainDlgLogic::OnIncoming() {
    ConnectionInfo info;
    m_engine.GetConnectionInfo(info);
    m_current.connection = info;
    if (m_rip) m_rip->SetConnectionInfo(info);
    ShowOnPage(info.kind, [&](CMainPage& p) { p.ShowConnection(info); });
    UpdateStatusLine();
}

void CMainDlgLogic::OnDecoderFormat(int kind) {
    if (IsMulticastSender()) return;  // a sender decodes nothing
    AudioFormat format;
    m_engine.GetDecoderFormat(format);
    if (m_rip) m_rip->SetDecoderFormat(format);
    m_noReceive = format.direction == DIRECTION_SEND_ONLY;
    const std::string text = m_noReceive ? kNotInUse : FormatAudioFormat(format);
    ShowOnPage(kind, [&](CMainPage& p) { p.ShowReceiveFormat(text); });
}

void CMainDlgLogic::OnEncoderFormat(int kind) {
    if (IsMulticastReceiver()) return;  // a receiver encodes nothing
    if (kind == 0) kind = m_current.connection.kind;
    AudioFormat format;
    m_engine.GetEncoderFormat(format);
    if (m_rip) m_rip->SetEncoderFormat(format);
    m_noSend = format.direction == DIRECTION_RECEIVE_ONLY;
    const std::string text = m_noSend ? kNotInUse : FormatAudioFormat(format);
    ShowOnPage(kind, [&](CMainPage& p) { p.ShowSendFormat(text); });
}

void CMainDlgLogic::OnRemoteIdentity(LPARAM code) {
    StationIdentity identity;
    m_engine.GetRemoteIdentity(identity);
    // Bytes from the peer: every text ends inside its field.
    identity.stationName[sizeof identity.stationName - 1] = 0;
    identity.productName[sizeof identity.productName - 1] = 0;
    m_remote = identity;
    if (m_rip) m_rip->SetRemoteIdentity(identity);
    UpdateStatusLine();
    if (m_idle && identity.stationName[0]) {
        ShowOnPage(m_current.connection.kind, [&](CMainPage& p) { p.ShowRemoteName(identity.stationName); });
    } else if (code) {
        const std::string text = FormatConnectionError(m_translator, 0, static_cast<int>(code));
        if (!text.empty()) {
            m_engine.Disconnect();
            Refresh();
            m_view.ShowErrorBox(CMainDlgView::kConnectionError, text);
        }
    }
}

void CMainDlgLogic::OnLowBandwidth() {
    int receive = -1, send = -1;
    m_engine.GetBandwidth(&receive, &send);
    if (receive == -1 || send == -1) {
        m_engine.Disconnect();
        return;
    }
    // 64-bit: a bit rate from a phonebook file may be anything.
    const int64_t needed = m_current.format.bitRate;
    const int64_t limit = needed + needed / 10;
    if (receive >= limit && send >= limit) {
        m_engine.ContinueWithBandwidth();
        return;
    }
    const int limitInt = limit > INT32_MAX ? INT32_MAX : limit < INT32_MIN ? INT32_MIN : static_cast<int>(limit);
    switch (m_view.RunBandwidthDialog(limitInt, receive, send)) {
        case CMainDlgView::kBandwidthContinue: m_engine.ContinueWithBandwidth(); break;
        case CMainDlgView::kBandwidthTestAgain: m_engine.TestBandwidthAgain(); break;
        default: m_engine.Disconnect(); break;
    }
}

void CMainDlgLogic::OnConnectRequest(int origin, int kind) {
    if (origin == kOriginPage || kind != 0) {
        if (m_engine.IsConnectionActive()) {
            m_engine.Disconnect();
            m_current.autoReconnect = 0;
            m_idle = 1;
        }
        CMainPage* page = m_view.Page(KindOfPage(kind));
        PhonebookEntry entry;
        if (!page || !page->CopySelectedEntry(entry)) return;
        m_current = entry;
    } else {
        if (m_miniIsdn) return;
        PhonebookEntry found;
        bool ok = false;
        if (origin == kOriginReconnect) {
            char name[sizeof m_current.reconnectName + 1] = {};
            std::memcpy(name, m_current.reconnectName, sizeof m_current.reconnectName);
            ok = m_view.FindPhonebookEntry(name, m_current.reconnectKind, found);
        } else {
            m_autoDial = 0;
            ok = m_view.FindPhonebookEntry(m_autoDialName.c_str(), m_autoDialKind, found);
        }
        if (!ok) return;
        m_current = found;
    }
    m_current.connection.kind &= 0xFFF0;
    m_engine.Connect(m_current);
    m_noReceive = m_current.format.direction == DIRECTION_SEND_ONLY;
    m_noSend = m_current.format.direction == DIRECTION_RECEIVE_ONLY;
    const ConnectionInfo info = m_current.connection;
    ShowOnPage(info.kind, [&](CMainPage& p) { p.ShowConnection(info); });
    m_idle = 0;
}

void CMainDlgLogic::OnStopRequest(bool repeat) {
    if (!m_engine.IsConnectionActive()) {
        m_view.StopTimer(kHangUpRepeatTimer);
    } else if (repeat) {
        m_view.ArmTimer(kHangUpRepeatTimer, 1000);
    }
    m_engine.Disconnect();
    m_current.autoReconnect = 0;
    m_idle = 1;
}

void CMainDlgLogic::OnRipConnect() {
    if (!m_rip) return;
    if (m_engine.IsConnectionActive()) OnStopRequest(true);
    PhonebookEntry entry;  // zeroed
    std::memset(static_cast<void*>(&entry), 0, sizeof entry);
    ConnectionInfo destination;
    m_rip->GetRequestedDestination(destination);
    entry.connection = destination;
    AudioFormat format;
    m_rip->GetRequestedFormat(format);
    entry.format = format;
    entry.connection.kind &= 0xFFF0;  // the network kind 0x11 becomes 16
    if (!m_engine.Connect(entry)) {
        RefuseRipConnect(entry.connection.kind);
        return;
    }
    m_current = entry;
    m_noReceive = m_current.format.direction == DIRECTION_SEND_ONLY;
    m_noSend = m_current.format.direction == DIRECTION_RECEIVE_ONLY;
    const ConnectionInfo info = m_current.connection;
    ShowOnPage(info.kind, [&](CMainPage& p) { p.ShowConnection(info); });
    m_idle = 0;
}

// A request the engine refuses is answered, never dropped. Its transport may
// have gone since start-up (a settings rebuild whose ISDN open failed): the
// server and the pages learn the engine's transports now, so later requests
// are refused where they enter, and the status line says what is missing.
void CMainDlgLogic::RefuseRipConnect(int kind) {
    const int mask = m_engine.GetAvailableTransports();
    m_rip->SetAvailableTransports(mask);
    for (int k : {32, 16, 128}) ShowOnPage(k, [&](CMainPage& p) { p.SetTransports(mask); });
    const bool gone = kind == 0 || (kind & mask) != kind;
    m_rip->RefuseRequest(RIP_CMD_MAKE_CONNECTION, static_cast<int>(gone ? RIP_REASON_UNKNOWN : RIP_REASON_BAD_BODY));
    if (gone) {
        m_lastError = kind == 32 ? m_translator.GetText(kMessageSection | 106, "ISDN is not available!")
                                 : m_translator.GetText(kMessageSection | 108, "Network is not available");
        UpdateStatusLine();
    }
}

void CMainDlgLogic::OnPageShown(int page) {
    const int kind = KindOfPage(page);
    if (kind) m_view.SelectPage(kind);
}

void CMainDlgLogic::OnLevelTick() {
    int l0 = 0, r0 = 0, l1 = 0, r1 = 0;
    m_engine.GetLevels(1, &l1, &r1);
    m_engine.GetLevels(0, &l0, &r0);
    int state = m_callState;
    if (state == 21) {  // a clip without a call: its levels are the sending side's
        l1 = l0;
        r1 = r0;
        l0 = r0 = 0;
        state = 58;
    }
    const int four[4] = {l0, r0, l1, r1};
    const int pair0[2] = {l0, r0};
    const int pair1[2] = {l1, r1};
    if (state == 58) {
        ShowOnPage(128, [&](CMainPage& p) { p.ShowLevels(pair1, 2); });
        ShowOnPage(16, [&](CMainPage& p) { p.ShowLevels(four, 4); });
        ShowOnPage(32, [&](CMainPage& p) { p.ShowLevels(four, 4); });
        int played = 0, length = 0;
        m_engine.GetClipPosition(&played, &length);
        m_view.ShowClipTimes(FormatClipTime(played < length ? played : length), FormatClipTime(length - played));
        return;
    }
    const int kind = m_current.connection.kind;
    if (kind == 128) {
        ShowOnPage(128, [&](CMainPage& p) { p.ShowLevels(m_current.connection.flag ? pair1 : pair0, 2); });
    } else if (kind == 16 || kind == 32) {
        ShowOnPage(kind, [&](CMainPage& p) { p.ShowLevels(four, 4); });
    }
}

void CMainDlgLogic::OnStatusTick() {
    const int cpu = m_cpuSampler ? m_cpuSampler() : 0;
    char text[64];
    std::snprintf(text, sizeof text, "CPU: %d%%", cpu < 0 ? 0 : cpu);
    m_view.ShowCpuLoad(text);
    m_view.CloseSplash();
    const int kind = m_current.connection.kind;
    if (kind != 16 && kind != 128) {
        m_view.ShowLinkRates("");
        return;
    }
    int rx = -1, tx = -1;
    m_engine.GetStatusPercentages(&rx, &tx);
    int receiveRate = -1, sendRate = -1;
    m_engine.GetBandwidth(&receiveRate, &sendRate);
    if (receiveRate >= 0 && sendRate >= 0) {
        std::string rates = "RX:";
        if (!m_noReceive) rates += FormatBitRate(receiveRate);
        rates += " TX:";
        if (!m_noSend) rates += FormatBitRate(sendRate);
        m_view.ShowLinkRates(rates);
    }
    if (rx >= 0 && m_callState == 50) {
        std::string line = kind == 16 ? " Connected (TCP Network)" : " Connected (UDP Network)";
        if (!m_noReceive) {
            std::snprintf(text, sizeof text, "          RX: %d%%", rx);
            line += text;
        }
        if (!m_noSend) {
            std::snprintf(text, sizeof text, "  TX: %d%%", tx);
            line += text;
        }
        m_statusLine = line;
        m_view.ShowStatusLine(m_statusLine);
    }
}
