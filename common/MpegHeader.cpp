#include "common/MpegHeader.h"

#include <initializer_list>

#include "common/MpegHeaderTables.h"

namespace {
using namespace mpeg_header;

// Column of the bit-rate and frame tables: MPEG-2.5 shares MPEG-2's.
int TableColumn(int version) { return version == 1 ? 0 : (version == 2 || version == 25) ? 1 : -1; }
int RateRow(int version) { return version == 1 ? 0 : version == 2 ? 1 : version == 25 ? 2 : -1; }
bool GoodLayer(int layer) { return layer >= 1 && layer <= 3; }
}  // namespace

int MpegBitRateKbps(int version, int layer, int index) {
    const int col = TableColumn(version);
    if (col < 0 || !GoodLayer(layer) || index < 0 || index > 15) return -1;
    return kBitRateKbps[col][layer - 1][index];
}

int MpegBitRateIndex(int version, int layer, int kbps) {
    if (kbps <= 0) return 0;
    for (int i = 1; i < 15; ++i)
        if (MpegBitRateKbps(version, layer, i) == kbps) return i;
    return 0;
}

int MpegSampleRate(int version, int samplingIndex) {
    const int row = RateRow(version);
    if (row < 0 || samplingIndex < 0 || samplingIndex > 3) return -1;
    return kSampleRateHz[row][samplingIndex];
}

bool MpegVersionOfSampleRate(int hz, int* version, int* samplingIndex) {
    for (int v : {1, 2, 25})
        for (int i = 0; i < 3; ++i)
            if (MpegSampleRate(v, i) == hz && hz > 0) {
                if (version) *version = v;
                if (samplingIndex) *samplingIndex = i;
                return true;
            }
    return false;
}

int MpegFrameSamples(int version, int layer) {
    const int col = TableColumn(version);
    if (col < 0 || !GoodLayer(layer)) return 0;
    return kFrameConstants[col][layer - 1].samplesPerChannel;
}

int MpegFrameBytes(int version, int layer, int bitRate, int sampleRate, int padding) {
    const int col = TableColumn(version);
    if (col < 0 || !GoodLayer(layer) || bitRate <= 0 || sampleRate <= 0) return 0;
    const FrameConstants& c = kFrameConstants[col][layer - 1];
    const int64_t slots = static_cast<int64_t>(c.coefficient) * bitRate / sampleRate + (padding ? 1 : 0);
    const int64_t bytes = slots * c.slotBytes;
    return bytes > INT32_MAX ? 0 : static_cast<int>(bytes);
}

uint32_t MpegFrameDurationUs(int version, int layer, int sampleRate) {
    const int samples = MpegFrameSamples(version, layer);
    if (samples <= 0 || sampleRate <= 0) return 0;
    return static_cast<uint32_t>(static_cast<int64_t>(samples) * 1000000 / sampleRate);
}

int MpegBytesPer1152Samples(int bitRate, int sampleRate) {
    // MPEG-1 Layer II frames hold exactly 1152 samples per channel.
    return MpegFrameBytes(1, 2, bitRate, sampleRate, 0);
}

uint32_t MpegMsPer1152Samples(int sampleRate) {
    return MpegFrameDurationUs(1, 2, sampleRate) / 1000;
}

bool ParseMpegHeaderWord(uint32_t w, MpegHeader* out) {
    if ((w >> 21) != 0x7FF) return false;
    const int version = kVersionOfField[(w >> 19) & 3];
    const int layer = kLayerOfField[(w >> 17) & 3];
    const int index = static_cast<int>((w >> 12) & 15);
    const int sampling = static_cast<int>((w >> 10) & 3);
    if (version < 0 || layer < 0) return false;
    const int kbps = MpegBitRateKbps(version, layer, index);
    const int hz = MpegSampleRate(version, sampling);
    if (kbps < 0 || hz <= 0) return false;
    MpegHeader h;
    h.version = version;
    h.layer = layer;
    h.crc = ((w >> 16) & 1) == 0 ? 1 : 0;
    h.bitRateIndex = index;
    h.bitRate = kbps * 1000;
    h.samplingIndex = sampling;
    h.sampleRate = hz;
    h.padding = static_cast<int>((w >> 9) & 1);
    h.privateBit = static_cast<int>((w >> 8) & 1);
    h.mode = static_cast<int>((w >> 6) & 3);
    h.modeExtension = static_cast<int>((w >> 4) & 3);
    h.copyright = static_cast<int>((w >> 3) & 1);
    h.original = static_cast<int>((w >> 2) & 1);
    h.emphasis = static_cast<int>(w & 3);
    h.channels = h.mode == 3 ? 1 : 2;
    h.samplesPerChannel = MpegFrameSamples(version, layer);
    h.frameBytes = MpegFrameBytes(version, layer, h.bitRate, hz, h.padding);
    if (out) *out = h;
    return true;
}

bool ParseMpegHeader(const uint8_t* p, MpegHeader* out) {
    if (!p) return false;
    const uint32_t w = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
                       (static_cast<uint32_t>(p[2]) << 8) | p[3];
    return ParseMpegHeaderWord(w, out);
}
