// Fuzz target for the Wav reader of the library import: any bytes open or
// are refused, and reading ends; the first byte picks the read size.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ui/WavFileReader.h"
#include "ui/ReaderFuzzFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const int chunk = 1 + data[0] * 37;
    const std::string& path = WriteFuzzFile(data + 1, size - 1);
    CWavFileReader reader;
    if (!reader.Open(path.c_str(), 10)) return 0;
    std::vector<uint8_t> buffer(static_cast<size_t>(chunk));
    // Every read moves the file on or ends it; the bound only guards against a stall bug.
    for (int i = 0; i < 100000 && !reader.IsAtEnd(); ++i) reader.Read(buffer.data(), chunk);
    if (!reader.IsAtEnd()) __builtin_trap();
    return 0;
}
