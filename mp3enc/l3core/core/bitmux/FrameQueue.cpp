#include "mp3enc/l3core/core/bitmux/FrameQueue.h"

#include <algorithm>

void InitFrameQueue(FrameQueue* queue, BitBuffer* side, BitBuffer* main) {
    *queue = FrameQueue{};
    queue->side = side;
    queue->main = main;
}

int PushFrameSlot(FrameQueue* queue, int sideBits, int mainBits) {
    const int next = (queue->write + 1) % kFrameQueueSlots;
    if (next == queue->read) return 0;
    queue->sideBits[queue->write] = sideBits;
    queue->mainBits[queue->write] = mainBits;
    queue->write = next;
    return 1;
}

void DrainFrameQueue(FrameQueue* queue, BitBuffer* output) {
    while (queue->read != queue->write) {
        const int r = queue->read;
        const int side = std::min(GetBitCount(queue->side), queue->sideBits[r]);
        CopyBits(output, queue->side, side);
        queue->sideBits[r] -= side;
        // Main data must not pass a header still waiting.
        if (queue->sideBits[r] > 0) return;
        const int main = std::min(GetBitCount(queue->main), queue->mainBits[r]);
        CopyBits(output, queue->main, main);
        queue->mainBits[r] -= main;
        if (queue->mainBits[r] > 0) return;
        queue->read = (r + 1) % kFrameQueueSlots;
    }
}
