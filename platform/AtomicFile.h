#pragma once
// Replaces a file whole: the bytes go to a temporary file beside it, which is
// flushed to disk and then renamed over the old one. A crash at any moment
// leaves either the old file or the new one, never neither.
#include <cstddef>
#include <cstdint>

// 1 on success, 0 on failure (the old file is then untouched).
int WriteFileAtomically(const char* path, const uint8_t* data, size_t size);
