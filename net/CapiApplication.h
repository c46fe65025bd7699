#pragma once
// One CAPI 2.0 application for one B-channel connection: registration,
// placing and answering the D-channel call, the transparent B3 connection,
// B3 data blocks both ways and hanging up. Messages are polled through
// `Dizuvo`. Only the call worker's thread (through CISDN) uses it.
//
// Sending is paced by the network: after the first prefill blocks, each
// received DATA_B3_IND lets one full block go out.
#include <cstdint>
#include <string>
#include <vector>

#include "net/CapiLoader.h"

class CCapiApplication {
public:
    static constexpr int kIdle = 16;
    static constexpr int kDConnecting = 33;
    static constexpr int kB3Connecting = 34;
    static constexpr int kConnected = 48;
    static constexpr int kDConnected = 49;
    static constexpr int kSlots = 7;
    static constexpr int kMaxDigits = 30;

    CCapiApplication();
    ~CCapiApplication();
    CCapiApplication(const CCapiApplication&) = delete;
    CCapiApplication& operator=(const CCapiApplication&) = delete;

    // Number of B-channels of controller index (0-based); 0 on error.
    int GetControllerChannels(int index);
    int SelectController(int index);
    int Register(int blockLength, int prefill);
    int Connect(int cip);
    int Listen(uint32_t cipMask);
    int HangUp();
    void SetCalledNumber(const char* digits);
    void SetOwnNumber(const char* digits);
    // The other channel of the same line. A channel with no number of its
    // own leaves a call to the sibling's own number to the sibling unless
    // the sibling is on a call: the sibling takes it, and this channel stays
    // free for the call's second channel.
    void SetSibling(const CCapiApplication* sibling) { m_sibling = sibling; }
    // 1 when called (digits) is this channel's own number: the shorter of
    // the two ends the longer one.
    int IsOwnNumber(const std::string& called) const;
    void SetChannelMode(int mode) { m_channelMode = mode; }
    int SetWindow(int value);

    int Send(const uint8_t* data, int n);
    int GetSendSpace() const;
    int Read(uint8_t* dst, int n);
    void ClearReceived() { m_receiveFill = 0; }
    int ProcessMessages();

    int GetState();
    int IsStateChanged() const { return m_stateChanged; }
    int IsConnected() const { return m_state == kConnected; }
    int IsIncoming() const { return m_incoming; }
    int GetCip() const { return m_cip; }
    int GetInfo() const { return m_info; }
    int TakeInfo() {
        const int info = m_info;
        m_info = 0;
        return info;
    }
    const std::string& GetCalledNumber() const { return m_calledNumber; }
    const std::string& GetCallingNumber() const { return m_callingNumber; }
    int GetWindow() const { return m_window; }
    int GetPrefill() const { return m_prefill; }
    uint32_t GetApplId() const { return m_applId; }
    int IsLoaded() const { return m_loader.IsUsable(); }

private:
    struct Slot {
        int state = 0;  // 0 free, 10 filling, 20 full, 21 sent
        uint32_t sequence = 0;
        int fill = 0;
    };

    void SetState(int state);
    void OnIndication(CapiMessage& m);
    void OnConfirmation(const CapiMessage& m);
    void OnConnectInd(const CapiMessage& m);
    void OnDataB3Ind(const CapiMessage& m);
    void DisconnectD();
    void LoseLine();
    int SendOldestBlock();
    uint8_t* SlotData(int i) { return m_slotBuffer.data() + static_cast<size_t>(i) * static_cast<size_t>(m_blockLength); }

    CCapiLoader m_loader;
    int m_state = kIdle;
    int m_stateChanged = 0;
    int m_incoming = 0;
    int m_resetPending = 0;
    int m_info = 0;
    int m_cip = 0;
    uint32_t m_plci = 0;
    uint32_t m_ncci = 0;
    uint32_t m_applId = 0;
    int m_controller = 1;
    int m_hangingUp = 0;        // local hang-up: this side clears the D-channel
    int m_disconnectSent = 0;   // DISCONNECT_REQ out for this call
    int m_blockLength = 0;
    int m_prefill = 0;
    int m_window = kSlots;
    uint32_t m_nextSequence = 0;
    int m_filling = -1;
    int m_sendingStarted = 0;
    int m_filledWhileStarting = 0;
    int m_endLoop = 0;
    Slot m_slots[kSlots];
    std::vector<uint8_t> m_slotBuffer;
    std::vector<uint8_t> m_receive;
    int m_receiveFill = 0;
    int m_channelMode = 0;
    std::string m_ownNumber;
    const CCapiApplication* m_sibling = nullptr;
    std::string m_calledNumber;
    std::string m_callingNumber;
    std::vector<uint8_t> m_calledStruct;
};
