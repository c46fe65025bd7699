#include "audio/AcmConverter.h"

#include <algorithm>
#include <cstdio>

#include "audio/WaveDecoderTable.h"

namespace {

// A block beyond this is no WAV coding's: refused before anything divides by it.
constexpr int kMaxBlockAlign = 65535;

std::string TagText(int tag) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(tag) & 0xFFFFu);
    return text;
}

}  // namespace

int CAcmConverter::Refuse(int result, std::string text) {
    m_decoder.reset();
    m_sourceBlock = m_pcmBlock = 0;
    m_lastResult = result;
    m_errorText = std::move(text);
    return 0;
}

int CAcmConverter::Open(const WaveFormatInfo& source) {
    Close();
    m_errorText.clear();
    if (source.channels < 1 || source.channels > 2) {
        return Refuse(kAcmResultInvalidParameter, std::to_string(source.channels) + " channels are not supported.");
    }
    if (source.sampleRate <= 0) return Refuse(kAcmResultInvalidParameter, "The sample rate is 0.");
    if (source.blockAlign <= 0 || source.blockAlign > kMaxBlockAlign) {
        return Refuse(kAcmResultInvalidParameter, "The block alignment " + std::to_string(source.blockAlign) +
                                                      " is not valid.");
    }
    const int tag = ResolveWaveFormatTag(source);
    const WaveDecoderRow* row = FindWaveDecoder(tag);
    if (row == nullptr) return Refuse(kAcmResultNotPossible, "WAV format " + TagText(tag) + " is not supported.");
    WaveFormatInfo resolved = source;
    resolved.formatTag = tag;
    m_decoder = row->make(resolved);
    if (!m_decoder) {
        return Refuse(kAcmResultNotPossible, std::string(row->name) + " with " + std::to_string(source.bitsPerSample) +
                                                 " bits per sample and blocks of " +
                                                 std::to_string(source.blockAlign) + " bytes is not supported.");
    }
    m_sourceBlock = m_decoder->GetSourceBlock();
    m_pcmBlock = m_decoder->GetPcmBlock();
    m_lastResult = kAcmResultOk;
    m_started = 0;
    return 1;
}

int CAcmConverter::GetOutputSize(int sourceBytes) const {
    if (!m_decoder || sourceBytes <= 0) return 0;
    const int64_t bytes = static_cast<int64_t>(sourceBytes / m_sourceBlock) * m_pcmBlock;
    return static_cast<int>(std::min<int64_t>(bytes, INT32_MAX));
}

int CAcmConverter::Convert(const void* source, int sourceBytes, int* consumed, void* pcm, int pcmRoom, int /*last*/) {
    if (consumed) *consumed = 0;
    if (!m_decoder || source == nullptr || pcm == nullptr || sourceBytes <= 0 || pcmRoom <= 0) return 0;
    const int blocks = std::min(sourceBytes / m_sourceBlock, pcmRoom / m_pcmBlock);
    if (blocks <= 0) return 0;
    m_decoder->Decode(static_cast<const uint8_t*>(source), blocks, static_cast<int16_t*>(pcm));
    m_started = 1;
    if (consumed) *consumed = blocks * m_sourceBlock;
    return blocks * m_pcmBlock;
}

int CAcmConverter::Close() {
    m_decoder.reset();
    m_started = 0;
    m_sourceBlock = m_pcmBlock = 0;
    return 1;
}
