#include "common/GlobalBuffer.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {
// A header in front of the caller's bytes records the block, as the original
// kept its handle there; 16 bytes keep the caller's address aligned for any
// sample type and vector loads.
constexpr size_t kHeader = 16;
constexpr uint32_t kMagic = 0x42554656;  // "VFUB"
}  // namespace

void* AllocGlobalBuffer(unsigned long size) {
    if (size > SIZE_MAX - kHeader) return nullptr;
    void* block = std::calloc(1, kHeader + size);
    if (!block) return nullptr;
    *static_cast<uint32_t*>(block) = kMagic;
    return static_cast<unsigned char*>(block) + kHeader;
}

void FreeGlobalBuffer(void* buffer) {
    if (!buffer) return;
    unsigned char* block = static_cast<unsigned char*>(buffer) - kHeader;
    *reinterpret_cast<uint32_t*>(block) = 0;  // a second free of the same block shows under the sanitizers
    std::free(block);
}
