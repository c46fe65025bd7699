#pragma once
// Coded blocks of a tone from our own codecs, as the audio engine hands them
// to an ISDN transport, and the send formats for them: for the ISDN call
// tests and the ISDN delay benchmark.
#include <cmath>
#include <cstdint>
#include <vector>

#include "codecs/AptxEnhCodec.h"
#include "codecs/AptxStdCodec.h"
#include "codecs/MpegL2Codec.h"
#include "codecs/MpegL3Codec.h"
#include "codecs/g722/G722Codec.h"
#include "common/Codes.h"
#include "common/Records.h"
#include "support/TestFormat.h"

namespace isdn_tones {

// The send format of a coding, its fields in the order of the ISDN matrix rows.
inline AudioFormat MpegSend(int coding, int rate, int mode, int bitRate, int frameBytes) {
    return TestFormat(coding, bitRate, rate, mode, frameBytes);
}

// The codec opened to encode the coding's format; false when it refuses.
inline bool OpenToneEncoder(CCodec& codec, int coding, int rate, int mode, int bitRate) {
    AudioFormat f = MpegSend(coding, rate, mode, bitRate, 0);
    codec.SetEncodeFormat(&f);
    return codec.OpenEncoder() == 1;
}

// The 997 Hz tone (all channels alike) from sample `first` on, as much as pcm holds.
inline void FillTone(std::vector<int16_t>& pcm, int channels, long first, int rate) {
    const size_t frames = pcm.size() / static_cast<size_t>(channels);
    for (size_t s = 0; s < frames; ++s) {
        const double t = static_cast<double>(first + static_cast<long>(s)) / rate;
        for (int c = 0; c < channels; ++c)
            pcm[s * static_cast<size_t>(channels) + static_cast<size_t>(c)] =
                static_cast<int16_t>(8000 * std::sin(2 * M_PI * 997 * t));
    }
}

// Layer II frames of a 997 Hz tone (no two frames alike) from the codec, as the audio engine makes them.
inline std::vector<std::vector<uint8_t>> Layer2Tone(int rate, int mode, int bitRate, int count) {
    CMpegL2Codec codec;
    if (!OpenToneEncoder(codec, CODING_MPEG_L2, rate, mode, bitRate)) return {};
    const int ch = mode == DEVICEMODE_MONO ? 1 : 2;
    std::vector<int16_t> pcm(static_cast<size_t>(1152 * ch));
    std::vector<std::vector<uint8_t>> frames;
    uint8_t buf[2048];
    for (int i = 0; i < count; ++i) {
        FillTone(pcm, ch, i * 1152L, rate);
        int used = 0;
        const int n = codec.Encode(pcm.data(), 2304 * ch, &used, buf, sizeof buf);
        frames.emplace_back(buf, buf + n);
    }
    return frames;
}

// Layer III blocks (one frame, or two MPEG-2 frames) of the codec for a tone.
inline std::vector<std::vector<uint8_t>> Layer3Tone(int rate, int mode, int bitRate, int blockBytes, int count) {
    CMpegL3Codec codec;
    if (!OpenToneEncoder(codec, CODING_MPEG_L3, rate, mode, bitRate)) return {};
    const int ch = mode == DEVICEMODE_MONO ? 1 : 2;
    std::vector<uint8_t> stream;
    std::vector<int16_t> pcm(static_cast<size_t>(576 * ch));
    std::vector<uint8_t> buf(8192);
    for (int g = 0; stream.size() < static_cast<size_t>(blockBytes * (count + 2)); ++g) {
        FillTone(pcm, ch, g * 576L, rate);
        int used = 0;
        const int n = codec.Encode(pcm.data(), 1152 * ch, &used, buf.data(), static_cast<int>(buf.size()));
        if (n > 0) stream.insert(stream.end(), buf.begin(), buf.begin() + n);
    }
    std::vector<std::vector<uint8_t>> blocks;
    for (int i = 0; i < count; ++i) {
        blocks.emplace_back(stream.begin() + i * blockBytes, stream.begin() + (i + 1) * blockBytes);
    }
    return blocks;
}

// Blocks of our G.722 encoder's code for a tone.
inline std::vector<std::vector<uint8_t>> G722Tone(int blockBytes, int count) {
    std::vector<int16_t> pcm(static_cast<size_t>(blockBytes * count * 2));
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 997 * i / 16000.0));
    std::vector<uint8_t> code(pcm.size() / 2);
    CG722Codec codec;
    int used = 0;
    const int made = codec.Encode(pcm.data(), static_cast<int>(pcm.size() * 2), &used, code.data(), static_cast<int>(code.size()));
    if (made != static_cast<int>(code.size())) return {};
    std::vector<std::vector<uint8_t>> blocks;
    for (int i = 0; i < count; ++i) blocks.emplace_back(code.begin() + i * blockBytes, code.begin() + (i + 1) * blockBytes);
    return blocks;
}

// The code words of our apt-X encoder of the kind for a tone, in blocks.
inline std::vector<std::vector<uint8_t>> AptxTone(int coding, int mode, int blockBytes, int count) {
    CAptxStdCodec std;
    CAptxEnhCodec enh;
    CCodec& codec = coding == CODING_APTX ? static_cast<CCodec&>(std) : static_cast<CCodec&>(enh);
    AudioFormat f = MpegSend(coding, 16000, mode, 64000, blockBytes);
    codec.SetEncodeFormat(&f);
    if (codec.OpenEncoder() != 1) return {};
    const int ch = mode == DEVICEMODE_MONO ? 1 : 2;
    std::vector<int16_t> pcm(static_cast<size_t>(blockBytes) * 2 * static_cast<size_t>(count));
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * (i % 2 ? 700 : 1000) * static_cast<double>(i / ch) / 16000.0));
    std::vector<uint8_t> code(pcm.size() / 2);
    int used = 0;
    const int made = codec.Encode(pcm.data(), static_cast<int>(pcm.size() * 2), &used, code.data(), static_cast<int>(code.size()));
    if (made != static_cast<int>(code.size())) return {};
    std::vector<std::vector<uint8_t>> blocks;
    for (int i = 0; i < count; ++i) blocks.emplace_back(code.begin() + i * blockBytes, code.begin() + (i + 1) * blockBytes);
    return blocks;
}

}  // namespace isdn_tones
