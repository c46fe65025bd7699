// The PulseAudio backend of the endpoint functions: sinks and sources as
// endpoints, their volumes, and streams whose callbacks on the server
// connection's own thread move bytes to and from the client's ring.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <new>

#include "platform/AuxletBackend.h"

namespace {

// A connection to the server with its own thread. Every call into the
// library runs under the thread's lock (CLock).
class CPulseConnection {
public:
    CPulseConnection() : m_loop(pa_threaded_mainloop_new()) {}
    ~CPulseConnection() {
        if (m_loop) pa_threaded_mainloop_stop(m_loop);
        if (m_context) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        if (m_loop) pa_threaded_mainloop_free(m_loop);
    }
    CPulseConnection(const CPulseConnection&) = delete;
    CPulseConnection& operator=(const CPulseConnection&) = delete;

    struct CLock {
        explicit CLock(pa_threaded_mainloop* l) : loop(l) { pa_threaded_mainloop_lock(loop); }
        ~CLock() { pa_threaded_mainloop_unlock(loop); }
        pa_threaded_mainloop* loop;
    };

    // Connects to the server the environment names (never starting one);
    // false when none answers within five seconds.
    bool Connect() {
        if (!m_loop || pa_threaded_mainloop_start(m_loop) < 0) return false;
        CLock lock(m_loop);
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Velmora");
        if (!m_context) return false;
        pa_context_set_state_callback(m_context, &CPulseConnection::Signal, m_loop);
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (;;) {
            const pa_context_state_t s = pa_context_get_state(m_context);
            if (s == PA_CONTEXT_READY) return true;
            if (!PA_CONTEXT_IS_GOOD(s) || std::chrono::steady_clock::now() >= end) return false;
            pa_threaded_mainloop_wait(m_loop);  // woken by every state change
        }
    }

    // Runs an operation to its end (under the lock).
    bool Finish(pa_operation* op) {
        if (!op) return false;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(m_loop);
        pa_operation_unref(op);
        return true;
    }

    static void Signal(pa_context*, void* loop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
    }

    pa_threaded_mainloop* m_loop;
    pa_context* m_context = nullptr;
};

struct ListResult {
    pa_threaded_mainloop* loop;
    std::vector<std::string>* names;
};

template <typename Info>
void AddName(pa_context*, const Info* info, int eol, void* data) {
    auto* r = static_cast<ListResult*>(data);
    if (eol == 0 && info) r->names->push_back(info->name);
    if (eol) pa_threaded_mainloop_signal(r->loop, 0);
}

struct VolumeResult {
    pa_threaded_mainloop* loop;
    bool found = false;
    pa_cvolume volume{};
};

template <typename Info>
void TakeVolume(pa_context*, const Info* info, int eol, void* data) {
    auto* r = static_cast<VolumeResult*>(data);
    if (eol == 0 && info) {
        r->found = true;
        r->volume = info->volume;
    }
    if (eol) pa_threaded_mainloop_signal(r->loop, 0);
}

void Done(pa_context*, int, void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }

class CPulseClient final : public CAuxletClient {
public:
    CPulseClient(std::string device, int direction) : CAuxletClient(direction), m_device(std::move(device)) {}
    ~CPulseClient() override { Close(); }

private:
    bool OpenStream(int* blockMs) override {
        m_connection = std::make_unique<CPulseConnection>();
        if (!m_connection->Connect()) {
            SetError("No PulseAudio server answers.");
            m_connection.reset();
            return false;
        }
        CPulseConnection::CLock lock(m_connection->m_loop);
        const pa_sample_spec spec{PA_SAMPLE_S16LE, 48000, static_cast<uint8_t>(m_channels)};
        m_stream = pa_stream_new(m_connection->m_context, m_direction ? "Velmora capture" : "Velmora playback", &spec,
                                 nullptr);
        if (!m_stream) return Failed();
        pa_stream_set_state_callback(m_stream, &CPulseClient::StateChanged, m_connection->m_loop);
        const uint32_t block = static_cast<uint32_t>(*blockMs * BytesPerMs());
        pa_buffer_attr attr;
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.tlength = std::max<uint32_t>(4 * block, 20 * BytesPerMs());
        attr.minreq = block;
        attr.fragsize = block;
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
        int r;
        if (m_direction == 0) {
            pa_stream_set_write_callback(m_stream, &CPulseClient::Writable, this);
            r = pa_stream_connect_playback(m_stream, m_device.c_str(), &attr, flags, nullptr, nullptr);
        } else {
            pa_stream_set_read_callback(m_stream, &CPulseClient::Readable, this);
            r = pa_stream_connect_record(m_stream, m_device.c_str(), &attr, flags);
        }
        if (r < 0) return Failed();
        for (;;) {
            const pa_stream_state_t s = pa_stream_get_state(m_stream);
            if (s == PA_STREAM_READY) break;
            if (!PA_STREAM_IS_GOOD(s)) return Failed();
            pa_threaded_mainloop_wait(m_connection->m_loop);
        }
        if (m_direction == 0) {
            // The server asks for data only when its room changes: a ring that
            // was empty then is offered again once per block.
            m_periodUs = static_cast<pa_usec_t>(*blockMs) * 1000;
            m_timer = pa_context_rttime_new(m_connection->m_context, pa_rtclock_now() + m_periodUs, &CPulseClient::Tick,
                                            this);
        }
        return true;
    }

    static void Tick(pa_mainloop_api*, pa_time_event* e, const struct timeval*, void* data) {
        auto* self = static_cast<CPulseClient*>(data);
        if (self->m_stream && pa_stream_get_state(self->m_stream) == PA_STREAM_READY) {
            const size_t room = pa_stream_writable_size(self->m_stream);
            if (room != static_cast<size_t>(-1) && room > 0) Writable(self->m_stream, room, self);
        }
        pa_context_rttime_restart(self->m_connection->m_context, e, pa_rtclock_now() + self->m_periodUs);
    }

    bool Failed() {
        SetError(pa_strerror(pa_context_errno(m_connection->m_context)));
        if (m_stream) {
            pa_stream_unref(m_stream);
            m_stream = nullptr;
        }
        return false;
    }

    bool Cork(int cork) {
        CPulseConnection::CLock lock(m_connection->m_loop);
        if (!m_connection->Finish(pa_stream_cork(m_stream, cork, &CPulseClient::Corked, m_connection->m_loop))) {
            SetError(pa_strerror(pa_context_errno(m_connection->m_context)));
            return false;
        }
        return true;
    }
    bool StartStream() override { return m_stream && Cork(0); }
    void StopStream() override {
        if (m_stream) Cork(1);
    }
    void CloseStream() override {
        if (!m_connection) return;
        {
            CPulseConnection::CLock lock(m_connection->m_loop);
            if (m_timer) {
                pa_threaded_mainloop_get_api(m_connection->m_loop)->time_free(m_timer);
                m_timer = nullptr;
            }
            if (m_stream) {
                pa_stream_set_write_callback(m_stream, nullptr, nullptr);
                pa_stream_set_read_callback(m_stream, nullptr, nullptr);
                pa_stream_disconnect(m_stream);
                pa_stream_unref(m_stream);
                m_stream = nullptr;
            }
        }
        m_connection.reset();  // stops the connection's thread
    }

    // Connection thread: the server wants `bytes`; what the ring holds goes.
    static void Writable(pa_stream* s, size_t bytes, void* data) {
        auto* self = static_cast<CPulseClient*>(data);
        while (bytes > 0) {
            void* buffer = nullptr;
            size_t n = bytes;
            if (pa_stream_begin_write(s, &buffer, &n) < 0 || !buffer) return;
            const int got = self->Pull(static_cast<uint8_t*>(buffer), static_cast<int>(n) & ~3);
            if (got <= 0) {
                pa_stream_cancel_write(s);
                break;
            }
            pa_stream_write(s, buffer, static_cast<size_t>(got), nullptr, 0, PA_SEEK_RELATIVE);
            bytes -= std::min(bytes, static_cast<size_t>(got));
        }
    }

    static void Readable(pa_stream* s, size_t, void* data) {
        auto* self = static_cast<CPulseClient*>(data);
        const void* buffer = nullptr;
        size_t n = 0;
        while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &buffer, &n) == 0 && n > 0) {
            if (buffer) {
                self->Push(static_cast<const uint8_t*>(buffer), static_cast<int>(n));
            } else {
                // A hole in the stream: silence of its length.
                static const uint8_t zeros[4096] = {};
                for (size_t left = n; left > 0;) {
                    const size_t k = std::min(left, sizeof zeros);
                    self->Push(zeros, static_cast<int>(k));
                    left -= k;
                }
            }
            pa_stream_drop(s);
        }
    }

    static void StateChanged(pa_stream*, void* loop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
    }
    static void Corked(pa_stream*, int, void* loop) {
        pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
    }

    std::string m_device;
    std::unique_ptr<CPulseConnection> m_connection;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_timer = nullptr;
    pa_usec_t m_periodUs = 3000;
};

}  // namespace

bool PulseListEndpoints(int direction, std::vector<std::string>* names, int* defaultIndex) {
    names->clear();
    *defaultIndex = -1;
    CPulseConnection c;
    if (!c.Connect()) return false;
    CPulseConnection::CLock lock(c.m_loop);
    ListResult r{c.m_loop, names};
    pa_operation* op = direction == 0
                           ? pa_context_get_sink_info_list(c.m_context, &AddName<pa_sink_info>, &r)
                           : pa_context_get_source_info_list(c.m_context, &AddName<pa_source_info>, &r);
    if (!c.Finish(op)) return false;
    struct ServerResult {
        pa_threaded_mainloop* loop;
        std::string sink, source;
    } s{c.m_loop, {}, {}};
    c.Finish(pa_context_get_server_info(
        c.m_context,
        [](pa_context*, const pa_server_info* info, void* data) {
            auto* sr = static_cast<ServerResult*>(data);
            if (info) {
                sr->sink = info->default_sink_name ? info->default_sink_name : "";
                sr->source = info->default_source_name ? info->default_source_name : "";
            }
            pa_threaded_mainloop_signal(sr->loop, 0);
        },
        &s));
    const std::string& want = direction == 0 ? s.sink : s.source;
    for (size_t i = 0; i < names->size(); ++i)
        if ((*names)[i] == want) *defaultIndex = static_cast<int>(i);
    return true;
}

bool PulseVolume(const std::string& name, int direction, float* get, const float* set) {
    CPulseConnection c;
    if (!c.Connect()) return false;
    CPulseConnection::CLock lock(c.m_loop);
    VolumeResult r{c.m_loop};
    pa_operation* op =
        direction == 0
            ? pa_context_get_sink_info_by_name(c.m_context, name.c_str(), &TakeVolume<pa_sink_info>, &r)
            : pa_context_get_source_info_by_name(c.m_context, name.c_str(), &TakeVolume<pa_source_info>, &r);
    if (!c.Finish(op) || !r.found) return false;
    if (set) {
        const double v = std::clamp(static_cast<double>(*set), 0.0, 1.0);
        pa_cvolume_set(&r.volume, r.volume.channels, static_cast<pa_volume_t>(std::lround(v * PA_VOLUME_NORM)));
        op = direction == 0 ? pa_context_set_sink_volume_by_name(c.m_context, name.c_str(), &r.volume, &Done, c.m_loop)
                            : pa_context_set_source_volume_by_name(c.m_context, name.c_str(), &r.volume, &Done, c.m_loop);
        if (!c.Finish(op)) return false;
    }
    if (get) *get = static_cast<float>(static_cast<double>(pa_cvolume_avg(&r.volume)) / PA_VOLUME_NORM);
    return true;
}

CAuxletClient* PulseClient(const std::string& name, int direction) {
    return new (std::nothrow) CPulseClient(name, direction);
}
