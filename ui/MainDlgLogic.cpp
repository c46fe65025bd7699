#include "ui/MainDlgLogic.h"

#include <cstring>

#include "common/MainWindowMessages.h"
#include "common/Translator.h"
#include "ui/StatusTexts.h"

namespace {

constexpr char kNotInUse[] = "(Not in use)";

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

}  // namespace

CMainDlgLogic::CMainDlgLogic(CMainEngine& engine, CTranslator& translator, CMainDlgView& view)
    : m_engine(engine), m_translator(translator), m_view(view), m_current(FreshEntry()), m_remote(EmptyIdentity()) {}

const char* CMainDlgLogic::StateText(int state) {
    switch (state) {
        case CALL_IDLE:
        case CALL_FAILED: return "Idle";
        case CALL_CLIP_PLAYING:
        case CALL_CONNECTED_CLIP_PLAYING: return "Playing";
        case CALL_CLIP_PAUSED:
        case CALL_CONNECTED_CLIP_PAUSED: return "Paused";
        case CALL_CONNECTING: return "Connecting";
        case CALL_LINK_UP:
        case CALL_CHECKING: return "Checking";
        case CALL_CONNECTED: return "Connected";
        default: return "";
    }
}

std::string CMainDlgLogic::StatusLine() const {
    if (!m_lastError.empty()) return m_lastError;
    const bool idle = m_callState == 0 || m_callState == 16 || m_callState == 17;
    if (idle && !m_setupWarning.empty()) return std::string(StateText(m_callState)) + "  (" + m_setupWarning + ")";
    return StateText(m_callState);
}

void CMainDlgLogic::Refresh() {
    m_view.RefreshMenus(m_callState);
    m_view.ShowStatusLine(StatusLine());
}

bool CMainDlgLogic::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    const int kind = static_cast<int>(lParam);
    switch (message) {
        case WM_ENGINE_STARTED:
            m_engineStarted = 1;
            return true;
        case WM_ENGINE_STATE:
            OnState(static_cast<int>(wParam), kind);
            return true;
        case WM_ENGINE_INCOMING:
            OnIncoming();
            return true;
        case WM_ENGINE_DECODER_FORMAT:
            OnDecoderFormat(kind);
            return true;
        case WM_ENGINE_RX_INDICATOR:
            if (!IsMulticastSender()) m_view.PageShowRxIndicator(kind, static_cast<int>(wParam));
            return true;
        case WM_ENGINE_ENCODER_FORMAT:
            OnEncoderFormat(kind);
            return true;
        case WM_ENGINE_TX_INDICATOR:
            if (!IsMulticastReceiver()) m_view.PageShowTxIndicator(kind, m_noSend ? 0 : static_cast<int>(wParam));
            return true;
        case WM_ENGINE_REMOTE_IDENTITY:
            OnRemoteIdentity(lParam);
            return true;
        case WM_ENGINE_LOW_BANDWIDTH:
            OnLowBandwidth();
            return true;
        case WM_RIP_CONNECT:
            OnRipConnect();
            return true;
        case WM_RIP_DISCONNECT:
            m_engine.Disconnect();
            return true;
        case WM_RIP_ANSWER_SETTINGS:
            m_engine.ApplyConnectionSettings();
            return true;
        default:
            return false;
    }
}

void CMainDlgLogic::OnState(int state, int kind) {
    char text[1024];
    text[0] = 0;
    m_view.PageSetState(state, kind);
    if (m_rip) m_rip->SendState(state);
    switch (state) {
        case CALL_IDLE: {
            m_view.AcceptDroppedFiles(true);
            m_view.SetGuiPriority(false);
            m_lastError.clear();
            if (m_engine.TakeErrorText(text, sizeof text)) text[sizeof text - 1] = 0;
            int code = 0;
            if (m_engine.TakeErrorCode(&code)) {
                const int currentKind = m_current.connection.kind ? m_current.connection.kind : kind;
                m_lastError = FormatConnectionError(m_translator, currentKind, code);
                if (m_rip) m_rip->SendConnectionError(currentKind, code, m_lastError.substr(0, 80).c_str());
            }
            m_current = FreshEntry();
            m_remote = EmptyIdentity();
            m_noReceive = m_noSend = false;
            m_idle = 1;
            break;
        }
        case CALL_CONNECTING:
        case CALL_LINK_UP:
            m_view.AcceptDroppedFiles(false);
            break;
        case CALL_CONNECTED:
            m_view.SetGuiPriority(true);
            break;
        default:
            break;
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
    m_view.PageShowConnection(info.kind, info);
    Refresh();
}

void CMainDlgLogic::OnDecoderFormat(int kind) {
    if (IsMulticastSender()) return;  // a sender decodes nothing
    AudioFormat format;
    m_engine.GetDecoderFormat(format);
    if (m_rip) m_rip->SetDecoderFormat(format);
    m_noReceive = format.direction == DIRECTION_SEND_ONLY;
    m_view.PageShowReceiveFormat(kind, m_noReceive ? kNotInUse : FormatAudioFormat(format));
}

void CMainDlgLogic::OnEncoderFormat(int kind) {
    if (IsMulticastReceiver()) return;  // a receiver encodes nothing
    if (kind == 0) kind = m_current.connection.kind;
    AudioFormat format;
    m_engine.GetEncoderFormat(format);
    if (m_rip) m_rip->SetEncoderFormat(format);
    m_noSend = format.direction == DIRECTION_RECEIVE_ONLY;
    m_view.PageShowSendFormat(kind, m_noSend ? kNotInUse : FormatAudioFormat(format));
}

void CMainDlgLogic::OnRemoteIdentity(LPARAM code) {
    StationIdentity identity;
    m_engine.GetRemoteIdentity(identity);
    identity.stationName[sizeof identity.stationName - 1] = 0;  // bytes from the peer
    m_remote = identity;
    if (m_rip) m_rip->SetRemoteIdentity(identity);
    if (identity.stationName[0]) m_view.PageShowRemoteName(m_current.connection.kind, identity.stationName);
    if (code == ERROR_REMOTE_NO_FIXED_DELAY) {
        const std::string text = FormatConnectionError(m_translator, 0, static_cast<int>(code));
        m_engine.Disconnect();
        Refresh();
        m_view.ShowErrorBox(CMainDlgView::kConnectionError, text);
        return;
    }
    Refresh();
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

void CMainDlgLogic::OnRipConnect() {
    if (!m_rip || m_callState != CALL_IDLE) return;
    if (m_engine.IsConnectionActive()) m_engine.Disconnect();
    PhonebookEntry entry;  // zeroed
    std::memset(static_cast<void*>(&entry), 0, sizeof entry);
    ConnectionInfo destination;
    m_rip->GetRequestedDestination(destination);
    entry.connection = destination;
    entry.connection.kind &= 0xFFF0;  // the network kind 0x11 becomes 16
    AudioFormat format;
    m_rip->GetRequestedFormat(format);
    entry.format = format;
    m_current = entry;
    m_engine.Connect(m_current);
    m_noReceive = m_current.format.direction == DIRECTION_SEND_ONLY;
    m_noSend = m_current.format.direction == DIRECTION_RECEIVE_ONLY;
    m_view.PageShowConnection(m_current.connection.kind, m_current.connection);
    m_idle = 0;
    Refresh();
}
