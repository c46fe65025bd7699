#pragma once
// Zeroed memory blocks for the audio devices' buffers. Any thread, but not a
// device callback: both calls go to the allocator.

// `size` zeroed bytes (a zero-length block is a valid, unique address), or
// null when memory runs out.
void* AllocGlobalBuffer(unsigned long size);
// Releases a block from AllocGlobalBuffer; null is ignored.
void FreeGlobalBuffer(void* buffer);
