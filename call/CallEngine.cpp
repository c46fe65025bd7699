#include "call/CallEngine.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "call/FormatRules.h"
#include "call/LocalIdentity.h"
#include "common/Destination.h"
#include "common/MainWindowMessages.h"
#include "common/Settings.h"
#include "common/SharedState.h"
#include "net/ControlFrame.h"
#include "platform/Clock.h"
#include "platform/ProcessInfo.h"
#include "platform/ThreadPriority.h"
#include "platform/WinSockErrors.h"

namespace {
bool IsAudioState(int s) {
    return s == CALL_CLIP_PLAYING || s == CALL_CHECKING || s == CALL_CONNECTED || s == CALL_CONNECTED_CLIP_PLAYING ||
           s == CALL_CONNECTED_CLIP_PAUSED;
}
bool IsConnectedState(int s) {
    return s == CALL_CHECKING || s == CALL_CONNECTED || s == CALL_CONNECTED_CLIP_PLAYING ||
           s == CALL_CONNECTED_CLIP_PAUSED;
}
void CopyText(char* dst, size_t size, const char* src) {
    if (size == 0) return;
    std::strncpy(dst, src, size - 1);
    dst[size - 1] = '\0';
}
}  // namespace

CCallEngine::CCallEngine(CallAudioFactory audioFactory, CSettings settings)
    : m_audioFactory(std::move(audioFactory)), m_settings(std::move(settings)) {
    m_shared = g_sharedState;
    if (m_shared) m_shared->callEngine = this;
}

CCallEngine::~CCallEngine() {
    StopWorker();
    // Whatever StopWorker saw, nothing below is freed while the worker runs.
    if (m_worker.joinable()) m_worker.join();
    m_receiveDelay.reset();
    m_sendDelay.reset();
    m_registry.reset();
    m_audio.reset();
    m_manager.reset();
    if (m_shared && m_shared->callEngine == this) m_shared->callEngine = nullptr;
}

// ---------------------------------------------------------------- life cycle

int CCallEngine::Prepare(const char* programName, int fastCpu) {
    if (!programName || !programName[0]) return 0;
    m_programName = std::string(programName) + ".E" + "xe";
    m_fastCpu.store(fastCpu, std::memory_order_relaxed);
    m_powerGuard.Save();
    m_registry = std::make_unique<CRegistryKey>();
    if (!CreateConnectionManager() || !CreateAudioEngine()) return 0;
    // A fresh manager listens, the first one too: a station must be callable
    // from the start, not only after its first call.
    m_manager->StartListening();
    ReadRegistryIdentity();
    m_clipPlayed.store(0, std::memory_order_relaxed);
    m_clipLength.store(0, std::memory_order_relaxed);
    m_mailbox.Reset();
    return 1;
}

int CCallEngine::Start(const char* programName, int fastCpu) {
    if (m_worker.joinable()) return 0;
    if (!Prepare(programName, fastCpu)) return 0;
    m_stopped.store(0, std::memory_order_relaxed);
    m_run.store(1, std::memory_order_release);
    m_worker = std::thread(&CCallEngine::WorkerMain, this);
    return 1;
}

void CCallEngine::WorkerMain() {
    Run();
    m_stopped.store(1, std::memory_order_release);
}

int CCallEngine::StopWorker() {
    if (!m_worker.joinable()) return 1;
    if (m_run.load(std::memory_order_acquire) && !m_stopped.load(std::memory_order_acquire)) {
        m_run.store(0, std::memory_order_release);
        // Waiting for another thread takes real time, whatever clock the
        // engine runs on.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
        while (!m_stopped.load(std::memory_order_acquire)) {
            if (std::chrono::steady_clock::now() >= deadline) {
                // A worker stuck in a pass: posts fail from now on; the
                // destructor still waits for it.
                m_stopped.store(1, std::memory_order_release);
                return 0;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    m_run.store(0, std::memory_order_release);
    m_worker.join();
    return 1;
}

// ---------------------------------------------------------------- mailbox

int CCallEngine::PostCommand(int code) { return m_mailbox.Post(code, kPostTimeoutMs, m_stopped); }

int CCallEngine::SetMainWindow(HWND window) {
    m_mainWindow.store(window, std::memory_order_release);
    return PostCommand(ENGINE_CMD_REPORT_STATE);
}

int CCallEngine::SetPlayLevel(int level) {
    m_playLevel.store(level, std::memory_order_relaxed);
    return PostCommand(ENGINE_CMD_SET_PLAY_LEVEL);
}

int CCallEngine::LoadClip(const char* fileName) {
    {
        std::lock_guard<std::mutex> lock(m_recordLock);
        m_clipFile = fileName ? fileName : "";
    }
    return PostCommand(ENGINE_CMD_CLIP_LOAD);
}

int CCallEngine::SetClipLevel(int level) {
    m_clipLevel.store(level, std::memory_order_relaxed);
    return PostCommand(ENGINE_CMD_CLIP_LEVEL);
}

int CCallEngine::Connect(const PhonebookEntry& entry) {
    // The request is checked and completed on this thread and handed over
    // under the record lock; the worker copies it out while it runs the
    // commands below, so a later Connect cannot tear it.
    if (m_programName.empty()) return 0;
    const uint32_t kind = static_cast<uint32_t>(entry.connection.kind);
    if (kind == 0 || (kind & m_transportMask.load(std::memory_order_relaxed)) != kind) return 0;
    // A phonebook entry is outside data: one that cannot be dialled is refused here.
    if (!IsValidDestination(entry.connection)) return 0;
    PhonebookEntry copy = entry;
    if (!NormalizeFormat(copy.format, FormatUse::Request, m_fastCpu.load(std::memory_order_relaxed))) return 0;
    // A PCM request keeps its own frame size: one a pass cannot carry is refused.
    if (!FrameFitsPass(copy.format)) return 0;
    {
        std::lock_guard<std::mutex> lock(m_recordLock);
        m_connectRequest = copy;
    }
    if (!PostCommand(ENGINE_CMD_SEND_FORMAT)) return 0;
    return PostCommand(ENGINE_CMD_CONNECT);
}

// ---------------------------------------------------------------- accessors

void CCallEngine::GetLevels(int side, int* left, int* right) const {
    if (left) *left = (side ? m_captureLeft : m_playbackLeft).load(std::memory_order_relaxed);
    if (right) *right = (side ? m_captureRight : m_playbackRight).load(std::memory_order_relaxed);
}

void CCallEngine::GetClipPosition(int* playedMs, int* lengthMs) const {
    if (playedMs) *playedMs = m_clipPlayed.load(std::memory_order_relaxed);
    if (lengthMs) *lengthMs = m_clipLength.load(std::memory_order_relaxed);
}

void CCallEngine::GetStatusPercentages(int* a, int* b) const {
    // The fills are published as -1 while the buffer does not exist.
    const int r = m_receiveFill.load(std::memory_order_relaxed);
    const int s = m_sendFill.load(std::memory_order_relaxed);
    if (a) *a = r;
    if (b) *b = s < 0 ? -1 : 100 - s;
}

void CCallEngine::GetBandwidth(int* receiveRate, int* sendRate) const {
    const int r = m_receiveRate.load(std::memory_order_relaxed);
    const int s = m_sendRate.load(std::memory_order_relaxed);
    if (receiveRate && r != -1) *receiveRate = r;
    if (sendRate && s != -1) *sendRate = s;
}

void CCallEngine::GetConnectionInfo(ConnectionInfo* out) const {
    if (!out) return;
    std::lock_guard<std::mutex> lock(m_recordLock);
    *out = m_reportedConnection;
}

void CCallEngine::GetRemoteIdentity(StationIdentity* out) const {
    if (!out) return;
    std::lock_guard<std::mutex> lock(m_recordLock);
    *out = m_peerIdentity;
}

void CCallEngine::GetDecoderFormat(AudioFormat* out) const {
    if (!out) return;
    std::lock_guard<std::mutex> lock(m_recordLock);
    *out = m_reportedDecodeFormat;
}

void CCallEngine::GetEncoderFormat(AudioFormat* out) const {
    if (!out) return;
    std::lock_guard<std::mutex> lock(m_recordLock);
    *out = m_reportedEncodeFormat;
}

int CCallEngine::TakeErrorText(char* buffer, size_t size) {
    std::lock_guard<std::mutex> lock(m_recordLock);
    if (m_errorText.empty()) {
        if (buffer && size) buffer[0] = '\0';
        return 0;
    }
    if (buffer) CopyText(buffer, size, m_errorText.c_str());
    m_errorText.clear();
    return 1;
}

int CCallEngine::TakeErrorCode(int* code) {
    const int c = m_errorCode.exchange(0, std::memory_order_relaxed);
    if (code) *code = c;
    return c != 0 ? 1 : 0;
}

uint32_t CCallEngine::GetDelayBufferCapacity(int receiveSide) const {
    return m_delayCapacity[receiveSide ? 1 : 0].load(std::memory_order_relaxed);
}

int CCallEngine::CopyPassStarts(uint32_t* out, int max) const {
    const uint32_t count = m_passCount.load(std::memory_order_acquire);
    const int n = static_cast<int>(std::min<uint32_t>({count, static_cast<uint32_t>(kPassLogSize),
                                                       static_cast<uint32_t>(std::max(max, 0))}));
    // Oldest first.
    for (int i = 0; i < n; ++i) out[i] = m_passLog[(count - static_cast<uint32_t>(n) + i) % kPassLogSize];
    return n;
}

// ---------------------------------------------------------------- small parts

void CCallEngine::Post(UINT message, WPARAM wParam, LPARAM lParam) {
    const HWND window = m_mainWindow.load(std::memory_order_acquire);
    if (window) PostMessage(window, message, wParam, lParam);
}

int CCallEngine::Kind() const { return m_manager ? m_manager->GetConnectionType() : 0; }
int CCallEngine::IsAnswering() const { return m_manager ? m_manager->IsIncoming() : 0; }

void CCallEngine::SetErrorText(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_recordLock);
    m_errorText = text;
}

void CCallEngine::TakeAudioError() {
    std::string text;
    if (m_audio) m_audio->GetLastError(text);
    SetErrorText(text);
}

void CCallEngine::SendLocalIdentity() {
    uint8_t bytes[kStationIdentityBytes];
    StoreStationIdentity(m_localIdentity, bytes);
    m_manager->SendControl(CTRL_PEERINFO, bytes, static_cast<int>(kStationIdentityBytes));
}

// ---------------------------------------------------------------- worker loop

void CCallEngine::Run() {
    if (m_programFile[0] == '\0' || !m_run.load(std::memory_order_acquire)) return;
    m_passStart = timeGetTime();
    while (m_run.load(std::memory_order_acquire)) {
        Pass();
        const int state = m_callState.load(std::memory_order_relaxed);
        if (IsAudioState(state)) {
            if (timeGetTime() - m_passStart < 10) Sleep(3);
        } else {
            Sleep(24);
        }
    }
}

void CCallEngine::Pass() {
    const uint32_t now = timeGetTime();
    if (m_shared) m_shared->engineClock = now;
    m_passStart = now;
    const uint32_t n = m_passCount.load(std::memory_order_relaxed);
    m_passLog[n % kPassLogSize] = now;
    m_passCount.store(n + 1, std::memory_order_release);

    ProcessCommand();
    // A manager or audio engine that could not be rebuilt leaves nothing to drive.
    if (!m_manager || !m_audio) return;
    if (m_idle && m_callState.load(std::memory_order_relaxed) == CALL_IDLE) return;
    PollLink();
    if (!m_manager) return;
    HandleControlFrame();
    EndStalledStart();
    switch (m_callState.load(std::memory_order_relaxed)) {
    case CALL_CLIP_PLAYING:
    case CALL_CLIP_PAUSED: {
        m_audio->ProcessPlayback();
        int l = 0, r = 0, played = 0, length = 0;
        m_audio->GetLevels(0, &l, &r);
        m_playbackLeft.store(l, std::memory_order_relaxed);
        m_playbackRight.store(r, std::memory_order_relaxed);
        const int finished = m_audio->GetClipPosition(&played, &length);
        m_clipPlayed.store(played, std::memory_order_relaxed);
        m_clipLength.store(length, std::memory_order_relaxed);
        if (finished) {
            m_audio->StopClip();
            SetState(CALL_IDLE);
        }
        break;
    }
    case CALL_CHECKING: RunBandwidthCheck(); break;
    case CALL_CONNECTED_CLIP_PLAYING:
    case CALL_CONNECTED_CLIP_PAUSED: {
        int played = 0, length = 0;
        const int finished = m_audio->GetClipPosition(&played, &length);
        m_clipPlayed.store(played, std::memory_order_relaxed);
        m_clipLength.store(length, std::memory_order_relaxed);
        if (finished) {
            m_audio->StopClip();
            SetState(CALL_CONNECTED);
        }
        [[fallthrough]];
    }
    case CALL_CONNECTED:
        if (!IsConnectedState(m_callState.load(std::memory_order_relaxed))) break;
        ReceiveStep();
        AudioStep();
        UpdateRates();
        break;
    default: break;
    }
    if (!m_startedPosted) {
        const HWND window = m_mainWindow.load(std::memory_order_acquire);
        if (window && PostMessage(window, WM_ENGINE_STARTED, 0, 0)) m_startedPosted = 1;
    }
}

// A start that outlasts its bound ends as a connection time-out would.
void CCallEngine::EndStalledStart() {
    if (!m_startGuard.TakeExpiry()) return;
    const int state = m_callState.load(std::memory_order_relaxed);
    if (state != CALL_LINK_UP && state != CALL_CHECKING) return;
    int none = 0;
    m_errorCode.compare_exchange_strong(none, ws::WSAETIMEDOUT, std::memory_order_relaxed);
    m_manager->Disconnect();
}

void CCallEngine::UpdateRates() {
    if (!m_rateWindow.IsExpired()) return;
    const uint32_t d = m_rateWindow.GetElapsed();
    if (d == 0) return;
    m_receiveRate.store(static_cast<int>(std::min<int64_t>(m_bytesReceived * 8000 / d, INT32_MAX)),
                        std::memory_order_relaxed);
    m_sendRate.store(static_cast<int>(std::min<int64_t>(m_bytesSent * 8000 / d, INT32_MAX)),
                     std::memory_order_relaxed);
    m_bytesReceived = 0;
    m_bytesSent = 0;
    m_rateWindow.Start(kRateWindowMs);
}

void CCallEngine::ProcessCommand() {
    const int code = m_mailbox.Peek();
    if (code == 0) return;
    const int state = m_callState.load(std::memory_order_relaxed);
    switch (code) {
    case ENGINE_CMD_SEND_FORMAT: {
        AudioFormat f;
        {
            std::lock_guard<std::mutex> lock(m_recordLock);
            f = m_connectRequest.format;
            m_reportedEncodeFormat = f;
        }
        m_proposedEncodeFormat = f;
        ApplySendFormat();
        break;
    }
    case ENGINE_CMD_REPORT_STATE: Post(WM_ENGINE_STATE, static_cast<WPARAM>(state), Kind()); break;
    case ENGINE_CMD_REINIT_AUDIO:
        if (m_audio) m_audio->ReloadDeviceSettings();
        break;
    case ENGINE_CMD_SET_PLAY_LEVEL:
        if (m_audio) m_audio->SetPlayLevel(m_playLevel.load(std::memory_order_relaxed));
        break;
    case ENGINE_CMD_RECREATE_CODECS: CreateAudioEngine(); break;
    case ENGINE_CMD_RELOAD_SETTINGS: ReloadSettings(); break;
    case ENGINE_CMD_RECREATE_LINK:
        if (CreateConnectionManager()) m_manager->StartListening();
        break;
    case ENGINE_CMD_CONNECT: ConnectStoredEntry(); break;
    case ENGINE_CMD_CONTINUE:
        if (state == CALL_CHECKING && m_manager && !EnterConnected()) m_manager->Disconnect();
        break;
    case ENGINE_CMD_TEST_AGAIN:
        if (state == CALL_CHECKING && m_manager) {
            m_startGuard.Arm();  // the operator asked for a new check: it gets a full bound
            StartBandwidthCheck();
        }
        break;
    case ENGINE_CMD_HANGUP:
        if (m_manager) m_manager->Disconnect();
        break;
    case ENGINE_CMD_CLIP_PLAY:
        if (!m_audio) break;
        if (state == CALL_IDLE || state == CALL_CONNECTED) {
            m_audio->SetPlayLevel(m_playLevel.load(std::memory_order_relaxed));
            m_audio->SetClipGain(m_clipLevel.load(std::memory_order_relaxed));
            if (m_audio->StartClip()) SetState(state == CALL_IDLE ? CALL_CLIP_PLAYING : CALL_CONNECTED_CLIP_PLAYING);
        } else if (state == CALL_CLIP_PAUSED || state == CALL_CONNECTED_CLIP_PAUSED) {
            ToggleClipPause();
        }
        break;
    case ENGINE_CMD_CLIP_PAUSE:
        if (state == CALL_CLIP_PLAYING || state == CALL_CLIP_PAUSED || state == CALL_CONNECTED_CLIP_PLAYING ||
            state == CALL_CONNECTED_CLIP_PAUSED)
            ToggleClipPause();
        break;
    case ENGINE_CMD_CLIP_STOP:
        if (!m_audio) break;
        if ((state == CALL_CLIP_PLAYING || state == CALL_CLIP_PAUSED) && m_audio->StopClip()) SetState(CALL_IDLE);
        if ((state == CALL_CONNECTED_CLIP_PLAYING || state == CALL_CONNECTED_CLIP_PAUSED) && m_audio->StopClip())
            SetState(CALL_CONNECTED);
        break;
    case ENGINE_CMD_CLIP_LOAD:
        if (m_audio && (state == CALL_IDLE || state == CALL_CONNECTED)) {
            m_clipPlayed.store(0, std::memory_order_relaxed);
            m_clipLength.store(0, std::memory_order_relaxed);
            std::string file;
            {
                std::lock_guard<std::mutex> lock(m_recordLock);
                file = m_clipFile;
            }
            m_audio->LoadClip(file.c_str());
        }
        break;
    case ENGINE_CMD_CLIP_LEVEL:
        if (m_audio) m_audio->SetClipGain(m_clipLevel.load(std::memory_order_relaxed));
        break;
    case ENGINE_CMD_CLIP_FLAG_ON:
        if (m_audio) m_audio->SetMicOn(1);
        break;
    case ENGINE_CMD_CLIP_FLAG_OFF:
        if (m_audio) m_audio->SetMicOn(0);
        break;
    case ENGINE_CMD_SUSPEND_LINK:
        if (m_manager) m_manager->CloseIpTransports();
        m_idle = 1;
        break;
    case ENGINE_CMD_RESUME_LINK:
        m_idle = 0;
        if (CreateConnectionManager()) m_manager->StartListening();
        break;
    default: break;
    }
    m_mailbox.Done();
}

void CCallEngine::ToggleClipPause() {
    switch (m_callState.load(std::memory_order_relaxed)) {
    case CALL_CLIP_PLAYING:
        if (m_audio->PauseClip()) SetState(CALL_CLIP_PAUSED);
        break;
    case CALL_CLIP_PAUSED:
        if (m_audio->ResumeClip()) SetState(CALL_CLIP_PLAYING);
        break;
    case CALL_CONNECTED_CLIP_PLAYING:
        if (m_audio->PauseClip()) SetState(CALL_CONNECTED_CLIP_PAUSED);
        break;
    case CALL_CONNECTED_CLIP_PAUSED:
        if (m_audio->ResumeClip()) SetState(CALL_CONNECTED_CLIP_PLAYING);
        break;
    default: break;
    }
}

void CCallEngine::PollLink() {
    m_manager->Poll();
    const int state = m_callState.load(std::memory_order_relaxed);
    if (state >= CALL_LINK_UP && m_manager->IsReceiveFormatChanged()) {
        m_manager->GetReceiveFormat(&m_peerFormat);
        OnReceiveFormat();
        if (!m_manager) return;
    }
    if (m_manager->IsConnectionInfoChanged()) {
        if (m_manager->GetConnectionInfo(&m_connection)) {
            {
                std::lock_guard<std::mutex> lock(m_recordLock);
                m_reportedConnection = m_connection;
            }
            Post(WM_ENGINE_INCOMING, 0, 0);
        }
    }
    if (!m_manager->IsStateChanged()) return;
    const int s = m_manager->GetState();
    const int current = m_callState.load(std::memory_order_relaxed);
    switch (s) {
    case CONN_IDLE:
        if (current != CALL_NONE && m_errorCode.load(std::memory_order_relaxed) == 0) {
            const int e = m_manager->GetLastError(0);
            if (e) m_errorCode.store(e, std::memory_order_relaxed);
        }
        SetState(CALL_IDLE);
        break;
    case CONN_CONNECTED:
        if (current == CALL_CLIP_PLAYING || current == CALL_CLIP_PAUSED) {
            m_audio->StopClip();
            SetState(CALL_IDLE);
        }
        if (IsConnectedState(current) || current == CALL_FAILED) break;
        if (m_manager->IsIncoming()) {
            // An answered call takes its buffering from the caller's frames,
            // never from whatever this station's last call used.
            m_connectionType = CONNTYPE_1;
            ResetBuffering();
        }
        SetState(CALL_LINK_UP);
        break;
    case CONN_FAILED:
    case CONN_CONNECTING: SetState(s); break;
    default: break;
    }
}

void CCallEngine::ResetBuffering() {
    m_bufferingMode = BUFMODE_MEASURE_RELIABLE;
    m_bufferMs = 0;
    m_delayBufferTime = 0;
}

void CCallEngine::HandleControlFrame() {
    switch (m_manager->GetControlType()) {
    case 0: break;
    case CTRL_PEERINFO: OnPeerIdentity(); break;
    case CTRL_DELAY: OnDelayFrame(); break;
    case CTRL_BUFFERING: {
        uint8_t bytes[kBufferingValuesBytes];
        if (m_manager->ReadControl(bytes, kBufferingValuesBytes) && IsAnswering()) {
            const BufferingValues v = LoadBufferingValues(bytes);
            m_connectionType = v.connectionType;
            m_bufferingMode = v.bufferingMode;
            m_bufferMs = v.bufferMs;
        }
        break;
    }
    default: m_manager->DiscardControl(); break;
    }
}

// ---------------------------------------------------------------- states

void CCallEngine::SetState(int s) {
    const int previous = m_callState.load(std::memory_order_relaxed);
    if (s == previous) return;
    m_callState.store(s, std::memory_order_relaxed);
    m_powerGuard.Apply(s);
    if (s == CALL_LINK_UP) {
        m_startGuard.Arm();
    } else if (s != CALL_CHECKING) {
        m_startGuard.Disarm();
    }
    switch (s) {
    case CALL_NONE: m_connectionActive.store(0, std::memory_order_relaxed); break;
    case CALL_IDLE:
        if (m_connectionActive.load(std::memory_order_relaxed)) EndConnection();
        break;
    case CALL_FAILED:
        if (m_manager) m_manager->ClearFailure();
        break;
    case CALL_CONNECTING:
    case CALL_CHECKING:
    case CALL_CONNECTED: m_connectionActive.store(1, std::memory_order_relaxed); break;
    case CALL_LINK_UP: {
        Post(WM_ENGINE_STATE, CALL_LINK_UP, Kind());
        if (IsConnectedState(previous)) {
            EndConnection();
            break;
        }
        m_connectionActive.store(1, std::memory_order_relaxed);
        int ok = 1;
        switch (Kind()) {
        case TRANSPORT_TCP:
            if (!IsAnswering()) {
                BufferingValues v;
                v.connectionType = m_connectionType;
                v.bufferingMode = m_bufferingMode;
                v.bufferMs = m_bufferMs;
                uint8_t bytes[kBufferingValuesBytes];
                StoreBufferingValues(v, bytes);
                m_manager->SendControl(CTRL_BUFFERING, bytes, kBufferingValuesBytes);
            }
            ok = (m_connectionType == CONNTYPE_3 || IsAnswering()) ? StartBandwidthCheck() : EnterConnected();
            break;
        case TRANSPORT_ISDN:
            m_connectionType = CONNTYPE_1;
            ok = EnterConnected();
            break;
        case TRANSPORT_MULTICAST:
            // A sender plays nothing back: it needs no buffering of its own.
            if (m_connection.flag) m_connectionType = CONNTYPE_1;
            ok = EnterConnected();
            if (ok) SendLocalIdentity();
            break;
        default: ok = EnterConnected(); break;
        }
        if (!ok) {
            m_manager->Disconnect();
            return;
        }
        break;
    }
    default: break;
    }
    // A nested change (48 on to 49 or 50) has posted its own state already.
    if (m_callState.load(std::memory_order_relaxed) == s) Post(WM_ENGINE_STATE, static_cast<WPARAM>(s), Kind());
}

void CCallEngine::ConnectStoredEntry() {
    if (!m_manager || !m_audio) return;
    const int state = m_callState.load(std::memory_order_relaxed);
    if (state == CALL_CLIP_PLAYING || state == CALL_CLIP_PAUSED) {
        if (!m_audio->StopClip()) return;
        SetState(CALL_IDLE);
    } else if (state != CALL_IDLE) {
        return;
    }
    PhonebookEntry request;
    {
        std::lock_guard<std::mutex> lock(m_recordLock);
        request = m_connectRequest;
    }
    m_connection = request.connection;
    m_connectionType = request.connection.connectionType;
    m_bufferingMode = request.connection.bufferingMode;
    m_bufferMs = request.connection.bufferMs;
    {
        std::lock_guard<std::mutex> lock(m_recordLock);
        m_encodeFormat = m_reportedEncodeFormat;
        m_errorText.clear();
    }
    MatchAptxOptionToTransport(m_encodeFormat, m_connection.kind);
    if (m_connection.kind == TRANSPORT_ISDN) m_connectionType = CONNTYPE_1;
    m_errorCode.store(0, std::memory_order_relaxed);
    m_manager->SetSendFormat(&m_encodeFormat);
    if (m_manager->Connect(&m_connection)) {
        if (!m_audio->StartAsio()) {
            TakeAudioError();
            m_manager->Disconnect();
        }
        return;
    }
    const int e = m_manager->GetLastError(m_connection.kind);
    if (e) m_errorCode.store(e, std::memory_order_relaxed);
    // Nothing of the attempt may outlive it: a send format left here would
    // pass for the one an answered call already sends, and that call would
    // never open its encoder.
    m_encodeFormat = AudioFormat();
    m_manager->SetSendFormat(&m_encodeFormat);
    m_connection = ConnectionInfo();
    SetState(CALL_FAILED);
}

void CCallEngine::EndConnection() {
    if (m_audio) {
        m_audio->CloseEncoder();
        m_audio->CloseDecoder();
    }
    m_receiveDelay.reset();
    m_sendDelay.reset();
    m_delayCapacity[0].store(0, std::memory_order_relaxed);
    m_delayCapacity[1].store(0, std::memory_order_relaxed);
    m_receiveFill.store(-1, std::memory_order_relaxed);
    m_sendFill.store(-1, std::memory_order_relaxed);
    m_identitySent = 0;
    CreateAudioEngine();
    if (CreateConnectionManager()) m_manager->StartListening();
    m_bytesSent = 0;
    m_bytesReceived = 0;
    m_receiveRate.store(-1, std::memory_order_relaxed);
    m_sendRate.store(-1, std::memory_order_relaxed);
    m_rateWindow.Stop();
    m_unmuteWatch.Stop();
    m_deviceChangeWatch.Stop();
    m_sendFlushWatch.Stop();
    m_captureLeft.store(0, std::memory_order_relaxed);
    m_captureRight.store(0, std::memory_order_relaxed);
    m_playbackLeft.store(0, std::memory_order_relaxed);
    m_playbackRight.store(0, std::memory_order_relaxed);
    m_connectionType = 0;
    ResetBuffering();
    m_encodeFormat = AudioFormat();
    m_decodeFormat = AudioFormat();
    m_peerFormat = AudioFormat();
    m_proposedEncodeFormat = AudioFormat();
    m_connectionActive.store(0, std::memory_order_relaxed);
    Post(WM_ENGINE_ENCODER_FORMAT, 0, 0);
    Post(WM_ENGINE_DECODER_FORMAT, 0, 0);
}

void CCallEngine::OnPeerIdentity() {
    uint8_t bytes[kStationIdentityBytes];
    if (!m_manager->ReadControl(bytes, static_cast<int>(kStationIdentityBytes))) return;
    const StationIdentity peer = LoadStationIdentity(bytes);
    {
        std::lock_guard<std::mutex> lock(m_recordLock);
        m_peerIdentity = peer;
    }
    if (m_shared) m_shared->peerIdentity = peer;
    LPARAM lParam = 0;
    if (IsAnswering()) {
        SendLocalIdentity();
        m_identitySent = 1;
    } else if (m_connectionType == CONNTYPE_3 && m_bufferingMode == BUFMODE_FIXED &&
               peer.versionNumber < kFixedDelayPeerVersion) {
        lParam = ERROR_REMOTE_NO_FIXED_DELAY;
    }
    Post(WM_ENGINE_REMOTE_IDENTITY, 0, lParam);
}

// ---------------------------------------------------------------- set-up

void CCallEngine::ReadRegistryIdentity() {
    uint32_t version = 0;
    m_localIdentity = ReadLocalIdentity(m_settings, m_registry.get(), &version);
    if (m_shared && version) m_shared->registryVersion = version;
    m_identitySent = 0;
}

int CCallEngine::CreateConnectionManager() {
    std::memset(m_programFile, 0, sizeof m_programFile);
    CopyText(m_programFile, sizeof m_programFile, m_programName.c_str());
    m_manager.reset();
    auto manager = std::make_unique<CConnectionManager>(m_settings);
    if (!manager->Init(m_programFile, m_fastCpu.load(std::memory_order_relaxed))) return 0;
    m_manager = std::move(manager);
    m_transportMask.store(m_manager->GetTransportMask(), std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(m_recordLock);
        m_peerIdentity = StationIdentity();
    }
    if (m_shared) m_shared->peerIdentity = StationIdentity();
    m_answer.sameSettings = 1;
    return 1;
}

int CCallEngine::CreateAudioEngine() {
    m_audio.reset();
    if (!m_audioFactory) return 0;
    std::unique_ptr<CCallAudio> audio = m_audioFactory();
    if (!audio) return 0;
    // An engine whose Init failed is kept all the same: its pumps do nothing,
    // and the link is still served (Start alone refuses to go on with it).
    const int ok = audio->Init(m_fastCpu.load(std::memory_order_relaxed));
    m_audio = std::move(audio);
    std::lock_guard<std::mutex> lock(m_recordLock);
    m_reportedEncodeFormat = AudioFormat();
    m_reportedDecodeFormat = AudioFormat();
    return ok ? 1 : 0;
}

void CCallEngine::ReloadSettings() {
    const CSettings& settings = m_settings;
    m_fastCpu.store(settings.GetMainFastCPU(), std::memory_order_relaxed);
    ReadRegistryIdentity();
    if (CreateConnectionManager()) m_manager->StartListening();
    CreateAudioEngine();
}
