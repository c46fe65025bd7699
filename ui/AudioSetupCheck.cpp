#include "ui/AudioSetupCheck.h"

#include "call/FormatRules.h"
#include "common/Codes.h"

namespace {

// -1 picks the system's choice of device, which exists when any does.
bool HasDevice(int card, unsigned count) { return count > 0 && (card < 0 || static_cast<unsigned>(card) < count); }

// A frame larger than the transport's buffer is never sent nor taken whole.
std::string BufferProblem(const CSettings& settings) {
    const int buffer = settings.GetTCPBufferSize();
    if (buffer > 0 && buffer < kPassBufferBytes) {
        return "TCP buffer too small for audio";
    }
    return "";
}

}  // namespace

std::string DescribeAudioSetupProblem(const CSettings& settings, unsigned inputDevices, unsigned outputDevices) {
    const int kind = settings.GetAudioInterface();
    if (kind != INTERFACE_WAVE && kind != INTERFACE_ASIO && kind != INTERFACE_COREAUDIO) {
        return "No sound interface chosen";
    }
    // The other interfaces name their devices by driver and endpoint; only WAVE cards are counted here.
    if (kind != INTERFACE_WAVE) return BufferProblem(settings);
    const int rec = settings.GetRecCard();
    if (!HasDevice(rec, inputDevices)) {
        return "No recording device " + std::to_string(rec);
    }
    const int play = settings.GetPlayCard();
    if (!HasDevice(play, outputDevices)) {
        return "No playback device " + std::to_string(play);
    }
    return BufferProblem(settings);
}
