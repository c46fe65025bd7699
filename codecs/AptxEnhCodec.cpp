#include "codecs/AptxEnhCodec.h"

#include "codecs/AptxStdCodec.h"

CAptxEnhCodec::~CAptxEnhCodec() {
    AptxEnhEncoderFree(m_encoder);
    AptxEnhDecoderFree(m_decoder);
}

int CAptxEnhCodec::GetDecodeFrameSize(const AudioFormat* format) { return AptxFrameSize(format); }
int CAptxEnhCodec::GetEncodeFrameSize(const AudioFormat* format) { return AptxFrameSize(format); }

void CAptxEnhCodec::SetDecodeFormat(const AudioFormat* format) {
    if (!format) return;
    const int ch = AptxChannels(format);
    m_decoderFormat = AptxEnhFormat(ch, 16);
    m_decoderOptionWord = 0;
    m_decoderStepBytes = 2 * ch;
}

void CAptxEnhCodec::SetEncodeFormat(const AudioFormat* format) {
    if (!format) return;
    const int ch = AptxChannels(format);
    m_encoderFormat = AptxEnhFormat(ch, 16);
    m_encoderOptionWord = 0;
    m_encoderStepBytes = 2 * ch;
}

void CAptxEnhCodec::CloseDecoder() {
    AptxEnhDecoderFree(m_decoder);
    m_decoder = nullptr;
}

int CAptxEnhCodec::OpenDecoder() {
    CloseDecoder();
    m_decoder = AptxEnhDecoderCreate(0, m_decoderFormat, m_decoderOptionWord);
    if (!m_decoder) return 0;
    for (uint8_t& b : m_decoderUser) b = 0;
    m_counters[0] = m_counters[1] = 0;
    return 1;
}

void CAptxEnhCodec::CloseEncoder() {
    AptxEnhEncoderFree(m_encoder);
    m_encoder = nullptr;
}

int CAptxEnhCodec::OpenEncoder() {
    CloseEncoder();
    m_encoder = AptxEnhEncoderCreate(0, m_encoderFormat, m_encoderOptionWord);
    if (!m_encoder) return 0;
    for (uint8_t& b : m_encoderUser) b = 0;
    return 1;
}

int CAptxEnhCodec::Decode(const uint8_t* coded, int codedBytes, int* consumed, int16_t* pcm, int pcmRoom) {
    if (consumed) *consumed = 0;
    if (!m_decoder || !coded || !pcm || codedBytes <= 0 || pcmRoom <= 0) return 0;
    const int ch = m_decoderFormat & 0xFFFF;
    const int step = m_decoderStepBytes;
    int steps = codedBytes / step;
    if ((pcmRoom / 8) / ch < steps) steps = (pcmRoom / 8) / ch;
    int pos = 0;
    if (m_counters[0]) {  // a realignment that fell on the end of the last block
        pos = 1;
        m_counters[0] = 0;
    }
    int produced = 0;
    for (int s = 0; s < steps && codedBytes - pos >= step; ++s) {
        uint8_t words[4];
        for (int i = 0; i < step; i += 2) {
            words[i] = coded[pos + i + 1];
            words[i + 1] = coded[pos + i];
        }
        int32_t samples[8];
        if (AptxEnhDecode(m_decoder, samples, words, m_decoderUser) != 0) return 0;
        pos += step;
        if (AptxEnhIsSynced(m_decoder) != 1) continue;
        // Whole words on the connection put every code word at a multiple of
        // 16 bits. A lock half a word off means a byte was lost and the swap
        // now pairs the high byte of one word with the low byte of the next:
        // the lock holds on that, but the audio is noise. Skip one byte so the
        // pairs match again, and search afresh.
        const AptxEnhSyncRecord* record = AptxEnhGetSyncRecord(m_decoder, 0);
        if (record && record->position % 16 == 8) {
            if (pos < codedBytes)
                ++pos;
            else
                m_counters[0] = 1;
            ++m_counters[1];
            AptxEnhDecoderInit(m_decoder, 0, m_decoderFormat);
            continue;
        }
        int16_t* out = pcm + 4 * ch * produced;
        for (int i = 0; i < 4 * ch; ++i) out[i] = static_cast<int16_t>(samples[i] >> 16);
        ++produced;
    }
    if (consumed) *consumed = pos;
    return 8 * ch * produced;
}

int CAptxEnhCodec::Encode(const int16_t* pcm, int pcmBytes, int* consumed, uint8_t* coded, int codedRoom) {
    if (consumed) *consumed = 0;
    if (!m_encoder || !pcm || !coded || pcmBytes <= 0 || codedRoom <= 0) return 0;
    const int ch = m_encoderFormat & 0xFFFF;
    const int step = m_encoderStepBytes;
    int steps = (pcmBytes / 8) / ch;
    if (codedRoom / step < steps) steps = codedRoom / step;
    for (int s = 0; s < steps; ++s) {
        int32_t samples[8];
        for (int i = 0; i < 4 * ch; ++i) samples[i] = pcm[4 * ch * s + i] * 65536;
        uint8_t* out = coded + step * s;
        if (AptxEnhEncode(m_encoder, samples, out, m_encoderUser) != 0) return 0;
        for (int i = 0; i < step; i += 2) {
            const uint8_t high = out[i];
            out[i] = out[i + 1];
            out[i + 1] = high;
        }
    }
    if (consumed) *consumed = steps * 8 * ch;
    return steps * step;
}
