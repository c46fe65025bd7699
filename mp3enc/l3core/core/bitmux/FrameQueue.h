#pragma once
// Frames waiting for their bits: each slot says how many side-information and
// main-data bits its frame still takes from the two rings. A frame leaves
// only when main data fill its slot, which may be several frames later (the
// bit reservoir). The queue holds no bits itself.
#include "mp3enc/bitmux/BitBuffer.h"

inline constexpr int kFrameQueueSlots = 64;

struct FrameQueue {
    int sideBits[kFrameQueueSlots];
    int mainBits[kFrameQueueSlots];
    int read;
    int write;
    BitBuffer* side;
    BitBuffer* main;
};

void InitFrameQueue(FrameQueue* queue, BitBuffer* side, BitBuffer* main);
// 0 when all 64 slots are taken (the frame is not queued).
int PushFrameSlot(FrameQueue* queue, int sideBits, int mainBits);
// Copies what the rings hold into the output, slot by slot, up to the first
// slot that still wants bits.
void DrainFrameQueue(FrameQueue* queue, BitBuffer* output);
