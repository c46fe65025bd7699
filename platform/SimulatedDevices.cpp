#include "platform/SimulatedDevices.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

std::mutex g_mutex;  // held through a whole advance: a device leaves between advances
std::vector<CSimulatedDevice*> g_devices;

}  // namespace

void SimulatedDeviceAdd(CSimulatedDevice* device) {
    std::lock_guard lock(g_mutex);
    g_devices.push_back(device);
}

void SimulatedDeviceRemove(CSimulatedDevice* device) {
    std::lock_guard lock(g_mutex);
    std::erase(g_devices, device);
}

void SimulatedDevicesAdvanced(uint64_t nowMs) {
    std::lock_guard lock(g_mutex);
    for (CSimulatedDevice* d : g_devices) d->Wake();
    for (CSimulatedDevice* d : g_devices) {
        uint64_t done = d->m_done.load(std::memory_order_acquire);
        while (done < nowMs) {
            d->m_done.wait(done, std::memory_order_acquire);
            done = d->m_done.load(std::memory_order_acquire);
        }
    }
}
