#pragma once
// Runs every call: owns the connection manager and the audio engine, runs one
// worker thread that takes commands from a one-slot mailbox, keeps the call
// state machine, settles the formats of both directions with the peer,
// moves coded audio each pass, measures a TCP link before a buffered call,
// and reports every change to the main window by posted messages.
//
// Threads: the public operations are called on the main window's thread.
// Posting operations only place a code in the mailbox; the worker does the
// work. Accessors copy what the worker published (integers are atomics, the
// records sit behind a short lock the worker never holds while it waits).
// The connection manager, the transports and the audio engine are touched by
// the worker only - and by Start and the destructor, while no worker runs.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "call/CallAudio.h"
#include "call/CallStartGuard.h"
#include "call/CommandMailbox.h"
#include "call/FormatNegotiation.h"
#include "call/LocalIdentity.h"
#include "call/PowerPriorityGuard.h"
#include "common/DelayBuffer.h"
#include "common/Records.h"
#include "common/RegistryKey.h"
#include "common/Settings.h"
#include "common/StationIdentity.h"
#include "common/Stopwatch.h"
#include "net/ConnectionManager.h"
#include "platform/WindowMessages.h"

struct SharedState;

enum EngineCommand : int {
    ENGINE_CMD_SEND_FORMAT = 10,
    ENGINE_CMD_REPORT_STATE = 11,
    ENGINE_CMD_REINIT_AUDIO = 12,
    ENGINE_CMD_SET_PLAY_LEVEL = 14,
    ENGINE_CMD_RECREATE_CODECS = 20,
    ENGINE_CMD_RELOAD_SETTINGS = 21,
    ENGINE_CMD_RECREATE_LINK = 22,
    ENGINE_CMD_CONNECT = 100,
    ENGINE_CMD_CONTINUE = 102,
    ENGINE_CMD_TEST_AGAIN = 103,
    ENGINE_CMD_HANGUP = 110,
    ENGINE_CMD_CLIP_PLAY = 200,
    ENGINE_CMD_CLIP_PAUSE = 201,
    ENGINE_CMD_CLIP_STOP = 202,
    ENGINE_CMD_CLIP_LOAD = 210,
    ENGINE_CMD_CLIP_LEVEL = 211,
    ENGINE_CMD_CLIP_FLAG_ON = 220,
    ENGINE_CMD_CLIP_FLAG_OFF = 221,
    ENGINE_CMD_SUSPEND_LINK = 501,
    ENGINE_CMD_RESUME_LINK = 502,
};

class CCallEngine {
public:
    static constexpr uint32_t kPostTimeoutMs = 2000;
    static constexpr uint32_t kStopTimeoutMs = 5000;
    static constexpr uint32_t kRateWindowMs = 2000;
    static constexpr const char* kRegistryPath = kStationRegistryPath;
    static constexpr uint32_t kRegistryVersion = kStationRegistryVersion;
    static constexpr uint32_t kFixedDelayPeerVersion = 66567;

    // audioFactory makes the audio engine (now and after every connection);
    // without one Start fails.
    // settings: this station's settings file (the default one unless told;
    // two stations in one process keep apart this way).
    explicit CCallEngine(CallAudioFactory audioFactory = {}, CSettings settings = CSettings());
    // Stops and joins the worker before anything it uses is freed.
    ~CCallEngine();
    CCallEngine(const CCallEngine&) = delete;
    CCallEngine& operator=(const CCallEngine&) = delete;

    // Main window thread.
    int Start(const char* programName, int fastCpu);
    int SetMainWindow(HWND window);
    int ReinitAudio() { return PostCommand(ENGINE_CMD_REINIT_AUDIO); }
    int ApplyAudioSettings() { return PostCommand(ENGINE_CMD_RECREATE_CODECS); }
    int ApplyGlobalSettings() { return PostCommand(ENGINE_CMD_RELOAD_SETTINGS); }
    int ApplyConnectionSettings() { return PostCommand(ENGINE_CMD_RECREATE_LINK); }
    int SetPlayLevel(int level);
    int Connect(const PhonebookEntry& entry);
    int SetIdle(int flag) { return PostCommand(flag ? ENGINE_CMD_SUSPEND_LINK : ENGINE_CMD_RESUME_LINK); }
    int Disconnect() { return PostCommand(ENGINE_CMD_HANGUP); }
    int LoadClip(const char* fileName);
    int SetClipLevel(int level);
    int SetClipFlag(int on) { return PostCommand(on ? ENGINE_CMD_CLIP_FLAG_ON : ENGINE_CMD_CLIP_FLAG_OFF); }
    int PlayClip() { return PostCommand(ENGINE_CMD_CLIP_PLAY); }
    int PauseClip() { return PostCommand(ENGINE_CMD_CLIP_PAUSE); }
    int StopClip() { return PostCommand(ENGINE_CMD_CLIP_STOP); }
    int ContinueWithBandwidth() { return PostCommand(ENGINE_CMD_CONTINUE); }
    int TestBandwidthAgain() { return PostCommand(ENGINE_CMD_TEST_AGAIN); }

    int IsConnectionActive() const { return m_connectionActive.load(std::memory_order_relaxed); }
    uint32_t GetAvailableTransports() const { return m_transportMask.load(std::memory_order_relaxed); }
    int GetCallState() const { return m_callState.load(std::memory_order_relaxed); }
    void GetLevels(int side, int* left, int* right) const;
    void GetClipPosition(int* playedMs, int* lengthMs) const;
    void GetStatusPercentages(int* a, int* b) const;
    void GetBandwidth(int* receiveRate, int* sendRate) const;
    void GetConnectionInfo(ConnectionInfo* out) const;
    void GetRemoteIdentity(StationIdentity* out) const;
    void GetDecoderFormat(AudioFormat* out) const;
    void GetEncoderFormat(AudioFormat* out) const;
    int TakeErrorText(char* buffer, size_t size);
    int TakeErrorCode(int* code);

    // Places a code in the mailbox: 1, or 0 when the slot stayed busy for
    // kPostTimeoutMs or the worker has stopped.
    int PostCommand(int code);
    // Ends the worker: 1 when it stopped within kStopTimeoutMs. The worker is
    // joined in any case before the engine is destroyed.
    int StopWorker();

    // For tests that drive the engine without a worker: Start's work without
    // the thread, and one pass of the worker loop on the calling thread.
    int Prepare(const char* programName, int fastCpu);
    void Pass();
    const StationIdentity& GetLocalIdentity() const { return m_localIdentity; }
    int GetDelayBufferTime() const { return m_delayBufferTime; }
    uint32_t GetDelayBufferCapacity(int receiveSide) const;
    int GetConnectionType() const { return m_connectionType; }
    // Start times of the last passes (worker), for the pass-period benchmark.
    static constexpr int kPassLogSize = 4096;
    int CopyPassStarts(uint32_t* out, int max) const;
    // Passes begun so far (each pass counts as it begins).
    uint32_t GetPassCount() const { return m_passCount.load(std::memory_order_acquire); }

private:
    // worker.cpp
    void WorkerMain();
    void Run();
    void ProcessCommand();
    void PollLink();
    void HandleControlFrame();
    void ResetBuffering();
    void SetState(int state);
    void ConnectStoredEntry();
    void EndConnection();
    void OnPeerIdentity();
    void ReadRegistryIdentity();
    int CreateConnectionManager();
    int CreateAudioEngine();
    void ReloadSettings();
    void ToggleClipPause();
    void SendLocalIdentity();
    void Post(UINT message, WPARAM wParam, LPARAM lParam);
    int Kind() const;
    int IsAnswering() const;
    void TakeAudioError();
    void SetErrorText(const std::string& text);
    void UpdateRates();
    void EndStalledStart();

    // formats.cpp
    int EnterConnected();
    void OnReceiveFormat();
    void ChooseAnswerFormat();
    void ApplySendFormat();
    void CreateSendDelayBuffer();
    void CreateReceiveDelayBuffer();
    int SizeDelayBuffer(std::unique_ptr<CDelayBuffer>& buffer, const AudioFormat& format, bool receiveSide);
    void ReceiveStep();
    void ReceiveBuffered();
    void ReceiveDirect();
    void AudioStep();
    void SendBuffered();
    void SendDirect();
    void PublishDecoderFormat(const AudioFormat& f);
    void PublishRequestedSendFormat(const AudioFormat& f);

    // bandwidth.cpp
    int StartBandwidthCheck();
    void OnDelayFrame();
    void EndDelayMeasurement(uint32_t maxMs, uint32_t minMs);
    void RunBandwidthCheck();

    CallAudioFactory m_audioFactory;
    CSettings m_settings;

    std::atomic<uint32_t> m_transportMask{0};
    std::atomic<int> m_errorCode{0};
    std::string m_errorText;  // under m_recordLock
    std::atomic<int> m_callState{CALL_NONE};
    CCommandMailbox m_mailbox;
    std::atomic<int> m_playLevel{0};
    int m_idle = 0;
    std::atomic<int> m_stopped{0};
    std::atomic<int> m_run{0};
    std::atomic<int> m_connectionActive{0};
    std::atomic<int> m_fastCpu{0};  // reloaded by the worker, read by Connect
    int m_identitySent = 0;
    CPowerPriorityGuard m_powerGuard;
    std::atomic<int> m_clipLevel{0};
    std::atomic<int> m_clipPlayed{0};
    std::atomic<int> m_clipLength{0};
    std::string m_clipFile;  // under m_recordLock
    int m_connectionType = 0;
    int m_bufferingMode = 0;
    int m_bufferMs = 0;
    int m_delayBufferTime = 0;
    std::atomic<int> m_receiveFill{-1};  // -1: no receive delay buffer
    std::atomic<int> m_sendFill{-1};
    int m_peerChunk = 0;
    uint32_t m_checkStart = 0;
    uint32_t m_sendStart = 0;
    uint32_t m_receiveStart = 0;
    CStopwatch m_delayWatch;
    CStopwatch m_keepAliveWatch;
    // 64-bit: 48 kHz stereo PCM moves 192000 bytes a second, and the rate
    // takes bytes x 8000.
    int64_t m_bytesSent = 0;
    int64_t m_bytesReceived = 0;
    std::atomic<int> m_sendRate{-1};
    std::atomic<int> m_receiveRate{-1};
    CStopwatch m_rateWindow;
    CStopwatch m_unmuteWatch;
    CStopwatch m_deviceChangeWatch;
    CStopwatch m_sendFlushWatch;
    CCallStartGuard m_startGuard;
    AnswerSettings m_answer;
    std::atomic<int> m_captureLeft{0}, m_captureRight{0}, m_playbackLeft{0}, m_playbackRight{0};
    PhonebookEntry m_connectRequest;          // under m_recordLock
    ConnectionInfo m_reportedConnection;      // under m_recordLock
    AudioFormat m_reportedDecodeFormat;       // under m_recordLock: what the window shows
    AudioFormat m_reportedEncodeFormat;       // under m_recordLock: the operator's send format
    StationIdentity m_peerIdentity;           // under m_recordLock (also in the shared state)
    std::atomic<HWND> m_mainWindow{nullptr};
    ConnectionInfo m_connection;
    AudioFormat m_decodeFormat;          // what the decoder runs
    AudioFormat m_encodeFormat;          // what the encoder runs and the peer is told
    AudioFormat m_peerFormat;            // as the peer announced it, completed
    AudioFormat m_proposedEncodeFormat;  // the send format to change to next
    StationIdentity m_localIdentity;
    char m_programFile[CConnectionManager::kProgramPathBytes] = {};
    std::string m_programName;
    SharedState* m_shared = nullptr;
    std::unique_ptr<CConnectionManager> m_manager;
    std::unique_ptr<CCallAudio> m_audio;
    std::unique_ptr<CRegistryKey> m_registry;
    std::unique_ptr<CDelayBuffer> m_receiveDelay;
    std::unique_ptr<CDelayBuffer> m_sendDelay;
    std::thread m_worker;

    mutable std::mutex m_recordLock;
    int m_startedPosted = 0;
    uint32_t m_passStart = 0;
    uint32_t m_passLog[kPassLogSize] = {};
    std::atomic<uint32_t> m_passCount{0};
    std::atomic<uint32_t> m_delayCapacity[2] = {0, 0};
};
