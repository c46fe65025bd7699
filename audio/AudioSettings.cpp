#include "audio/AudioSettings.h"

#include <atomic>

namespace {
const AudioSettingsValues kDefaults;
std::atomic<const AudioSettingsValues*> g_installed{nullptr};
}  // namespace

void CAudioSettings::Install(const AudioSettingsValues* values) {
    g_installed.store(values, std::memory_order_release);
}

const AudioSettingsValues& CAudioSettings::Values() {
    const AudioSettingsValues* v = g_installed.load(std::memory_order_acquire);
    return v ? *v : kDefaults;
}
