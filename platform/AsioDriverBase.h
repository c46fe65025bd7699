#pragma once
// What the built-in ASIO drivers share: the channel list, the double
// buffers made by createBuffers and the hand-over of one period to the host
// (inputs in, buffer switch, outputs out). Internal to platform/.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/AsioApi.h"

class CAsioDriverBase : public IAsioDriver {
public:
    CAsioDriverBase(std::string name, long inputs, long outputs, ASIOSampleType type);

    void getDriverName(char* name) override;
    long getDriverVersion() override { return 1; }
    void getErrorMessage(char* text) override;
    ASIOError getChannels(long* numInputs, long* numOutputs) override;
    ASIOError getLatencies(long* inputLatency, long* outputLatency) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* infos, long numChannels, long bufferSize,
                            const ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override { return ASE_NotPresent; }
    ASIOError outputReady() override { return ASE_NotPresent; }

protected:
    // A buffer created for one channel: both halves, in the driver's type.
    struct Channel {
        bool input = false;
        long number = 0;
        std::unique_ptr<uint8_t[]> data;  // two halves back to back
    };
    int SampleBytes() const { return m_type == ASIOSTInt16LSB ? 2 : 4; }
    uint8_t* Half(const Channel& c, int half) const {
        return c.data.get() + static_cast<size_t>(half) * static_cast<size_t>(m_bufferSize) * SampleBytes();
    }
    // Driver thread: one period. fillInputs writes each input half, then the
    // host's buffer switch runs, then takeOutputs reads each output half.
    template <typename In, typename Out>
    void RunPeriod(In fillInputs, Out takeOutputs) {
        const int half = m_half;
        for (Channel& c : m_channels)
            if (c.input) fillInputs(c, Half(c, half));
        if (m_callbacks.bufferSwitchTimeInfo) {
            ASIOTime t;
            t.samplePosition = static_cast<double>(m_position);
            t.sampleRate = m_rate;
            m_callbacks.bufferSwitchTimeInfo(&t, half, ASIOTrue);
        } else if (m_callbacks.bufferSwitch) {
            m_callbacks.bufferSwitch(half, ASIOTrue);
        }
        for (Channel& c : m_channels)
            if (!c.input) takeOutputs(c, Half(c, half));
        m_position += m_bufferSize;
        m_half = 1 - half;
    }
    virtual bool ChannelsCreated() { return true; }  // after createBuffers; false undoes it
    virtual void ChannelsDisposed() {}

    std::string m_name;
    std::string m_error;
    long m_inputs;
    long m_outputs;
    ASIOSampleType m_type;
    double m_rate = 48000.0;
    long m_bufferSize = 0;
    ASIOCallbacks m_callbacks{};
    std::vector<Channel> m_channels;
    int m_half = 0;
    uint64_t m_position = 0;
};
