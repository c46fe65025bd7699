#pragma once
// The ten CAPI 2.0 calls of the platform CAPI library ("libcapi2032.so"),
// exported by name. Results are CAPI result words.
#include <cstdint>

extern "C" {
using CapiRegisterFn = uint32_t (*)(uint32_t messageBufferSize, uint32_t maxLogicalConnections,
                                    uint32_t maxB3Blocks, uint32_t maxB3BlockLength, uint32_t* applId);
using CapiReleaseFn = uint32_t (*)(uint32_t applId);
using CapiPutMessageFn = uint32_t (*)(uint32_t applId, const void* message);
// *message points into the library's own buffer until the next call for applId.
using CapiGetMessageFn = uint32_t (*)(uint32_t applId, void** message);
using CapiWaitForSignalFn = uint32_t (*)(uint32_t applId);
using CapiGetManufacturerFn = uint32_t (*)(char* buffer);
using CapiGetVersionFn = uint32_t (*)(uint32_t* capiMajor, uint32_t* capiMinor, uint32_t* manufacturerMajor,
                                      uint32_t* manufacturerMinor);
using CapiGetSerialNumberFn = uint32_t (*)(char* buffer);
// 64 bytes: controller 0 gives the number of controllers in the first word;
// controller n its B-channels in the second.
using CapiGetProfileFn = uint32_t (*)(void* buffer, uint32_t controller);
using CapiInstalledFn = uint32_t (*)();
}

constexpr const char* kCapiLibraryName = "libcapi2032.so";
constexpr int kCapiProfileBytes = 64;
