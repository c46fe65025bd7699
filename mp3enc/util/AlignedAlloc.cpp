#include "mp3enc/util/AlignedAlloc.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

void* AlignedMalloc(size_t size, const char*, int) {
    constexpr size_t kExtra = kEncAlignment - 1 + sizeof(void*);
    if (size > SIZE_MAX - kExtra) return nullptr;
    void* raw = std::malloc(size + kExtra);
    if (!raw) return nullptr;
    const uintptr_t first = reinterpret_cast<uintptr_t>(raw) + sizeof(void*);
    const uintptr_t aligned = (first + kEncAlignment - 1) & ~uintptr_t{kEncAlignment - 1};
    std::memcpy(reinterpret_cast<void*>(aligned - sizeof(void*)), &raw, sizeof raw);
    return reinterpret_cast<void*>(aligned);
}

void* AlignedCalloc(size_t count, size_t size, const char* sourcePath, int line) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    void* block = AlignedMalloc(count * size, sourcePath, line);
    if (block) std::memset(block, 0, count * size);
    return block;
}

void AlignedFree(void* block) {
    if (!block) return;
    void* raw;
    std::memcpy(&raw, static_cast<char*>(block) - sizeof(void*), sizeof raw);
    std::free(raw);
}
