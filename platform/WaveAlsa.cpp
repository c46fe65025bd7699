// ALSA behind the WAVE calls: S16_LE interleaved, non-blocking PCM, one I/O
// thread per open device that waits on the PCM and moves one period at a time.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/WaveDeviceList.h"

namespace {

constexpr unsigned kLatencyUs = 40000;

// ALSA prints its own diagnostics to stderr; ours go through result codes.
void Quiet(const char*, int, const char*, int, const char*, ...) {}
void SilenceAlsa() {
    static const int once = snd_lib_error_set_handler(&Quiet);
    (void)once;
}

MMRESULT FromAlsa(int err) {
    switch (-err) {
        case ENOENT:
        case ENODEV:
        case ENXIO: return MMSYSERR_BADDEVICEID;
        case EBUSY:
        case EAGAIN: return MMSYSERR_ALLOCATED;
        case ENOMEM: return MMSYSERR_NOMEM;
        case EINVAL: return WAVERR_BADFORMAT;
        case ENOSYS:
        case ELIBACC:
        case ENOEXEC: return MMSYSERR_NODRIVER;
        default: return MMSYSERR_ERROR;
    }
}

struct CAlsaStream final : CWaveStream {
    CAlsaStream(snd_pcm_t* pcm, bool output, int rate, int channels, WaveCallback cb, DWORD_PTR instance,
                snd_pcm_uframes_t period)
        : CWaveStream(output, rate, channels, cb, instance), m_pcm(pcm), m_period(period) {
        m_buffer.assign(static_cast<size_t>(period) * static_cast<size_t>(channels), 0);
    }
    ~CAlsaStream() override {
        StopThread();
        snd_pcm_close(m_pcm);
    }

    void Recover(int err) {
        if (snd_pcm_recover(m_pcm, err, 1) < 0) {
            snd_pcm_drop(m_pcm);
            snd_pcm_prepare(m_pcm);
        }
    }

    // Some PCMs (the "null" plugin) take frames as fast as they are given;
    // hold such a device to its rate instead of spinning a core.
    void Pace(snd_pcm_sframes_t frames) {
        m_frames += static_cast<uint64_t>(frames);
        const double ahead = static_cast<double>(m_frames) / m_rate -
                             std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count() -
                             2.0 * kLatencyUs / 1e6;
        if (ahead > 0) std::this_thread::sleep_for(std::chrono::duration<double>(std::min(ahead, 0.02)));
    }

    void RunOutput() {
        m_start = std::chrono::steady_clock::now();
        while (!StopRequested()) {
            ServiceCommands();
            const int w = snd_pcm_wait(m_pcm, 20);
            if (w < 0) {
                Recover(w);
                continue;
            }
            snd_pcm_sframes_t avail = snd_pcm_avail_update(m_pcm);
            if (avail < 0) {
                Recover(static_cast<int>(avail));
                continue;
            }
            while (avail >= static_cast<snd_pcm_sframes_t>(m_period) && !StopRequested()) {
                PullOutput(m_buffer.data(), static_cast<int>(m_period));
                const snd_pcm_sframes_t n = snd_pcm_writei(m_pcm, m_buffer.data(), m_period);
                if (n < 0) {
                    Recover(static_cast<int>(n));
                    break;
                }
                avail -= n;
                Pace(n);
            }
        }
    }

    void RunInput() {
        bool running = false;
        while (!StopRequested()) {
            const uint32_t seen = EventCount();
            ServiceCommands();
            if (!Started()) {
                if (running) {
                    snd_pcm_drop(m_pcm);
                    snd_pcm_prepare(m_pcm);
                    running = false;
                }
                WaitEvent(seen);
                continue;
            }
            if (!running) {
                snd_pcm_start(m_pcm);
                running = true;
                m_start = std::chrono::steady_clock::now();
                m_frames = 0;
            }
            const int w = snd_pcm_wait(m_pcm, 20);
            if (w < 0) {
                Recover(w);
                running = false;
                continue;
            }
            const snd_pcm_sframes_t n = snd_pcm_readi(m_pcm, m_buffer.data(), m_period);
            if (n == -EAGAIN) continue;
            if (n < 0) {
                Recover(static_cast<int>(n));
                running = false;
                continue;
            }
            PushInput(m_buffer.data(), static_cast<int>(n));
            Pace(n);
        }
    }

    void Run() override {
        if (m_output) {
            RunOutput();
        } else {
            RunInput();
        }
    }

    snd_pcm_t* m_pcm;
    snd_pcm_uframes_t m_period;
    std::chrono::steady_clock::time_point m_start;
    uint64_t m_frames = 0;
    std::vector<int16_t> m_buffer;
};

}  // namespace

MMRESULT OpenAlsaStream(const std::string& name, bool output, const WAVEFORMATEX& format, WaveCallback callback,
                        DWORD_PTR instance, bool queryOnly, CWaveStream** out) {
    SilenceAlsa();
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, name.c_str(), output ? SND_PCM_STREAM_PLAYBACK : SND_PCM_STREAM_CAPTURE,
                           SND_PCM_NONBLOCK);
    if (err < 0) return FromAlsa(err);
    err = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, format.nChannels,
                             format.nSamplesPerSec, 1, kLatencyUs);
    if (err < 0) {
        snd_pcm_close(pcm);
        return err == -EINVAL ? WAVERR_BADFORMAT : FromAlsa(err);
    }
    if (queryOnly) {
        snd_pcm_close(pcm);
        return MMSYSERR_NOERROR;
    }
    snd_pcm_uframes_t bufferSize = 0, period = 0;
    if (snd_pcm_get_params(pcm, &bufferSize, &period) < 0 || period == 0) period = format.nSamplesPerSec / 100;
    auto* s = new (std::nothrow) CAlsaStream(pcm, output, static_cast<int>(format.nSamplesPerSec), format.nChannels,
                                             callback, instance, period);
    if (s == nullptr) {
        snd_pcm_close(pcm);
        return MMSYSERR_NOMEM;
    }
    *out = s;
    return MMSYSERR_NOERROR;
}

// One walk over ALSA's hints serves both directions: each walk loads and
// parses every configuration file and plugin again.
AlsaDeviceNames ListAlsaDevices() {
    SilenceAlsa();
    AlsaDeviceNames names;
    names.outputs = names.inputs = {"default"};
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) return names;
    for (void** h = hints; *h != nullptr; ++h) {
        char* name = snd_device_name_get_hint(*h, "NAME");
        char* ioid = snd_device_name_get_hint(*h, "IOID");
        if (name && std::strcmp(name, "default") != 0) {
            if (ioid == nullptr || std::strcmp(ioid, "Output") == 0) names.outputs.emplace_back(name);
            if (ioid == nullptr || std::strcmp(ioid, "Input") == 0) names.inputs.emplace_back(name);
        }
        std::free(name);
        std::free(ioid);
    }
    snd_device_name_free_hint(hints);
    return names;
}
