#include <map>
#include <mutex>
#include <vector>

#include "platform/MixerBackend.h"
#include "platform/VirtualMixer.h"

namespace {

struct MixerState {
    std::vector<MixerLineModel> lines;
    std::map<DWORD, std::vector<LONG>> values;
    std::vector<std::function<void(DWORD)>*> watchers;
};

std::mutex g_mutex;  // guards every state and its watchers
std::map<std::pair<std::string, bool>, MixerState> g_states;

MixerControlModel Control(size_t line, int slot, DWORD type, LONG max) {
    MixerControlModel c;
    c.type = type;
    c.id = MixerControlId(line, slot);
    c.maximum = max;
    return c;
}

MixerState& StateLocked(const std::string& device, bool input) {
    auto [it, added] = g_states.try_emplace({device, input});
    MixerState& s = it->second;
    if (!added) return s;
    if (input) {
        MixerLineModel rec{"Recording", MIXERLINE_COMPONENTTYPE_DST_WAVEIN, {}};
        MixerControlModel mux = Control(0, 3, MIXERCONTROL_CONTROLTYPE_MUX, 1);
        mux.items = {"Mic", "Line"};
        rec.controls.push_back(mux);
        s.lines.push_back(rec);
        s.values[mux.id] = {1, 0};
        for (const char* name : {"Mic", "Line"}) {
            const size_t i = s.lines.size();
            MixerLineModel l{name, MIXERLINE_COMPONENTTYPE_SRC_ANALOG, {}};
            l.controls.push_back(Control(i, 0, MIXERCONTROL_CONTROLTYPE_MUTE, 1));
            l.controls.push_back(Control(i, 1, MIXERCONTROL_CONTROLTYPE_VOLUME, 65535));
            s.values[MixerControlId(i, 0)] = {0};
            s.values[MixerControlId(i, 1)] = {49152};
            s.lines.push_back(l);
        }
    } else {
        MixerLineModel master{"Master", MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, {}};
        master.controls.push_back(Control(0, 0, MIXERCONTROL_CONTROLTYPE_MUTE, 1));
        master.controls.push_back(Control(0, 1, MIXERCONTROL_CONTROLTYPE_VOLUME, 65535));
        s.values[MixerControlId(0, 0)] = {0};
        s.values[MixerControlId(0, 1)] = {65535};
        s.lines.push_back(master);
    }
    return s;
}

void NotifyLocked(MixerState& s, DWORD id) {
    for (auto* w : s.watchers) (*w)(id);
}

class CVirtualMixer final : public CMixerBackend {
public:
    CVirtualMixer(std::string device, bool input) : m_device(std::move(device)), m_input(input) {
        std::lock_guard lock(g_mutex);
        m_lines = StateLocked(m_device, m_input).lines;
    }
    ~CVirtualMixer() override {
        std::lock_guard lock(g_mutex);
        std::erase(StateLocked(m_device, m_input).watchers, &m_changed);
    }
    std::string Name() const override { return m_device; }
    const std::vector<MixerLineModel>& Lines() const override { return m_lines; }
    bool Get(DWORD id, std::vector<LONG>* values) override {
        std::lock_guard lock(g_mutex);
        MixerState& s = StateLocked(m_device, m_input);
        const auto it = s.values.find(id);
        if (it == s.values.end()) return false;
        *values = it->second;
        return true;
    }
    bool Set(DWORD id, const std::vector<LONG>& values) override {
        std::lock_guard lock(g_mutex);
        MixerState& s = StateLocked(m_device, m_input);
        const auto it = s.values.find(id);
        if (it == s.values.end()) return false;
        if (values.size() > 1) {  // a selector: one item chosen
            for (size_t i = 0; i < it->second.size(); ++i) it->second[i] = i < values.size() && values[i] != 0;
        } else {
            it->second = values;
        }
        NotifyLocked(s, id);
        return true;
    }
    // Notifications come on the thread that made the change, as posts.
    bool Watch(std::function<void(DWORD)> changed) override {
        std::lock_guard lock(g_mutex);
        m_changed = std::move(changed);
        StateLocked(m_device, m_input).watchers.push_back(&m_changed);
        return true;
    }

private:
    std::string m_device;
    bool m_input;
    std::vector<MixerLineModel> m_lines;
    std::function<void(DWORD)> m_changed;
};

}  // namespace

std::unique_ptr<CMixerBackend> MakeVirtualMixer(const std::string& deviceName, bool input) {
    return std::make_unique<CVirtualMixer>(deviceName, input);
}

int VirtualMixerChange(const char* device, int input, const char* line, int volumeNotMute, long value) {
    if (!device || !line) return 0;
    std::lock_guard lock(g_mutex);
    MixerState& s = StateLocked(device, input != 0);
    for (size_t i = 0; i < s.lines.size(); ++i) {
        if (s.lines[i].name != line) continue;
        const DWORD id = MixerControlId(i, volumeNotMute ? 1 : 0);
        const auto it = s.values.find(id);
        if (it == s.values.end()) return 0;
        it->second = {static_cast<LONG>(value)};
        NotifyLocked(s, id);
        return 1;
    }
    return 0;
}
