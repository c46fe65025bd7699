#pragma once
// Decodes a compressed WAV format to 16-bit PCM with the same channel count
// and sample rate, for the library import's WAV reader. The codings come from
// our own decoder table (no system codec manager): PCM of other widths,
// A-law, mu-law, IMA and Microsoft ADPCM. Anything else is refused at Open
// with a message naming the format. One owner thread.
#include <cstdint>
#include <memory>
#include <string>

#include "audio/WaveDecoder.h"
#include "audio/WaveFormatInfo.h"

constexpr int kAcmResultOk = 0;
constexpr int kAcmResultInvalidParameter = 11;  // a format no coding can have
constexpr int kAcmResultNotPossible = 512;      // a coding or layout we do not convert

class CAcmConverter {
public:
    CAcmConverter() = default;
    ~CAcmConverter() { Close(); }
    CAcmConverter(const CAcmConverter&) = delete;
    CAcmConverter& operator=(const CAcmConverter&) = delete;

    // 1 when the format can be converted; 0 with GetLastResult and
    // GetErrorText telling why.
    int Open(const WaveFormatInfo& source);
    // PCM bytes that `sourceBytes` give (whole blocks); 0 when closed.
    int GetOutputSize(int sourceBytes) const;
    // PCM bytes written; *consumed receives the source bytes used. Whole
    // source blocks only, as many as both sides hold. `last` marks the end of
    // the source (a partial block there is left unconverted).
    int Convert(const void* source, int sourceBytes, int* consumed, void* pcm, int pcmRoom, int last);
    int Close();

    int GetLastResult() const { return m_lastResult; }
    const std::string& GetErrorText() const { return m_errorText; }
    int GetSourceBlock() const { return m_sourceBlock; }
    int GetPcmBlock() const { return m_pcmBlock; }
    // 1 until the first conversion after Open.
    int IsAtStart() const { return m_started ? 0 : 1; }

private:
    int Refuse(int result, std::string text);

    int m_lastResult = kAcmResultOk;
    int m_started = 0;
    int m_sourceBlock = 0;
    int m_pcmBlock = 0;
    std::unique_ptr<CWaveDecoder> m_decoder;
    std::string m_errorText;
};
