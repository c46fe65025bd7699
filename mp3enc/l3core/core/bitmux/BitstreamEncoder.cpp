#include "mp3enc/l3core/core/bitmux/BitstreamEncoder.h"

#include <algorithm>

#include "common/L3Tables.h"
#include "mp3enc/l3core/core/bitmux/FrameFormat.h"
#include "mp3enc/l3core/core/bitmux/PerceptualEntropy.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

int SfbRow(int sampleRate) {
    for (int i = 0; i < 9; ++i)
        if (l3tables::kSfbRateHz[i] == sampleRate) return i;
    return -1;
}

// Hands out the whole bytes the output ring holds, as many as fit.
int TakeBytes(BitstreamEncoder* e, uint8_t* out, int capacity) {
    const int n = std::min(GetBitCount(e->output) / 8, std::max(capacity, 0));
    for (int i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(ReadBits(e->output, 8));
    return n;
}

void Drain(BitstreamEncoder* e, int* byteCount, uint8_t* out, int capacity) {
    DrainFrameQueue(&e->queue, e->output);
    *byteCount = TakeBytes(e, out, capacity);
}

// Writes `count` pending ancillary bytes (or fewer when fewer are pending).
void WriteAncillary(BitstreamEncoder* e, const uint8_t* ancillary, int* pending, int* taken, int count) {
    const int n = std::min(count, *pending);
    for (int i = 0; i < n; ++i) WriteBits(e->main, ancillary[*taken + i], 8);
    *taken += n;
    *pending -= n;
}

void WriteZeros(BitBuffer* b, int bits) {
    for (; bits >= 32; bits -= 32) WriteBits(b, 0, 32);
    WriteBits(b, 0, bits);
}

}  // namespace

EncError* CreateBitstreamEncoder(int sampleRate, int bitRate, int fixedAncillaryBits, int crc, int privateBit,
                                 int copyright, int original, int emphasis, int stereoMode, int paddingMode,
                                 BitstreamEncoder** out) {
    if (!out) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    auto* e = static_cast<BitstreamEncoder*>(AlignedCalloc(1, sizeof(BitstreamEncoder), __FILE__, __LINE__));
    if (!e) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    e->side = CreateBitBuffer(kSideBufferBits);
    e->main = CreateBitBuffer(kMainBufferBits);
    e->output = CreateBitBuffer(kOutputBufferBits);
    EncError* error = nullptr;
    const int row = SfbRow(sampleRate);
    if (!e->side || !e->main || !e->output) {
        error = ErrorCreate(__FILE__, __LINE__, nullptr, "CreateBitBuffer failed()");
    } else if (row < 0) {
        error = ErrorCreate(__FILE__, __LINE__, nullptr, "invalid samplerate");
    } else if (stereoMode < 0 || stereoMode > 3) {
        error = ErrorCreate(__FILE__, __LINE__, nullptr, "erroneous stereo mode");
    } else if (fixedAncillaryBits < 0 || fixedAncillaryBits > 8 * 256) {
        error = ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    }
    if (!error) {
        e->sampleRate = sampleRate;
        e->version = sampleRate > 24000 ? 0 : (sampleRate > 12000 ? 1 : 2);
        e->samplingIndex = row % 3 == 0 ? 2 : (row % 3 == 1 ? 0 : 1);  // rows run 32000, 44100, 48000 per version
        e->longStart = l3tables::kSfbLong[row];
        e->shortStart = l3tables::kSfbShort[row];
        e->stereoMode = stereoMode;
        e->crc = crc ? 1 : 0;
        e->privateBit = privateBit & 1;
        e->copyright = copyright & 1;
        e->original = original & 1;
        e->emphasis = emphasis & 3;
        e->fixedAncillaryBits = fixedAncillaryBits;
        e->frame.paddingMode = std::clamp(paddingMode, 0, 2);
        if (EncError* f = InitBitFrame(&e->frame, bitRate, sampleRate, e->version, kBitFrameMixed))
            error = ErrorChain(__FILE__, __LINE__, nullptr, f);
    }
    if (error) {
        DeleteBitstreamEncoder(e);
        return error;
    }
    e->channels = stereoMode == 3 ? 1 : 2;
    e->granules = e->version == 0 ? 2 : 1;
    e->headerBits = 32;
    e->crcBits = e->crc ? 16 : 0;
    e->sideInfoBits = SideInfoBits(e->version, e->channels);
    e->fixedBits = e->headerBits + e->sideInfoBits + e->crcBits;
    InitFrameQueue(&e->queue, e->side, e->main);
    *out = e;
    return nullptr;
}

int AdvanceBitstreamEncoder(BitstreamEncoder* e, const PsyGranule* granule, int ancillaryBytes, int* budgets) {
    if (!e || !granule || !budgets || granule->channels < 1 || granule->channels > e->channels) return 0;
    const int g = granule->granule;
    if (g < 0 || g >= e->granules) return 0;
    if (g == 0) e->reservedAncillaryBits = 8 * std::clamp(ancillaryBytes, 0, 7);
    for (int c = 0; c < granule->channels; ++c) {
        const PsyGranuleChannel& ch = granule->channel[c];
        const int k = 2 * g + c;
        e->blockType[k] = ch.blockType;
        e->midSide[k] = ch.midSide;
        e->intensity[k] = ch.intensity;
        e->pe[k] = ch.spectrum ? PerceptualEntropy(ch, e->longStart, e->shortStart, e->version != 0) : 0;
    }
    if (g != e->granules - 1) {
        std::copy(e->budget, e->budget + 4, budgets);
        return 1;
    }
    e->modeExtension = 0;
    for (int k = 0; k < 4; ++k) {
        if (k % 2 >= e->channels || k / 2 >= e->granules) continue;
        if (e->midSide[k]) e->modeExtension |= 2;
        if (e->intensity[k]) e->modeExtension |= 1;
    }
    const int meanBits = BeginBitFrame(&e->frame);
    e->frameBits = e->frame.frameBytes * 8;
    e->meanBitsLessFixed = meanBits - e->fixedBits;
    e->bitsAvailable = e->meanBitsLessFixed - e->reservedAncillaryBits - e->fixedAncillaryBits;
    const int fill = e->frame.fillAtStart, limit = e->frame.limitAtStart;
    DemandParam* longSet = granule->demandLong;
    DemandParam* shortSet = granule->demandShort;
    for (int gr = 0; gr < e->granules; ++gr) {
        const int* k = &e->pe[2 * gr];
        int joint = 0, peSum = 0;
        for (int c = 0; c < e->channels; ++c)
            if (e->midSide[2 * gr + c] || e->intensity[2 * gr + c]) {
                ++joint;
                peSum += k[c];
            }
        const bool haveSets = longSet && shortSet;
        if (joint > 0) {
            const float f = haveSets ? DemandFactor(longSet, shortSet, e->blockType[2 * gr], peSum / joint, fill, limit)
                                     : 0.0f;
            for (int c = 0; c < joint; ++c) e->demand[2 * gr + c] = f;
        }
        for (int c = joint; c < e->channels; ++c)
            e->demand[2 * gr + c] =
                haveSets ? DemandFactor(longSet, shortSet, e->blockType[2 * gr + c], k[c], fill, limit) : 0.0f;
    }
    long long sum = 0;
    const int shares = e->channels * e->granules;
    for (int gr = 0; gr < e->granules; ++gr)
        for (int c = 0; c < e->channels; ++c) {
            const int k = 2 * gr + c;
            int b = static_cast<int>(static_cast<float>(e->bitsAvailable) +
                                     static_cast<float>(e->meanBitsLessFixed) * e->demand[k]);
            if (b <= 0) b = 1;
            e->budget[k] = b / shares;
            sum += e->budget[k];
        }
    const long long room = static_cast<long long>(e->bitsAvailable) + fill;
    if (sum > room)
        for (int gr = 0; gr < e->granules; ++gr)
            for (int c = 0; c < e->channels; ++c) {
                const int k = 2 * gr + c;
                e->budget[k] = static_cast<int>(static_cast<double>(e->budget[k]) * static_cast<double>(room) /
                                                static_cast<double>(sum));
            }
    std::copy(e->budget, e->budget + 4, budgets);
    return 1;
}

int WriteBitstream(BitstreamEncoder* e, const QuantFrame* q, const uint8_t* ancillary, int* pending, int* byteCount,
                   uint8_t* out, int outCapacity) {
    *byteCount = 0;
    if (!q || !q->complete) return 1;
    int n = (pending && ancillary) ? std::max(*pending, 0) : 0;
    e->usedBits = e->fixedAncillaryBits + e->reservedAncillaryBits;
    for (int gr = 0; gr < e->granules; ++gr)
        for (int c = 0; c < e->channels; ++c) e->usedBits += q->part23Length[2 * gr + c];
    e->stuffingBits = EndBitFrame(&e->frame, e->meanBitsLessFixed - e->usedBits);

    const int headerPosition = SeekWritePosition(e->side, 0);
    FrameHeaderFields header{e->version, e->crc, e->frame.bitRateIndex, e->samplingIndex, e->frame.paddingBit,
                             e->privateBit, e->stereoMode, e->modeExtension, e->copyright, e->original, e->emphasis};
    WriteFrameHeader(e->side, header);
    WriteSideInfoStart(e->side, e->version, e->channels, e->frame.mainDataBegin);
    if (e->version == 0)
        for (int c = 0; c < e->channels; ++c) WriteScfsi(e->side, q->info[c]);
    for (int gr = 0; gr < e->granules; ++gr)
        for (int c = 0; c < e->channels; ++c)
            WriteGranuleSideInfo(e->side, q->info[2 * gr + c], q->part23Length[2 * gr + c]);
    if (e->crc) WriteCrc(e->side, headerPosition, e->sideInfoBits);

    for (int gr = 0; gr < e->granules; ++gr)
        for (int c = 0; c < e->channels; ++c) WriteMainData(e->main, q->info[2 * gr + c], q->values[2 * gr + c]);

    const int d = e->stuffingBits;
    int taken = 0;
    if (d >= 8 && n > 0 && n != d / 8) {
        const int f = std::max(d - 8 * n, d % 8);
        WriteZeros(e->main, f < 8 ? f : f % 8);
        WriteAncillary(e, ancillary, &n, &taken, d / 8);
        if (f >= 8) WriteZeros(e->main, f - f % 8);
    } else {
        WriteZeros(e->main, d);
    }
    const int reservedBytes = e->reservedAncillaryBits / 8;
    const int before = taken;
    WriteAncillary(e, ancillary, &n, &taken, reservedBytes);
    WriteZeros(e->main, 8 * (reservedBytes - (taken - before)));
    WriteZeros(e->main, e->fixedAncillaryBits);
    if (pending) *pending = n;

    if (!PushFrameSlot(&e->queue, e->fixedBits, e->frameBits - e->fixedBits)) {
        DrainFrameQueue(&e->queue, e->output);
        if (!PushFrameSlot(&e->queue, e->fixedBits, e->frameBits - e->fixedBits))
            FatalError("frame queue overrun", __FILE__, __LINE__);
    }
    Drain(e, byteCount, out, outCapacity);
    return 1;
}

int FlushBitstreamEncoder(BitstreamEncoder* e, int* byteCount, uint8_t* out, int outCapacity) {
    if (!e->flushed) {
        e->flushed = 1;
        BeginBitFrame(&e->frame);
        // What the queued frames still lack: the reservoir fill, and with
        // mixed rates the bytes frames of the higher rate carried above the
        // target.
        int bits = 8 * e->frame.mainDataBegin;
        for (int byte = 0; bits > 8; bits -= 8, byte ^= 1) WriteBits(e->main, byte ? 0x00 : 0x20, 8);
        WriteZeros(e->main, bits);
    }
    Drain(e, byteCount, out, outCapacity);
    return 1;
}

void DeleteBitstreamEncoder(BitstreamEncoder* e) {
    if (!e) return;
    DeleteBitBuffer(e->side);
    DeleteBitBuffer(e->main);
    DeleteBitBuffer(e->output);
    AlignedFree(e);
}
