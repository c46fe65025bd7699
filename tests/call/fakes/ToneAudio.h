#pragma once
// A stand-in for the audio engine behind the call engine's audio seam: its
// "microphone" is a clocked 48 kHz tone (left f, right 1.5 f) or a click
// train, converted to the call's rate as a device would; its "loudspeaker"
// converts what arrives back to 48 kHz and records it with the time each frame
// would reach the ear. PCM passes straight through; every other coding type
// goes through the codec object its row of the coding table makes, driven as the audio engine
// drives them (format, open, frame size; one frame encoded and one block
// decoded per pass, FIFOs bounded at the codec's units). What a station heard
// stays in its CToneStation across the audio engines the call engine makes.
//
// Threads: the call engine's worker drives the audio objects; tests read the
// station's records under its lock (or after the engines stopped).
#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/SampleRateConverter.h"
#include "call/CallAudio.h"
#include "codecs/CodingTable.h"
#include "common/Codes.h"
#include "platform/Clock.h"

struct CToneStation {
    // Set before a call.
    double toneHz = 1000.0;
    double toneLevel = 0.5;  // peak, fraction of full scale
    int clickEveryMs = 0;    // > 0: clicks (one full-scale sample) instead of a tone
    static constexpr int kDeviceRate = 48000;

    // Filled by the audio engines of this station.
    std::mutex lock;
    std::condition_variable playedMore;  // notified under `lock` whenever frames were played
    std::vector<int16_t> played;      // interleaved, kDeviceRate, playedChannels
    std::vector<double> earTimeMs;    // per played frame: when it reached the ear
    std::vector<uint32_t> playbackCallsMs;  // when the worker asked for playback
    int playedChannels = 0;
    std::vector<double> clickMouthMs;  // when each click left the mouth
    std::atomic<int> decoderOpens{0};
    std::atomic<int> encoderOpens{0};
    std::atomic<int> failReceiveFormat{0};  // tests: SetReceiveFormat fails
    std::atomic<int> failInit{0};           // tests: Init fails
    std::atomic<int> clipPolls{0};          // clip: position queries so far
    std::atomic<int> clipFinishAfter{0};    // clip: finished from this many queries on (0 = never)
    std::string clipLoaded;                 // worker only
    AudioFormat lastReceiveFormat;
    AudioFormat lastSendFormat;

    void Clear() {
        std::lock_guard<std::mutex> g(lock);
        played.clear();
        earTimeMs.clear();
        playbackCallsMs.clear();
        clickMouthMs.clear();
        playedChannels = 0;
    }
};

class CToneAudio : public CCallAudio {
public:
    explicit CToneAudio(std::shared_ptr<CToneStation> station) : m_station(std::move(station)) {}

    static CallAudioFactory Factory(std::shared_ptr<CToneStation> station) {
        return [station]() -> std::unique_ptr<CCallAudio> { return std::make_unique<CToneAudio>(station); };
    }

    int Init(int) override {
        if (m_station->failInit.load()) return 0;
        m_send.assign(kFifoBytes / 2, 0);
        m_receive.assign(kFifoBytes / 2, 0);
        m_scratch.assign(kFifoBytes, 0);
        m_converted.assign(kFifoBytes * 4, 0);
        m_capture.assign(kFifoBytes / 2, 0);
        m_decoded.assign(kFifoBytes / 2, 0);
        return 1;
    }
    int GetLastError(std::string& out) override {
        out = m_error;
        return m_error.empty() ? 0 : 1;
    }
    void ReloadDeviceSettings() override {}
    int StartAsio() override { return 1; }

    void SetSendFormat(const AudioFormat* f) override { m_sendFormat = *f; }
    int OpenEncoder() override {
        if (m_sendFormat.codingType == 0) return 0;
        CloseEncoder();
        if (m_sendFormat.direction == DIRECTION_RECEIVE_ONLY) return 1;
        if (m_sendFormat.frameBytes <= 0 || m_sendFormat.frameBytes > kFifoBytes / 2) {
            m_error = "Test audio: frame too large";
            return 0;
        }
        m_sendLimit = kFifoBytes;
        if (m_sendFormat.codingType != CODING_PCM) {
            CCodec* codec = CodecFor(m_sendFormat.codingType);
            if (codec == nullptr) {
                m_error = "Test audio: no codec";
                return 0;
            }
            codec->SetEncodeFormat(&m_sendFormat);
            codec->OpenEncoder();
            const int n = codec->GetEncodeFrameSize(&m_sendFormat);
            if (n <= 0 || n > kFifoBytes) {
                codec->CloseEncoder();
                m_error = "Test audio: codec refused the format";
                return 0;
            }
            m_encoder = codec;
            m_encodeUnit = n;
            const CodingDescriptor* row = FindCoding(m_sendFormat.codingType);
            m_sendLimit = row && row->sendRoom ? row->sendRoom(m_sendFormat.frameBytes) : m_sendFormat.frameBytes;
        }
        m_sendChannels = ChannelsOfDeviceMode(m_sendFormat.deviceMode);
        m_sendConvert = m_sendFormat.sampleRate != CToneStation::kDeviceRate;
        if (m_sendConvert && !m_captureSrc.Init(CToneStation::kDeviceRate, m_sendChannels, m_sendFormat.sampleRate,
                                                m_sendChannels, 96)) {
            m_error = "Test audio: no converter";
            return 0;
        }
        m_captureStart = timeGetTime();
        m_framesMade = 0;
        m_toneFrames = 0;
        m_sendFill = 0;
        m_captureFill = 0;
        m_encoding = true;
        m_station->encoderOpens.fetch_add(1);
        std::lock_guard<std::mutex> g(m_station->lock);
        m_station->lastSendFormat = m_sendFormat;
        return 1;
    }
    void CloseEncoder() override {
        if (m_encoder) m_encoder->CloseEncoder();
        m_encoder = nullptr;
        m_encoding = false;
        m_sendFill = 0;
        m_captureFill = 0;
    }
    int ChangeSendFormat(const AudioFormat* f) override {
        if (f->codingType == 0) {
            CloseEncoder();
            m_sendFormat = *f;
            return 1;
        }
        if (m_encoding && (f->sampleRate != m_sendFormat.sampleRate || f->codingType != m_sendFormat.codingType ||
                           f->bitRate != m_sendFormat.bitRate ||
                           (f->deviceMode == DEVICEMODE_MONO) != (m_sendFormat.deviceMode == DEVICEMODE_MONO)))
            CloseEncoder();
        m_sendFormat = *f;
        return m_encoding ? 1 : OpenEncoder();
    }
    int SetReceiveFormat(const AudioFormat* f, int* changed) override {
        *changed = 0;
        if (m_station->failReceiveFormat.load()) {
            m_error = "Output device error: test";
            return 0;
        }
        if (f->direction == DIRECTION_SEND_ONLY) {
            CloseDecoder();
            return 1;
        }
        if (f->codingType == 0) {
            CloseDecoder();
            *changed = 1;
            return 1;
        }
        if (f->sampleRate != m_receiveFormat.sampleRate ||
            (f->deviceMode == DEVICEMODE_MONO) != (m_receiveFormat.deviceMode == DEVICEMODE_MONO))
            CloseDecoder();
        if (!m_decoding) {
            *changed = 1;
            m_receiveFormat = *f;
            return OpenDecoder();
        }
        if (f->codingType != m_receiveFormat.codingType) {
            *changed = 1;
            m_receiveFormat = *f;
            return OpenDecoder();
        }
        m_receiveFormat = *f;
        return 1;
    }
    void CloseDecoder() override {
        if (m_decoder) m_decoder->CloseDecoder();
        m_decoder = nullptr;
        m_decoding = false;
        m_receiveFill = 0;
    }

    void EncodeCapture() override {
        if (!m_encoding) return;
        // The microphone delivers what the clock says it has captured.
        const int64_t due = static_cast<int64_t>(timeGetTime() - m_captureStart) * CToneStation::kDeviceRate / 1000;
        // Long without a pass: what the FIFO could not have held is lost. The
        // tone goes on from the last frame made, so that a machine too busy
        // to run the worker costs the call time but never breaks the tone.
        if (due - m_framesMade > kMakeFrames * 8) m_framesMade = due - kMakeFrames * 8;
        int64_t frames = due - m_framesMade;
        const int ch = m_sendChannels;
        // PCM goes straight to the send FIFO, anything else waits in the
        // capture FIFO for the encoder. What a full FIFO cannot take is lost,
        // as an overrun would lose it.
        std::vector<int16_t>& fifo = m_encoder ? m_capture : m_send;
        int& fill = m_encoder ? m_captureFill : m_sendFill;
        while (frames > 0) {
            // Converted audio is never longer than the 48 kHz it came from.
            const int fit = (kFifoBytes - fill) / (ch * 2);
            const int n = static_cast<int>(std::min<int64_t>({frames, kMakeFrames, fit}));
            if (n <= 0) {
                m_framesMade += frames;
                break;
            }
            MakeCapture(m_scratch.data(), n);
            frames -= n;
            const int16_t* pcm = m_scratch.data();
            int bytes = n * ch * 2;
            if (m_sendConvert) {
                int consumed = 0;
                bytes = m_captureSrc.Convert(m_scratch.data(), bytes, &consumed, m_converted.data(),
                                             static_cast<int>(m_converted.size() * 2));
                pcm = m_converted.data();
            }
            bytes = std::min(bytes, kFifoBytes - fill);
            std::memcpy(reinterpret_cast<uint8_t*>(fifo.data()) + fill, pcm, static_cast<size_t>(bytes));
            fill += bytes;
        }
        // One frame per pass, and only when the send FIFO has room for it.
        if (!m_encoder || m_captureFill < m_encodeUnit || m_sendLimit - m_sendFill < m_sendFormat.frameBytes) return;
        const int room = m_sendLimit - m_sendFill;
        int consumed = 0;
        int produced = m_encoder->Encode(m_capture.data(), m_captureFill, &consumed,
                                         reinterpret_cast<uint8_t*>(m_send.data()) + m_sendFill, room);
        produced = std::clamp(produced, 0, room);
        consumed = std::clamp(consumed, 0, m_captureFill);
        m_sendFill += produced;
        Take(m_capture, m_captureFill, nullptr, consumed);
    }
    void ProcessPlayback() override {
        {
            std::lock_guard<std::mutex> g(m_station->lock);
            if (m_station->playbackCallsMs.size() < kMaxPlayedValues) m_station->playbackCallsMs.push_back(timeGetTime());
        }
        if (!m_decoding) return;
        const int ch = ChannelsOfDeviceMode(m_receiveFormat.deviceMode);
        if (m_decoder) {
            // One coded block per pass, as the engine decodes.
            const int unit = m_receiveFormat.frameBytes;
            if (unit <= 0 || m_receiveFill < unit) return;
            const int room = m_decodeUnit + 4;
            int consumed = 0;
            int produced = m_decoder->Decode(reinterpret_cast<const uint8_t*>(m_receive.data()), unit, &consumed,
                                             m_decoded.data(), room);
            produced = std::clamp(produced, 0, room);
            consumed = std::clamp(consumed, 0, m_receiveFill);
            Take(m_receive, m_receiveFill, nullptr, consumed);
            Play(m_decoded.data(), produced - produced % (2 * ch), ch);
            return;
        }
        if (m_receiveFill < 4) return;
        const int usable = m_receiveFill - m_receiveFill % (2 * ch);
        Play(m_receive.data(), usable, ch);
        Take(m_receive, m_receiveFill, nullptr, usable);
    }

private:
    void Play(const int16_t* in, int usable, int ch) {
        if (usable <= 0) return;
        const int16_t* pcm = in;
        int bytes = usable;
        if (m_receiveConvert) {
            int consumed = 0;
            bytes = m_playSrc.Convert(in, usable, &consumed, m_converted.data(),
                                      static_cast<int>(m_converted.size() * 2));
            pcm = m_converted.data();
        }
        const int frames = bytes / (2 * ch);
        int peak = 0;
        for (int i = 0; i < frames * ch; ++i) peak = std::max(peak, std::abs(static_cast<int>(pcm[i])));
        m_playPeak = peak;
        const double now = timeGetTime();
        std::lock_guard<std::mutex> g(m_station->lock);
        m_station->playedChannels = ch;
        if (m_earTime < now) m_earTime = now;
        for (int i = 0; i < frames; ++i) {
            if (m_station->played.size() + ch > kMaxPlayedValues) break;
            for (int c = 0; c < ch; ++c) m_station->played.push_back(pcm[i * ch + c]);
            m_station->earTimeMs.push_back(m_earTime);
            m_earTime += 1000.0 / CToneStation::kDeviceRate;
        }
        m_station->playedMore.notify_all();
    }

public:
    int GetSendFill() override { return m_sendFill; }
    int GetSendData(uint8_t* dst, int n) override {
        n = std::min(n, m_sendFill);
        int peak = 0;
        const int16_t* s = m_send.data();
        for (int i = 0; i < n / 2; ++i) peak = std::max(peak, std::abs(static_cast<int>(s[i])));
        m_capturePeak = peak;
        Take(m_send, m_sendFill, dst, n);
        return n;
    }
    int GetReceiveSpace() override { return m_decoding ? ReceiveLimit() - m_receiveFill : 0; }
    int PutReceiveData(const uint8_t* src, int n) override {
        if (n < 0 || n > ReceiveLimit() - m_receiveFill) return 0;
        std::memcpy(reinterpret_cast<uint8_t*>(m_receive.data()) + m_receiveFill, src, static_cast<size_t>(n));
        m_receiveFill += n;
        return 1;
    }
    void FlushCapture() override { m_sendFill = 0; }
    int StretchCapture() override { return 0; }

    void SetDeviceBuffering(int, int, int) override {}
    void SetOutputMute(int) override {}
    void PauseOutput(int) override {}
    void GetLevels(int side, int* left, int* right) override {
        *left = *right = side ? m_capturePeak : m_playPeak;
    }
    void SetPlayLevel(int) override {}
    int SetClipGain(int level) override { return std::abs(level); }
    void SetMicOn(int) override {}
    int LoadClip(const char* path) override {
        m_station->clipLoaded = path;
        return 1;
    }
    int StartClip() override {
        if (m_station->clipLoaded.empty()) return 0;
        m_clipActive = true;
        m_station->clipPolls.store(0);
        return 1;
    }
    int PauseClip() override { return m_clipActive ? 1 : 0; }
    int ResumeClip() override { return m_clipActive ? 1 : 0; }
    int StopClip() override {
        if (!m_clipActive) return 0;
        m_clipActive = false;
        return 1;
    }
    int GetClipPosition(int* playedMs, int* lengthMs) override {
        const int polls = m_station->clipPolls.fetch_add(1) + 1;
        *playedMs = polls * 10;
        *lengthMs = 1000;
        const int after = m_station->clipFinishAfter.load();
        return m_clipActive && after > 0 && polls >= after ? 1 : 0;
    }

private:
    static constexpr int kFifoBytes = 18432;
    static constexpr int kMakeFrames = 480;
    static constexpr size_t kMaxPlayedValues = 48000 * 2 * 20;

    // As the engine: one object per codec class, made by the coding table's
    // row and used both ways; coding types sharing a class share it.
    CCodec* CodecFor(int codingType) {
        const CodingDescriptor* row = FindCoding(codingType);
        if (row == nullptr || row->codec.create == nullptr) return nullptr;
        for (const OwnedCodec& c : m_codecs)
            if (c.maker.create == row->codec.create) return c.codec.get();
        m_codecs.push_back({row->codec, {row->codec.create(), row->codec.destroy}});
        return m_codecs.back().codec.get();
    }
    // A codec's receive FIFO holds one coded block; PCM may queue more.
    int ReceiveLimit() const { return m_decoder ? std::min(m_receiveFormat.frameBytes, kFifoBytes) : kFifoBytes; }

    int OpenDecoder() {
        if (m_decoder) m_decoder->CloseDecoder();
        m_decoder = nullptr;
        if (m_receiveFormat.codingType != CODING_PCM) {
            if (m_receiveFormat.frameBytes <= 0 || m_receiveFormat.frameBytes > kFifoBytes) {
                m_error = "Test audio: frame too large";
                return 0;
            }
            CCodec* codec = CodecFor(m_receiveFormat.codingType);
            if (codec == nullptr) {
                m_error = "Test audio: no codec";
                return 0;
            }
            codec->SetDecodeFormat(&m_receiveFormat);
            codec->OpenDecoder();
            const int n = codec->GetDecodeFrameSize(&m_receiveFormat);
            if (n <= 0 || n + 4 > kFifoBytes) {
                codec->CloseDecoder();
                m_error = "Test audio: codec refused the format";
                return 0;
            }
            m_decoder = codec;
            m_decodeUnit = n;
        }
        const int ch = ChannelsOfDeviceMode(m_receiveFormat.deviceMode);
        m_receiveConvert = m_receiveFormat.sampleRate != CToneStation::kDeviceRate;
        if (m_receiveConvert &&
            !m_playSrc.Init(m_receiveFormat.sampleRate, ch, CToneStation::kDeviceRate, ch, 96)) {
            m_error = "Test audio: no converter";
            return 0;
        }
        m_receiveFill = 0;
        m_decoding = true;
        m_station->decoderOpens.fetch_add(1);
        std::lock_guard<std::mutex> g(m_station->lock);
        m_station->lastReceiveFormat = m_receiveFormat;
        return 1;
    }

    void MakeCapture(int16_t* out, int frames) {
        const double rate = CToneStation::kDeviceRate;
        for (int i = 0; i < frames; ++i, ++m_framesMade, ++m_toneFrames) {
            if (m_station->clickEveryMs > 0) {
                const int64_t period = static_cast<int64_t>(m_station->clickEveryMs) * CToneStation::kDeviceRate / 1000;
                const int16_t v = (m_framesMade % period) == period / 2 ? 30000 : 0;
                if (v) {
                    std::lock_guard<std::mutex> g(m_station->lock);
                    m_station->clickMouthMs.push_back(m_captureStart + m_framesMade * 1000.0 / rate);
                }
                for (int c = 0; c < m_sendChannels; ++c) out[i * m_sendChannels + c] = v;
                continue;
            }
            const double t = static_cast<double>(m_toneFrames) / rate;
            const double peak = m_station->toneLevel * 32767.0;
            out[i * m_sendChannels] = static_cast<int16_t>(std::lround(peak * std::sin(2 * M_PI * m_station->toneHz * t)));
            if (m_sendChannels == 2)
                out[i * 2 + 1] =
                    static_cast<int16_t>(std::lround(peak * std::sin(2 * M_PI * 1.5 * m_station->toneHz * t)));
        }
    }

    // Takes n bytes from the front of a FIFO of `fill` bytes.
    static void Take(std::vector<int16_t>& fifo, int& fill, uint8_t* dst, int n) {
        uint8_t* base = reinterpret_cast<uint8_t*>(fifo.data());
        if (dst) std::memcpy(dst, base, static_cast<size_t>(n));
        std::memmove(base, base + n, static_cast<size_t>(fill - n));
        fill -= n;
    }

    std::shared_ptr<CToneStation> m_station;
    std::string m_error;
    AudioFormat m_sendFormat;
    AudioFormat m_receiveFormat;
    bool m_clipActive = false;
    bool m_encoding = false;
    bool m_decoding = false;
    bool m_sendConvert = false;
    bool m_receiveConvert = false;
    int m_sendChannels = 1;
    uint32_t m_captureStart = 0;
    int64_t m_framesMade = 0;  // the microphone's clock, lost frames included
    int64_t m_toneFrames = 0;  // frames made: the tone's phase
    double m_earTime = 0;
    int m_capturePeak = 0;
    int m_playPeak = 0;
    std::vector<int16_t> m_send, m_receive, m_scratch, m_converted, m_capture, m_decoded;
    int m_sendFill = 0;
    int m_receiveFill = 0;
    int m_captureFill = 0;
    int m_sendLimit = kFifoBytes;
    int m_encodeUnit = 0;
    int m_decodeUnit = 0;
    struct OwnedCodec {
        CodecMaker maker;
        std::unique_ptr<CCodec, void (*)(CCodec*)> codec;
    };
    std::vector<OwnedCodec> m_codecs;  // before the pointers into it
    CCodec* m_encoder = nullptr;
    CCodec* m_decoder = nullptr;
    CSampleRateConverter m_captureSrc;
    CSampleRateConverter m_playSrc;
};
