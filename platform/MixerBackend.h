#pragma once
// A mixer as its calls see it: line 0 is the destination, the others its
// sources; each control has an id unique in the mixer. Internal to platform/.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/MixerApi.h"

struct MixerControlModel {
    DWORD type = 0;  // MIXERCONTROL_CONTROLTYPE_*
    DWORD id = 0;
    LONG minimum = 0, maximum = 0;
    std::vector<std::string> items;  // a selector's sources
};

struct MixerLineModel {
    std::string name;
    DWORD componentType = 0;
    std::vector<MixerControlModel> controls;
};

class CMixerBackend {
public:
    virtual ~CMixerBackend() = default;
    virtual std::string Name() const = 0;
    virtual const std::vector<MixerLineModel>& Lines() const = 0;
    // One value per item (one for a plain control); false for an unknown id.
    virtual bool Get(DWORD controlId, std::vector<LONG>* values) = 0;
    virtual bool Set(DWORD controlId, const std::vector<LONG>& values) = 0;
    // Calls `changed` with a control id on a thread of the backend's own for
    // every change, until the backend is destroyed.
    virtual bool Watch(std::function<void(DWORD)> changed) = 0;
};

// Control ids: four per line, by kind.
inline DWORD MixerControlId(size_t line, int slot) { return static_cast<DWORD>(line * 4 + slot + 1); }
inline DWORD MixerLineId(size_t line) { return line == 0 ? 0xFFFF0000u : static_cast<DWORD>((line - 1) << 16); }

std::unique_ptr<CMixerBackend> MakeAlsaMixer(const std::string& pcmName, bool input, MMRESULT* error);
std::unique_ptr<CMixerBackend> MakeVirtualMixer(const std::string& deviceName, bool input);
// The WAVE device behind an id: its name and whether it is virtual.
bool WaveDeviceIdentity(UINT id, bool output, std::string* name, bool* isVirtual);
