// The mixer of an ALSA device: its card's simple mixer elements. Capture
// elements (input) or playback elements (output) are the lines, the capture
// source enumeration is the destination's selector, switches are mutes. A
// second mixer handle on a watcher thread hears every change.
#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/MixerBackend.h"

namespace {

// The control device of a PCM name: a card's "hw:X" when the name gives one,
// else the name itself (a plugin such as "pulse" has a control of that name).
std::string ControlName(const std::string& pcm) {
    const size_t card = pcm.find("CARD=");
    if (card != std::string::npos) {
        const size_t end = pcm.find(',', card);
        return "hw:" + pcm.substr(card + 5, end == std::string::npos ? std::string::npos : end - card - 5);
    }
    const size_t colon = pcm.find(':');
    if (colon != std::string::npos && (pcm.compare(0, colon, "hw") == 0 || pcm.compare(0, colon, "plughw") == 0)) {
        const size_t end = pcm.find(',', colon);
        return "hw:" + pcm.substr(colon + 1, end == std::string::npos ? std::string::npos : end - colon - 1);
    }
    return pcm;
}

snd_mixer_t* OpenMixer(const std::string& ctl) {
    snd_mixer_t* h = nullptr;
    if (snd_mixer_open(&h, 0) < 0) return nullptr;
    if (snd_mixer_attach(h, ctl.c_str()) < 0 || snd_mixer_selem_register(h, nullptr, nullptr) < 0 ||
        snd_mixer_load(h) < 0) {
        snd_mixer_close(h);
        return nullptr;
    }
    return h;
}

class CAlsaMixer final : public CMixerBackend {
public:
    CAlsaMixer(std::string ctl, bool input, snd_mixer_t* h) : m_ctl(std::move(ctl)), m_input(input), m_mixer(h) {
        Build();
    }
    ~CAlsaMixer() override {
        if (m_watcher.joinable()) {
            const uint64_t one = 1;
            if (write(m_wake, &one, sizeof one) < 0) {}
            m_watcher.join();
        }
        if (m_wake >= 0) close(m_wake);
        snd_mixer_close(m_mixer);
    }

    std::string Name() const override { return m_ctl; }
    const std::vector<MixerLineModel>& Lines() const override { return m_lines; }

    bool Get(DWORD id, std::vector<LONG>* values) override {
        snd_mixer_handle_events(m_mixer);  // values changed elsewhere
        const Binding* b = Find(id);
        if (!b) return false;
        values->clear();
        long v = 0;
        int sw = 0;
        unsigned int item = 0;
        switch (b->slot) {
            case kVolume:
                if ((m_input ? snd_mixer_selem_get_capture_volume(b->elem, SND_MIXER_SCHN_FRONT_LEFT, &v)
                             : snd_mixer_selem_get_playback_volume(b->elem, SND_MIXER_SCHN_FRONT_LEFT, &v)) < 0)
                    return false;
                values->push_back(static_cast<LONG>(v));
                return true;
            case kMute:
                if ((m_input ? snd_mixer_selem_get_capture_switch(b->elem, SND_MIXER_SCHN_FRONT_LEFT, &sw)
                             : snd_mixer_selem_get_playback_switch(b->elem, SND_MIXER_SCHN_FRONT_LEFT, &sw)) < 0)
                    return false;
                values->push_back(sw ? 0 : 1);  // a switch that is on is not muted
                return true;
            case kSelector: {
                if (snd_mixer_selem_get_enum_item(b->elem, SND_MIXER_SCHN_FRONT_LEFT, &item) < 0) return false;
                const int n = snd_mixer_selem_get_enum_items(b->elem);
                for (int i = 0; i < n; ++i) values->push_back(static_cast<unsigned>(i) == item ? 1 : 0);
                return true;
            }
            default: return false;
        }
    }

    bool Set(DWORD id, const std::vector<LONG>& values) override {
        const Binding* b = Find(id);
        if (!b || values.empty()) return false;
        switch (b->slot) {
            case kVolume:
                return (m_input ? snd_mixer_selem_set_capture_volume_all(b->elem, values[0])
                                : snd_mixer_selem_set_playback_volume_all(b->elem, values[0])) >= 0;
            case kMute:
                return (m_input ? snd_mixer_selem_set_capture_switch_all(b->elem, values[0] ? 0 : 1)
                                : snd_mixer_selem_set_playback_switch_all(b->elem, values[0] ? 0 : 1)) >= 0;
            case kSelector:
                for (size_t i = 0; i < values.size(); ++i)
                    if (values[i] != 0)
                        return snd_mixer_selem_set_enum_item(b->elem, SND_MIXER_SCHN_FRONT_LEFT,
                                                             static_cast<unsigned>(i)) >= 0;
                return false;
            default: return false;
        }
    }

    bool Watch(std::function<void(DWORD)> changed) override {
        m_changed = std::move(changed);
        m_watch = OpenMixer(m_ctl);
        m_wake = eventfd(0, EFD_CLOEXEC);
        if (!m_watch || m_wake < 0) return false;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(m_watch); e; e = snd_mixer_elem_next(e)) {
            snd_mixer_elem_set_callback(e, &CAlsaMixer::ElementChanged);
            snd_mixer_elem_set_callback_private(e, this);
        }
        m_watcher = std::thread([this] { RunWatcher(); });
        return true;
    }

private:
    enum Slot { kMute = 0, kVolume = 1, kSelector = 3 };
    struct Binding {
        DWORD id;
        int slot;
        snd_mixer_elem_t* elem;
        std::string name;
    };

    void AddLine(const std::string& name, DWORD type) {
        MixerLineModel l;
        l.name = name;
        l.componentType = type;
        m_lines.push_back(std::move(l));
    }
    void AddControl(snd_mixer_elem_t* e, int slot, DWORD type, long min, long max) {
        const size_t line = m_lines.size() - 1;
        MixerControlModel c;
        c.type = type;
        c.id = MixerControlId(line, slot);
        c.minimum = static_cast<LONG>(min);
        c.maximum = static_cast<LONG>(max);
        if (slot == kSelector) {
            const int n = snd_mixer_selem_get_enum_items(e);
            for (int i = 0; i < n; ++i) {
                char text[64] = {};
                snd_mixer_selem_get_enum_item_name(e, static_cast<unsigned>(i), sizeof text, text);
                c.items.push_back(text);
            }
            c.maximum = 1;
        }
        m_lines.back().controls.push_back(c);
        m_bindings.push_back({c.id, slot, e, snd_mixer_selem_get_name(e)});
    }
    void AddVolumeAndMute(snd_mixer_elem_t* e) {
        long min = 0, max = 0;
        if (m_input ? snd_mixer_selem_has_capture_switch(e) : snd_mixer_selem_has_playback_switch(e))
            AddControl(e, kMute, MIXERCONTROL_CONTROLTYPE_MUTE, 0, 1);
        if (m_input ? snd_mixer_selem_has_capture_volume(e) : snd_mixer_selem_has_playback_volume(e)) {
            if (m_input)
                snd_mixer_selem_get_capture_volume_range(e, &min, &max);
            else
                snd_mixer_selem_get_playback_volume_range(e, &min, &max);
            AddControl(e, kVolume, MIXERCONTROL_CONTROLTYPE_VOLUME, min, max);
        }
    }

    void Build() {
        std::vector<snd_mixer_elem_t*> lines;
        snd_mixer_elem_t* selector = nullptr;
        snd_mixer_elem_t* master = nullptr;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(m_mixer); e; e = snd_mixer_elem_next(e)) {
            if (!snd_mixer_selem_is_active(e)) continue;
            if (m_input) {
                if (snd_mixer_selem_is_enum_capture(e) && !selector) selector = e;
                if (snd_mixer_selem_has_capture_volume(e) || snd_mixer_selem_has_capture_switch(e)) lines.push_back(e);
            } else if (snd_mixer_selem_has_playback_volume(e) || snd_mixer_selem_has_playback_switch(e)) {
                if (!master && std::string(snd_mixer_selem_get_name(e)) == "Master") {
                    master = e;
                } else {
                    lines.push_back(e);
                }
            }
        }
        if (m_input) {
            AddLine("Recording", MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
            if (selector) AddControl(selector, kSelector, MIXERCONTROL_CONTROLTYPE_MUX, 0, 1);
        } else {
            if (!master && !lines.empty()) {
                master = lines.front();
                lines.erase(lines.begin());
            }
            AddLine(master ? snd_mixer_selem_get_name(master) : "Speakers", MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
            if (master) AddVolumeAndMute(master);
        }
        for (snd_mixer_elem_t* e : lines) {
            AddLine(snd_mixer_selem_get_name(e), MIXERLINE_COMPONENTTYPE_SRC_ANALOG);
            AddVolumeAndMute(e);
        }
    }

    const Binding* Find(DWORD id) const {
        for (const Binding& b : m_bindings)
            if (b.id == id) return &b;
        return nullptr;
    }

    // Watcher thread: an element of the watching handle changed; every
    // control of that element is reported.
    static int ElementChanged(snd_mixer_elem_t* e, unsigned int mask) {
        auto* self = static_cast<CAlsaMixer*>(snd_mixer_elem_get_callback_private(e));
        if (!(mask & SND_CTL_EVENT_MASK_VALUE) || !self) return 0;
        const std::string name = snd_mixer_selem_get_name(e);
        for (const Binding& b : self->m_bindings)
            if (b.name == name) self->m_changed(b.id);
        return 0;
    }

    void RunWatcher() {
        const int n = snd_mixer_poll_descriptors_count(m_watch);
        std::vector<pollfd> fds(static_cast<size_t>(std::max(n, 0)) + 1);
        for (;;) {
            const int got = snd_mixer_poll_descriptors(m_watch, fds.data(), static_cast<unsigned>(n));
            fds[static_cast<size_t>(got)] = {m_wake, POLLIN, 0};
            if (poll(fds.data(), static_cast<nfds_t>(got + 1), -1) < 0) continue;
            if (fds[static_cast<size_t>(got)].revents & POLLIN) break;
            snd_mixer_handle_events(m_watch);
        }
        snd_mixer_close(m_watch);
        m_watch = nullptr;
    }

    std::string m_ctl;
    bool m_input;
    snd_mixer_t* m_mixer;
    std::vector<MixerLineModel> m_lines;
    std::vector<Binding> m_bindings;
    std::function<void(DWORD)> m_changed;
    snd_mixer_t* m_watch = nullptr;  // the watcher thread's own handle
    int m_wake = -1;
    std::thread m_watcher;
};

}  // namespace

std::unique_ptr<CMixerBackend> MakeAlsaMixer(const std::string& pcmName, bool input, MMRESULT* error) {
    const std::string ctl = ControlName(pcmName);
    snd_mixer_t* h = OpenMixer(ctl);
    if (!h) {
        *error = MMSYSERR_NODRIVER;
        return nullptr;
    }
    auto m = std::make_unique<CAlsaMixer>(ctl, input, h);
    if (m->Lines().size() < 1 || (m->Lines().size() == 1 && m->Lines()[0].controls.empty())) {
        *error = MIXERR_INVALLINE;  // no line of that direction
        return nullptr;
    }
    return m;
}
