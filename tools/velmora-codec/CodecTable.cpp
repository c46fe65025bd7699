#include "tools/velmora-codec/CodecTable.h"

#include "codecs/AptxEnhCodec.h"
#include "codecs/AptxStdCodec.h"
#include "codecs/g711/G711Codec.h"
#include "codecs/g722/G722Codec.h"

namespace {

bool IsMono(const AudioFormat& f) {
    return f.deviceMode == DEVICEMODE_MONO || f.deviceMode == DEVICEMODE_MONO_MIX;
}

template <class T>
CCodec* Make() {
    static T codec;  // the engine, too, holds one object per codec for its life
    return &codec;
}

// The fallback frame sizes of the format negotiation (FastCPU off).
int Frame192(const AudioFormat&) { return 192; }

const char* RefuseG711(const AudioFormat& f) {
    if (f.sampleRate != 8000) return "G.711 runs at 8000 Hz only";
    if (!IsMono(f)) return "G.711 codes one channel only (mode 10 or 11)";
    return "";
}

const char* RefuseG722(const AudioFormat& f) {
    if (f.sampleRate != 16000) return "G.722 runs at 16000 Hz only";
    if (!IsMono(f)) return "G.722 codes one channel only (mode 10 or 11)";
    return "";
}

// apt-X: 192 coded bytes per block in mono, 384 otherwise.
int FrameAptx(const AudioFormat& f) { return IsMono(f) ? 192 : 384; }

const char* RefuseAptx(const AudioFormat& f) {
    if (f.sampleRate <= 0) return "apt-X needs a sample rate";
    return "";
}

const CodecEntry kEntries[] = {
    {CODING_G711_ALAW, "G.711 A-law", Make<CG711Codec>, 8000, DEVICEMODE_MONO, Frame192, RefuseG711},
    {CODING_G711_ULAW, "G.711 mu-law", Make<CG711Codec>, 8000, DEVICEMODE_MONO, Frame192, RefuseG711},
    {CODING_G722, "G.722", Make<CG722Codec>, 16000, DEVICEMODE_MONO, Frame192, RefuseG722},
    {CODING_APTX, "apt-X", Make<CAptxStdCodec>, 48000, DEVICEMODE_STEREO, FrameAptx, RefuseAptx},
    {CODING_APTX_ENH, "enhanced apt-X", Make<CAptxEnhCodec>, 48000, DEVICEMODE_STEREO, FrameAptx, RefuseAptx},
};

}  // namespace

const CodecEntry* FindCodecEntry(int codingType) {
    for (const CodecEntry& e : kEntries) {
        if (e.codingType == codingType) return &e;
    }
    return nullptr;
}

const CodecEntry* CodecEntries(int* count) {
    *count = static_cast<int>(sizeof(kEntries) / sizeof(kEntries[0]));
    return kEntries;
}
