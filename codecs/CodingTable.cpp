#include "codecs/CodingTable.h"

#include "codecs/AptxEnhCodec.h"
#include "codecs/AptxStdCodec.h"
#include "codecs/MpegL2Codec.h"
#include "codecs/MpegL3Codec.h"
#include "codecs/g711/G711Codec.h"
#include "codecs/g722/G722Codec.h"
#include "common/MpegHeader.h"

namespace {

constexpr uint32_t kIp = TRANSPORT_TCP | TRANSPORT_MULTICAST;
constexpr uint32_t kAnyTransport = kIp | TRANSPORT_ISDN;

bool IsMono(const AudioFormat& f) { return f.deviceMode == DEVICEMODE_MONO; }

// ---- PCM: 16-bit samples, 1152 per channel a frame

int PcmFrame(const AudioFormat& f, int) { return IsMono(f) ? 2304 : 4608; }

uint32_t PcmDuration(const AudioFormat& f) {
    // A format arrives from dialogs, files and the peer: a rate of 0 (or a
    // negative one) must give 0, never a division by zero.
    const int64_t rate = f.sampleRate;
    if (rate <= 0 || f.frameBytes <= 0) return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(f.frameBytes) * 1000 / rate / 2);
}

int64_t PcmChannelBitRate(const AudioFormat& f) { return static_cast<int64_t>(f.sampleRate) * 16; }

// ---- G.711 and G.722: 24 ms frames

int G711Frame(const AudioFormat& f, int fastCpu) {
    if (f.frameBytes > 0) return f.frameBytes;
    return fastCpu ? 96 : 192;
}

int G722Frame(const AudioFormat& f, int fastCpu) {
    if (f.frameBytes > 0) return f.frameBytes;
    return (f.sampleRate / 2000) * (fastCpu ? 8 : 24);
}

uint32_t Duration24(const AudioFormat&) { return 24; }

int64_t G711ChannelBitRate(const AudioFormat&) { return 64000; }
int64_t G722ChannelBitRate(const AudioFormat& f) { return static_cast<int64_t>(f.sampleRate) * 4; }

// ---- MPEG: the call moves blocks of 1152 samples per channel (two
// 576-sample frames of MPEG-2 Layer III make one block)

int MpegFrame(const AudioFormat& f, int) { return MpegBytesPer1152Samples(f.bitRate, f.sampleRate); }
uint32_t MpegDuration(const AudioFormat& f) { return MpegMsPer1152Samples(f.sampleRate); }

// ---- apt-X: 4 bits per sample and channel

int AptxFrame(const AudioFormat& f, int) {
    if (f.frameBytes > 0) return f.frameBytes;
    return IsMono(f) ? 192 : 384;
}

uint32_t AptxDuration(const AudioFormat& f) {
    const int64_t rate = f.sampleRate;
    if (rate <= 0 || f.frameBytes <= 0) return 0;
    // 64 bits: the 32-bit product of the original wraps above about 1 MB.
    return static_cast<uint32_t>(static_cast<uint64_t>(f.frameBytes) * 4000u / static_cast<uint64_t>(rate));
}

int64_t AptxChannelBitRate(const AudioFormat& f) {
    if (f.sampleRate == 15754) return 64000;
    if (f.sampleRate == 31508) return 128000;
    return static_cast<int64_t>(f.sampleRate) * 4;
}

constexpr int kG722ReceiveChunk = 1536;

// ---- send room

// A padded frame is one byte longer than frameBytes, and the call takes
// frameBytes at a time: the next frame must fit behind what is left of the one before.
int PaddedFramePair(int frameBytes) { return 2 * frameBytes + 1; }

// Frames leave the bit reservoir in bursts: room for the longest frame there is.
int LongestLayer3Frame(int) { return 2880; }

// clang-format off
const CodingDescriptor kRows[] = {
    // type              name              status      mpeg   frame      duration      mode                    fixed rate, bit rate, always   channel bit rate     request over    TCP chunk          send room          codec
    {CODING_PCM,       "PCM",            "PCM ",     false, PcmFrame,  PcmDuration,  ModeRule::kMonoOrStereo, 0,     0,     false, PcmChannelBitRate,  kIp,            0,                 nullptr,            {}},
    {CODING_G711_ALAW, "G.711 A-law",    "G.711 ",   false, G711Frame, Duration24,   ModeRule::kMono,         8000,  64000, true,  G711ChannelBitRate, TRANSPORT_ISDN, 0,                 nullptr,            kCodecOf<CG711Codec>},
    {CODING_G711_ULAW, "G.711 mu-law",   "G.711 ",   false, G711Frame, Duration24,   ModeRule::kMono,         8000,  64000, true,  G711ChannelBitRate, TRANSPORT_ISDN, 0,                 nullptr,            kCodecOf<CG711Codec>},
    {CODING_G722,      "G.722",          "G.722 ",   false, G722Frame, Duration24,   ModeRule::kMono,         16000, 64000, false, G722ChannelBitRate, TRANSPORT_ISDN, kG722ReceiveChunk, nullptr,            kCodecOf<CG722Codec>},
    {CODING_MPEG_L1,   "MPEG Layer I",   "MP-L1 ",   true,  nullptr,   MpegDuration, ModeRule::kMpegModes,    0,     0,     false, nullptr,            0,              0,                 nullptr,            {}},
    {CODING_MPEG_L2,   "MPEG Layer II",  "MP-L2 ",   true,  MpegFrame, MpegDuration, ModeRule::kMpegModes,    0,     0,     false, nullptr,            kAnyTransport,  0,                 PaddedFramePair,    kCodecOf<CMpegL2Codec>},
    {CODING_MPEG_L3,   "MPEG Layer III", "MP-L3 ",   true,  MpegFrame, MpegDuration, ModeRule::kMpegModes,    0,     0,     false, nullptr,            kAnyTransport,  0,                 LongestLayer3Frame, kCodecOf<CMpegL3Codec>},
    {CODING_APTX,      "apt-X",          "APTx ",    false, AptxFrame, AptxDuration, ModeRule::kMonoOrStereo, 0,     0,     false, AptxChannelBitRate, 0,              0,                 nullptr,            kCodecOf<CAptxStdCodec>},
    {CODING_APTX_ENH,  "enhanced apt-X", "EnhAPTx ", false, AptxFrame, AptxDuration, ModeRule::kMonoOrStereo, 0,     0,     false, AptxChannelBitRate, 0,              0,                 nullptr,            kCodecOf<CAptxEnhCodec>},
};
// clang-format on

}  // namespace

std::span<const CodingDescriptor> CodingTable() { return kRows; }

const CodingDescriptor* FindCoding(int codingType) {
    for (const CodingDescriptor& row : kRows) {
        if (row.codingType == codingType) return &row;
    }
    return nullptr;
}
