#pragma once
// The encoder library's allocator: every block starts on a 16-byte boundary
// for the SSE paths. The heap's own address is kept just before the block, in
// a full pointer-sized slot, so it is right on 64-bit hosts as well.
#include <cstddef>

inline constexpr size_t kEncAlignment = 16;

void* AlignedMalloc(size_t size, const char* sourcePath, int line);
void* AlignedCalloc(size_t count, size_t size, const char* sourcePath, int line);
void AlignedFree(void* block);
