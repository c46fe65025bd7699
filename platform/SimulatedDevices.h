#pragma once
// Devices other than the WAVE streams that run on the simulated clock of
// VirtualWaveAdvanceMs (VirtualWave.h): each advance wakes them and waits
// until every one has done its work up to the new time. Internal to platform/.
#include <atomic>
#include <cstdint>

class CSimulatedDevice {
public:
    virtual ~CSimulatedDevice() = default;
    virtual void Wake() = 0;  // any thread: the clock moved
    // Device thread: done up to nowMs; ~0 when it stopped for good.
    void ReportDone(uint64_t nowMs) {
        m_done.store(nowMs, std::memory_order_release);
        m_done.notify_all();
    }
    std::atomic<uint64_t> m_done{0};
};

void SimulatedDeviceAdd(CSimulatedDevice* device);
void SimulatedDeviceRemove(CSimulatedDevice* device);  // no advance waits for it afterwards
void SimulatedDevicesAdvanced(uint64_t nowMs);
