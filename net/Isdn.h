#pragma once
// The ISDN transport: calls of one or two B-channels through CAPI 2.0, one
// CCapiApplication per channel. Voice calls carry G.711 in the configured
// law; every byte on a B-channel is bit-reversed. ISDN links carry no
// control frames: every received byte is audio, and the receive format
// comes from the call's CIP value (the detectors of the compressed codecs'
// framing decide for data calls).
//
// Created and driven by the connection manager on the call worker's
// thread only.
#include <cstdint>
#include <memory>
#include <vector>

#include "common/Records.h"
#include "net/CapiApplication.h"
#include "net/ChannelAligner.h"
#include "net/IsdnAptxFramedPath.h"
#include "net/IsdnAptxPath.h"
#include "net/IsdnG711Path.h"
#include "net/IsdnG722Path.h"
#include "net/ManagedTransport.h"
#include "common/Stopwatch.h"

class CISDN final : public CManagedTransport {
public:
    static constexpr int kIdle = 16;
    static constexpr int kDialling = 32;
    static constexpr int kConnected = 48;
    static constexpr int kNumberBytes = 40;
    static constexpr int kMaxRead = 2400;
    // Refusal of a bit rate the B-channels cannot carry whole (Q.850 cause
    // 65, bearer capability not implemented).
    static constexpr int kErrorBitRate = 0x34C1;

    CISDN();
    ~CISDN() override;

    // The manager's registration: opened from [ISDN] settings; null without
    // `Dizuvo`, the CAPI library or a controller with B-channels.
    static std::unique_ptr<CManagedTransport> Create(const CSettings& settings, int fastCpu);

    int Open(int controller, int blockLength, int synchroStart, int dialDelay);
    int Listen(int acceptVoice);
    // numbers: two 40-byte texts, for channel 0 and channel 1.
    int Dial(const char* numbers);
    void HangUp();
    void SetMsn(int channel, const char* text);
    void SetG711Law(int law);
    void SetChannelMode(int mode);
    int GetPeerNumbers(char* out);

    int Start(const ConnectionInfo& connection, const AudioFormat& sendFormat) override;
    int StartListening(const CSettings& settings) override;
    void HangUpConnection() override { HangUp(); }
    // The first CAPI info of a failure among the channels (a normal clearing
    // is none), read and cleared.
    int GetLastError() override;
    // Two 40-byte numbers: the far end's, per channel.
    int GetPeerAddress(char* out, int size) override;
    int IsSendStarved() override { return m_sendStarved; }
    int GetChannelCount() const { return static_cast<int>(m_channels.size()); }
    // A 64 kbit/s Layer II frame's last byte (after the bit reversal), as
    // the given channel brought it, that says the peer marks its frames. A
    // peer's second channel carries its first channel's marker plus 0x20.
    static bool IsPeerMarker(int lastByte, int channel) {
        const int m = lastByte - (channel == 1 ? 0x20 : 0);
        return m >= 0x40 && m < 0x80;
    }
    // Tests: a channel's application.
    CCapiApplication* GetChannel(int i) { return i >= 0 && i < GetChannelCount() ? m_channels[i].get() : nullptr; }

    int GetState() override;
    int IsStateChanged() override { return m_stateChanged; }
    void SetSendFormat(const AudioFormat* format) override;
    void GetReceiveFormat(AudioFormat* format) override;
    int IsReceiveFormatChanged() override { return m_receiveFormatChanged; }
    int ReadAudio(uint8_t* dst, int len) override;
    void FlushReceive() override {
        m_receiveFill = 0;
        m_aligner.Flush();
    }
    int GetReceiveAvailable() override { return m_receiveFill; }
    int WriteAudio(const uint8_t* src, int len) override;
    void DiscardSendData() override {}
    int GetSendSpace() override;
    int GetControlType() override { return 0; }
    int GetControlLength() override { return 0; }
    void DiscardControl() override {}
    int ReadControl(void*, int) override { return 0; }
    int SendControl(int type, const void* data, int len) override;
    void Poll() override;

private:
    void SetState(int state);
    void Reset();
    void OnChannelStateChange(int channel);
    void SendPass();
    int CanSendBlock();
    int SendBlock(const uint8_t* frame, int n);
    int SendOneFrameBlock(const uint8_t* frame, int n);
    int SendSplitLayer2(const uint8_t* frame, int n);
    int SendAlternateLayer3(const uint8_t* frame, int n);
    void CheckAncillaryMarker(const uint8_t* frame, int n);
    void RunMpegPath();
    void RunG722Path();
    void RunAptxPath();
    void RunAptxFramedPath(CIsdnAptxFramedPath& path);
    void SendAptxPass();
    void DistributeReceived(int channel, const uint8_t* bytes, int n);
    void RunReceivePath();
    void ApplyReceiveFormat();
    void StoreReceived(uint8_t* bytes, int n);
    void ApplySendWindow();

    int m_state = kIdle;
    int m_stateChanged = 0;
    int m_blockLength = 0;
    int m_dialDelayMs = 1000;
    int m_order[2] = {-1, -1};
    int m_frameCounter = 0;
    int m_sendRestart = 0;
    int m_receiveFormatChanged = 0;
    int m_dropCounter = -1;
    int m_cip = 1;
    int m_wanted = 0;
    int m_connected = 0;
    int m_answered = 0;
    int m_channelMode = 0;
    int m_g711Law = 2;
    int m_ownError = 0;
    int m_fillerFrames = 0;  // send filler frames while the peers agree on the markers
    int m_peerMarker = 0;    // the peer marks its 64 kbit/s Layer II frames
    int m_markerMode = 0;
    std::vector<uint8_t> m_receive;
    int m_receiveLimit = 0;
    int m_receiveFill = 0;
    std::vector<uint8_t> m_send;
    int m_sendLimit = 0;
    int m_queued = 0;
    int m_sendStarved = 0;
    uint8_t m_reverse[256] = {};
    std::vector<uint8_t> m_block;  // one transformed block on its way out
    std::vector<uint8_t> m_readBuffer;
    AudioFormat m_sendFormat;
    AudioFormat m_receiveFormat;
    CIsdnG711Path m_g711;
    CIsdnG722Path m_g722;
    CChannelAligner m_aligner;
    CIsdnAptxPath m_aptx;
    CIsdnAptxFramedPath m_aptxFramed[2];  // one channel, two channels
    std::vector<uint8_t> m_half[2];  // the two halves of a split frame
    CStopwatch m_dialTimer;
    std::vector<std::unique_ptr<CCapiApplication>> m_channels;
};
