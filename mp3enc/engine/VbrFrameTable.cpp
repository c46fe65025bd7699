#include "mp3enc/engine/VbrFrameTable.h"

#include <new>

#include "common/MpegHeaderTables.h"

namespace {
void Offer(VbrFrameTable* t, int position) {
    t->lastPosition = position;
    if (t->offered % t->step == 0) {
        t->positions[t->count++] = position;
        if (t->count == 200) t->step *= 2;
        if (t->count == 300) {
            int32_t packed[200];
            for (int i = 0; i < 100; ++i) packed[i] = t->positions[2 * i];
            for (int i = 0; i < 100; ++i) packed[100 + i] = t->positions[200 + i];
            for (int i = 0; i < 200; ++i) t->positions[i] = packed[i];
            t->count = 200;
            t->step *= 2;
        }
    }
    ++t->offered;
}
}  // namespace

VbrFrameTable* VbrFrameTableCreate(int bitRateIndex, int sampleRate, int channels) {
    auto* t = new (std::nothrow) VbrFrameTable{};
    if (!t) return nullptr;
    t->step = 1;
    t->quality = 100;
    t->channels = channels;
    int rate = sampleRate, version = 2;
    while (rate > 15999 && version > 0) {
        rate /= 2;
        --version;
    }
    t->version = version;
    t->sampleRateIndex = rate == 8000 ? 2 : (rate == 11025 ? 0 : 1);
    t->samplesPerFrame = version == 0 ? 1152 : 576;
    const int column = version == 0 ? 0 : 1;
    auto bytesOf = [&](int index) {
        return mpeg_header::kBitRateKbps[column][3 - 1][index] * 1000 / 8 * t->samplesPerFrame / (sampleRate > 0 ? sampleRate : 1);
    };
    int index = bitRateIndex;
    if (bitRateIndex == 15) {
        index = 14;
        for (int i = 0; i <= 14; ++i)
            if (bytesOf(i) > 2 * 200 + 36 + 22) {
                index = i > 0 ? i - 1 : 0;
                break;
            }
    }
    t->bitRateIndex = index;
    t->headerFrameBytes = bytesOf(index);
    return t;
}

void VbrFrameTableSetup(VbrFrameTable* table, int delay, int quality) {
    if (!table) return;
    table->delayPlusFrame = delay + table->samplesPerFrame;
    table->quality = quality;
}

void VbrFrameTableAddFrame(VbrFrameTable* table, int position, int length) {
    if (!table) return;
    if (table->offered == 0) Offer(table, position);
    Offer(table, position + table->headerFrameBytes);
    table->lastLength = length;
}

void VbrFrameTableDestroy(VbrFrameTable* table) { delete table; }
