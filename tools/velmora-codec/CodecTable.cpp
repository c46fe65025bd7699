#include "tools/velmora-codec/CodecTable.h"

#include "codecs/CodingTable.h"
#include "codecs/MpegL2Codec.h"
#include "codecs/MpegL3Codec.h"
#include "codecs/mpeg2/Mp2Frame.h"
#include "mp3enc/engine/L3Engine.h"

namespace {

bool IsMono(const AudioFormat& f) {
    return f.deviceMode == DEVICEMODE_MONO || f.deviceMode == DEVICEMODE_MONO_MIX;
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

// Layer II frames are 144 x bit rate / rate bytes; at 44.1 and 22.05 kHz a
// padded frame is one byte longer, and the longest frame is what a block must
// hold (the codec leaves a following frame's first byte for the next block).
int FrameMpegL2(const AudioFormat& f) {
    if (f.sampleRate <= 0 || f.bitRate <= 0) return 0;
    const int pad = (f.sampleRate == 44100 || f.sampleRate == 22050) ? 1 : 0;
    return static_cast<int>(144LL * f.bitRate / f.sampleRate) + pad;
}

const char* RefuseMpegL2(const AudioFormat& f) {
    if (f.deviceMode == DEVICEMODE_MONO_MIX) return "Layer II takes modes 10, 20, 21 and 22, not 11";
    static CMpegL2Codec probe;
    probe.SetEncodeFormat(&f);
    Mp2HeaderWord word = 0;
    if (!probe.MakeHeader(&word))
        return "Layer II runs at 16000, 22050, 24000, 32000, 44100 or 48000 Hz with a bit rate of its tables "
               "(32-384 kbit/s at 32-48 kHz, 8-160 kbit/s below)";
    if (mp2::ParseHeader(word, false, nullptr) != 0)
        return "the standard forbids this bit rate in this mode (two channels at 32, 48, 56 or 80 kbit/s, one "
               "channel at 224 kbit/s and above)";
    return "";
}

// Layer III blocks are 144 x bit rate / rate bytes, as the call engine sets
// them. The decoder reads a byte stream, so without a bit rate any block size
// serves: the longest frame the tables allow.
int FrameMpegL3(const AudioFormat& f) {
    if (f.sampleRate <= 0) return 0;
    if (f.bitRate <= 0) return 1441;
    return static_cast<int>(144LL * f.bitRate / f.sampleRate);
}

const char* RefuseMpegL3(const AudioFormat& f) {
    if (f.deviceMode == DEVICEMODE_MONO_MIX) return "Layer III takes modes 10, 20, 21 and 22, not 11";
    if (f.bitRate == 0) return "";  // decoding: the stream names its own rate
    static CMpegL3Codec probe;
    probe.SetEncodeFormat(&f);
    const int opened = probe.OpenEncoder();
    probe.CloseEncoder();
    if (!opened)
        return "Layer III runs at 8000 to 48000 Hz (the nine rates of its tables) with 32000-320000 bit/s at "
               "32000 Hz and above, 8000-160000 bit/s below, and at least 8000 bit/s per channel";
    return "";
}

// apt-X: 192 coded bytes per block in mono, 384 otherwise.
int FrameAptx(const AudioFormat& f) { return IsMono(f) ? 192 : 384; }

const char* RefuseAptx(const AudioFormat& f) {
    if (f.sampleRate <= 0) return "apt-X needs a sample rate";
    return "";
}

const CodecEntry kEntries[] = {
    {CODING_G711_ALAW, 8000, DEVICEMODE_MONO, Frame192, RefuseG711, 0},
    {CODING_G711_ULAW, 8000, DEVICEMODE_MONO, Frame192, RefuseG711, 0},
    {CODING_G722, 16000, DEVICEMODE_MONO, Frame192, RefuseG722, 0},
    {CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, FrameMpegL2, RefuseMpegL2, 0},
    {CODING_MPEG_L3, 48000, DEVICEMODE_STEREO, FrameMpegL3, RefuseMpegL3, 8 * 1152 + kL3EngineDelay},
    {CODING_APTX, 48000, DEVICEMODE_STEREO, FrameAptx, RefuseAptx, 0},
    {CODING_APTX_ENH, 48000, DEVICEMODE_STEREO, FrameAptx, RefuseAptx, 0},
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

const char* CodecName(const CodecEntry& entry) { return FindCoding(entry.codingType)->name; }

CodecPtr CreateCodec(const CodecEntry& entry) {
    const CodecMaker& maker = FindCoding(entry.codingType)->codec;
    return CodecPtr(maker.create(), CodecDeleter{maker.destroy});
}
