#pragma once
// The list of WAVE devices behind the device ids: virtual devices first, then
// the ALSA PCMs. Internal to platform/.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/VirtualWave.h"
#include "platform/WaveStream.h"

struct WaveDeviceEntry {
    std::string name;
    bool output = true;
    bool isVirtual = false;
    VirtualWaveConfig config;              // virtual only
    std::atomic<CWaveStream*> open{nullptr};
    // Played audio of the last virtual output stream; sized at open.
    std::unique_ptr<int16_t[]> sink;
    size_t sinkCapacity = 0;  // samples
    std::atomic<size_t> sinkWritten{0};
    std::atomic<uint64_t> framesDone{0};
    std::atomic<uint64_t> framesLost{0};  // underrun (output) or overrun (input)
};

// Creates the stream for an entry; the result code says why not.
MMRESULT OpenVirtualStream(WaveDeviceEntry& entry, const WAVEFORMATEX& format, WaveCallback callback,
                           DWORD_PTR instance, CWaveStream** out);
void CloseVirtualStream(WaveDeviceEntry& entry, CWaveStream* stream);  // joins, writes the sink file
MMRESULT OpenAlsaStream(const std::string& name, bool output, const WAVEFORMATEX& format,
                        WaveCallback callback, DWORD_PTR instance, bool queryOnly, CWaveStream** out);
struct AlsaDeviceNames {
    std::vector<std::string> outputs, inputs;  // "default" first in each
};
AlsaDeviceNames ListAlsaDevices();
void VirtualStreamsAdvanced(uint64_t nowMs);  // wakes simulated streams and waits for them
