#pragma once
// The text that names a virtual device in the environment:
// "Name,key=value,key=value...". Each device kind reads its own keys; the
// clock, the capture tone and the kept playback are common to all of them.
#include <functional>
#include <string>
#include <string_view>

// Calls take(key, value) for each item after the name; false as soon as an
// item has no '=' or take refuses it.
bool ReadVirtualDeviceText(std::string_view text, std::string* name,
                           const std::function<bool(std::string_view key, std::string_view value)>& take);

// Finite numbers within +-1e6 only: the text comes from the environment.
bool ParseVirtualNumber(std::string_view text, double* out);

enum class VirtualSettingUse { Taken, NotCommon, Refused };

template <class Config>
VirtualSettingUse TakeCommonVirtualSetting(Config& c, std::string_view key, std::string_view value) {
    if (key == "clock") {
        if (value != "sim" && value != "real") return VirtualSettingUse::Refused;
        c.simulatedClock = value == "sim";
        return VirtualSettingUse::Taken;
    }
    double* const number = key == "rate_error" ? &c.rateErrorPercent
                           : key == "tone"     ? &c.toneHz
                           : key == "level"    ? &c.toneLevel
                                               : nullptr;
    if (number == nullptr && key != "sink_seconds") return VirtualSettingUse::NotCommon;
    double d = 0;
    if (!ParseVirtualNumber(value, &d)) return VirtualSettingUse::Refused;
    if (number != nullptr)
        *number = d;
    else
        c.sinkSeconds = static_cast<int>(d);
    return VirtualSettingUse::Taken;
}
