#pragma once
// The hand-over point between the audio devices, the codecs and the
// connection. Five linear FIFOs in one allocation (send, receive, capture,
// playback, clip scratch); the send pump reads capture, mixes a clip in and
// encodes; the receive pump decodes and feeds the playback device.
//
// Threads: no thread and no lock of its own. Init and destruction run on the
// thread that starts or ends the call engine; everything else on the call
// engine's worker. Device callbacks never call in here.
#include <cstdint>
#include <memory>
#include <string>

#include "audio/AsioDevice.h"
#include "audio/ClipPlayer.h"
#include "audio/ClipSource.h"
#include "audio/EndpointInDevice.h"
#include "audio/EndpointOutDevice.h"
#include "audio/WaveInDevice.h"
#include "audio/WaveOutDevice.h"
#include "codecs/CodingTable.h"
#include "common/Codec.h"
#include "common/Records.h"
#include "common/Settings.h"
#include "common/Translator.h"

class CAudioEngine {
public:
    static constexpr int kFifoBytes = 18432;
    static constexpr int kFifoCount = 5;

    CAudioEngine();
    // Reads its device settings from that file instead of the default one
    // (two stations in one process).
    explicit CAudioEngine(std::string settingsPath);
    ~CAudioEngine();
    CAudioEngine(const CAudioEngine&) = delete;
    CAudioEngine& operator=(const CAudioEngine&) = delete;

    // Set-up.
    int Init(int startFlag);
    int ConfigureWave();
    int ConfigureEndpoints();
    int ConfigureAsio();
    int AllocateFifos();
    void ReloadDeviceSettings();
    int StartAsio();
    int GetLastError(std::string& out) const;

    // Formats and codecs.
    void SetSendFormat(const AudioFormat* format);
    int OpenEncoder();
    void CloseEncoder();
    int ChangeSendFormat(const AudioFormat* format);
    int OpenDecoder();
    void CloseDecoder();
    int SetReceiveFormat(const AudioFormat* format, int* changed);

    // Pumps.
    void EncodeCapture();
    void ReadCapture();
    int GetSendFill() const { return m_sendFill; }
    int GetSendData(uint8_t* dst, int n);
    int GetReceiveSpace() const;
    int PutReceiveData(const uint8_t* src, int n);
    void ProcessPlayback();
    void DecodeReceived();
    void FlushCapture();
    int StretchCapture();

    // Levels, clips and device control.
    void GetLevels(int side, int* left, int* right);
    void SetPlayLevel(int level);
    int SetClipGain(int level);
    void SetMicOn(int flag) { m_micOn = flag; }
    int LoadClip(const char* path);
    int StartClip();
    int PauseClip();
    int ResumeClip();
    int StopClip();
    int GetClipPosition(int* playedMs, int* lengthMs);
    void SetOutputMute(int flag);
    void PauseOutput(int flag);
    void SetDeviceBuffering(int inputMode, int outputMode, int outputAdjust);

    // The engine owns one codec object per codec class of the coding table
    // (both G.711 laws share one); a coding type whose row has none (Layer III
    // until its encoder exists) gets its object from its owner, and tests may
    // replace any codec - for every type of that class. A coding type without
    // a codec object is refused at open.
    void SetCodecObject(int codingType, CCodec* codec);
    void SetClipPlayer(CClipSource* player) { m_clipPlayer = player; }

    // Inspection for the call engine's status and for tests.
    int GetCaptureFill() const { return m_captureFill; }
    int GetPlaybackFill() const { return m_playbackFill; }
    int GetReceiveFill() const { return m_receiveFill; }
    int GetCaptureLimit() const { return m_captureLimit; }
    int GetPlaybackLimit() const { return m_playbackLimit; }
    int GetSendLimit() const { return m_sendLimit; }
    int GetReceiveLimit() const { return m_receiveLimit; }
    int GetEncodeUnit() const { return m_encodeUnit; }
    int GetDecodeUnit() const { return m_decodeUnit; }
    int GetEncodeType() const { return m_encodeType; }
    int GetDecodeType() const { return m_decodeType; }
    uint32_t GetCodingMask() const { return m_codingMask; }
    int GetDeviceKind() const { return m_deviceKind; }
    int GetMp2Processing() const { return m_mp2Processing; }
    CWaveInDevice& WaveIn() { return m_waveIn; }
    CWaveOutDevice& WaveOut() { return m_waveOut; }
    CAsioDevice& Asio() { return m_asio; }
    CEndpointInDevice& EndpointIn() { return m_endpointIn; }
    CEndpointOutDevice& EndpointOut() { return m_endpointOut; }

private:
    uint8_t* Fifo(int index) const { return m_fifoArea.get() + static_cast<size_t>(index) * kFifoBytes; }
    CCodec* CodecFor(int codingType) const;
    void CreateCodecs();
    void DestroyCodecs();
    int CaptureMode() const;
    int OpenPlaybackDevice();
    int ReadCaptureDevice(int16_t* dst, int bytes);
    void ServicePlaybackDevice();
    int WritePlaybackDevice(const int16_t* pcm, int bytes);
    void WriteMonitor(const int16_t* pcm, int bytes);
    void CaptureLevels(int* left, int* right);
    bool AsioHoldsReceive() const;
    void ClosePlaybackDevice();
    int OpenCaptureDevice();
    void CloseCaptureDevice();
    void CloseEncoderSide();
    void CloseDecoderSide();
    void MixClipIntoCapture(int r);
    void FormatRefused(bool output);

    uint32_t m_codingMask = 0;
    int m_decodeType = 0;
    int m_encodeType = 0;
    int m_decodeUnit = 0;
    int m_encodeUnit = 0;
    int m_startFlag = 0;
    int m_monoMix = 0;
    int m_deviceKind = 0;
    int m_clipMode = 10;
    int m_clipRate = 48000;
    int m_clipFinished = 0;
    int m_clipActive = 0;
    int m_clipPaused = 0;
    int m_micOn = 0;
    int m_clipLengthMs = 0;
    int m_clipBytesPlayed = 0;
    int m_sendFill = 0;
    int m_receiveFill = 0;
    int m_captureFill = 0;
    int m_playbackFill = 0;
    int m_sendLimit = 0;
    int m_receiveLimit = 0;
    int m_captureLimit = 0;
    int m_playbackLimit = 0;
    struct FreeGlobal {
        void operator()(uint8_t* p) const;
    };
    std::unique_ptr<uint8_t, FreeGlobal> m_fifoArea;
    AudioFormat m_receiveFormat;
    AudioFormat m_sendFormat;
    std::string m_errorText;
    CSettings m_settings;
    CTranslator m_translator;
    CClipPlayer m_ownClipPlayer;
    CClipSource* m_clipPlayer = &m_ownClipPlayer;  // a test may put another source in
    CWaveInDevice m_waveIn;
    CWaveOutDevice m_waveOut;
    CEndpointInDevice m_endpointIn;
    CEndpointOutDevice m_endpointOut;
    CAsioDevice m_asio;
    int m_mp2Processing = 1;
    static constexpr int kMaxCodings = 16;
    CCodec* m_ownedCodecs[kMaxCodings] = {};  // by row of CodingTable(); freed by the row's maker
    CCodec* m_codecs[kMaxCodings] = {};       // the object each row codes with
    CCodec* m_decoder = nullptr;
    CCodec* m_encoder = nullptr;
};
