#include "platform/AsioDriverBase.h"

#include <cstdio>
#include <cstring>

CAsioDriverBase::CAsioDriverBase(std::string name, long inputs, long outputs, ASIOSampleType type)
    : m_name(std::move(name)), m_inputs(inputs), m_outputs(outputs), m_type(type) {}

void CAsioDriverBase::getDriverName(char* name) {
    if (name) std::snprintf(name, 32, "%s", m_name.c_str());
}

void CAsioDriverBase::getErrorMessage(char* text) {
    if (text) std::snprintf(text, 124, "%s", m_error.c_str());
}

ASIOError CAsioDriverBase::getChannels(long* numInputs, long* numOutputs) {
    if (numInputs) *numInputs = m_inputs;
    if (numOutputs) *numOutputs = m_outputs;
    return ASE_OK;
}

ASIOError CAsioDriverBase::getLatencies(long* inputLatency, long* outputLatency) {
    if (inputLatency) *inputLatency = m_bufferSize;
    if (outputLatency) *outputLatency = m_bufferSize;
    return ASE_OK;
}

ASIOError CAsioDriverBase::getChannelInfo(ASIOChannelInfo* info) {
    if (info == nullptr) return ASE_InvalidParameter;
    const long count = info->isInput ? m_inputs : m_outputs;
    if (info->channel < 0 || info->channel >= count) return ASE_InvalidParameter;
    info->isActive = ASIOFalse;
    for (const Channel& c : m_channels)
        if (c.input == (info->isInput != ASIOFalse) && c.number == info->channel) info->isActive = ASIOTrue;
    info->channelGroup = 0;
    info->type = m_type;
    std::snprintf(info->name, sizeof info->name, "%s %ld", info->isInput ? "In" : "Out", info->channel + 1);
    return ASE_OK;
}

ASIOError CAsioDriverBase::createBuffers(ASIOBufferInfo* infos, long numChannels, long bufferSize,
                                         const ASIOCallbacks* callbacks) {
    if (!m_channels.empty()) return ASE_InvalidMode;
    if (infos == nullptr || callbacks == nullptr || numChannels <= 0 || bufferSize <= 0 || bufferSize > 65536)
        return ASE_InvalidParameter;
    for (long i = 0; i < numChannels; ++i) {
        const long count = infos[i].isInput ? m_inputs : m_outputs;
        if (infos[i].channelNum < 0 || infos[i].channelNum >= count) return ASE_InvalidParameter;
    }
    m_bufferSize = bufferSize;
    m_callbacks = *callbacks;
    const size_t bytes = 2 * static_cast<size_t>(bufferSize) * SampleBytes();
    for (long i = 0; i < numChannels; ++i) {
        Channel c;
        c.input = infos[i].isInput != ASIOFalse;
        c.number = infos[i].channelNum;
        c.data.reset(new (std::nothrow) uint8_t[bytes]());
        if (!c.data) {
            m_channels.clear();
            return ASE_NoMemory;
        }
        infos[i].buffers[0] = c.data.get();
        infos[i].buffers[1] = c.data.get() + bytes / 2;
        m_channels.push_back(std::move(c));
    }
    m_half = 0;
    m_position = 0;
    if (!ChannelsCreated()) {
        m_channels.clear();
        return ASE_HWMalfunction;
    }
    return ASE_OK;
}

ASIOError CAsioDriverBase::disposeBuffers() {
    stop();
    ChannelsDisposed();
    m_channels.clear();
    return ASE_OK;
}
