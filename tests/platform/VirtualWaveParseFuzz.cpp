// The virtual device's setting text comes from the environment: any bytes
// must give a clear refusal or a usable configuration, never a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/VirtualWave.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    VirtualWaveConfig config;
    if (VirtualWaveParse(text.c_str(), &config) && config.name.empty()) __builtin_trap();
    return 0;
}
