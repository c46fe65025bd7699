#include "audio/AsioDevice.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/WaveOutDevice.h"
#include "platform/Clock.h"
#include "platform/FileApi.h"
#include "platform/Registry.h"
#include "platform/WinError.h"

std::atomic<CAsioDevice*> CAsioDevice::s_device{nullptr};

namespace {

int16_t Clamp16(double v) { return static_cast<int16_t>(std::clamp(std::trunc(v), -32768.0, 32767.0)); }

int ConverterParam(int rate) { return rate == 8000 ? 48 : rate == 16000 ? 32 : 96; }

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool QueryString(HKEY key, const char* name, char* buffer, DWORD size) {
    DWORD type = 0, got = size - 1;
    std::memset(buffer, 0, size);
    return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &got) == ERROR_SUCCESS &&
           type == REG_SZ;
}

bool FileExists(const std::string& path) {
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

// The in-process server registered for a class id text, found the way the
// driver list is read: every class id key compared in lower case.
bool FindServer(const std::string& clsidText, std::string* path) {
    HKEY classes = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "clsid", 0, KEY_READ, &classes) != ERROR_SUCCESS) return false;
    const std::string want = Lower(clsidText);
    bool found = false;
    char name[128];
    for (DWORD i = 0; !found && RegEnumKeyA(classes, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
        if (Lower(name) != want) continue;
        HKEY server = nullptr;
        const std::string sub = std::string(name) + "\\InprocServer32";
        if (RegOpenKeyExA(classes, sub.c_str(), 0, KEY_READ, &server) != ERROR_SUCCESS) break;
        char text[513];
        if (QueryString(server, "", text, sizeof text)) {
            *path = text;
            found = true;
        }
        RegCloseKey(server);
        break;
    }
    RegCloseKey(classes);
    return found;
}

}  // namespace

CAsioDevice::~CAsioDevice() { Close(); }

// ---- driver list ----

int CAsioDevice::EnumerateDrivers() {
    if (m_state != kNotListed) return 1;
    AsioInstallDrivers();
    m_drivers.clear();
    HKEY asio = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\asio", 0, KEY_READ, &asio) == ERROR_SUCCESS) {
        char name[129];
        for (DWORD i = 0; RegEnumKeyA(asio, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
            HKEY key = nullptr;
            if (RegOpenKeyExA(asio, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
            char clsid[257], description[129];
            std::string path;
            DriverRecord r;
            if (QueryString(key, "clsid", clsid, sizeof clsid) && FindServer(clsid, &path) && FileExists(path) &&
                CLSIDFromString(Lower(clsid).c_str(), &r.clsid) == S_OK) {
                r.index = static_cast<int>(m_drivers.size());
                r.path = path.substr(0, 512);
                r.name = QueryString(key, "description", description, sizeof description) ? description : name;
                m_drivers.push_back(r);
            }
            RegCloseKey(key);
        }
        RegCloseKey(asio);
    }
    m_driverCount = static_cast<int>(m_drivers.size());
    m_state = kClosed;
    m_errorText.clear();
    return 1;
}

void CAsioDevice::SelectDriver(int index, int firstInput, int firstOutput) {
    m_driverIndex = index;
    m_firstInput = firstInput;
    m_firstOutput = firstOutput;
}

int CAsioDevice::GetDriverName(int index, char* dst, int width) const {
    if (dst == nullptr || width <= 0 || index < 0 || index >= m_driverCount) return 0;
    const std::string& name = m_drivers[static_cast<size_t>(index)].name;
    if (static_cast<int>(name.size()) < width) {
        std::memcpy(dst, name.c_str(), name.size() + 1);
    } else if (width >= 5) {
        std::snprintf(dst, static_cast<size_t>(width), "%.*s...", width - 4, name.c_str());
    } else {
        // Too short for the dots: as much of the name as fits.
        std::snprintf(dst, static_cast<size_t>(width), "%.*s", width - 1, name.c_str());
    }
    return 1;
}

// ---- life cycle ----

void CAsioDevice::Fail(const char* text) {
    if (text) m_errorText = text;
    if (m_driver) {
        m_driver->Release();
        m_driver = nullptr;
        Sleep(250);
    }
    FreeBuffers();
}

int CAsioDevice::Open(void* window, int probeOnly) {
    if (m_state == kProbing || m_state == kPrepared || m_state == kRunning) return 1;
    if (m_state != kClosed || m_driver) return 0;
    if (m_driverIndex == -1) return 0;
    if (m_driverIndex < 0 || m_driverIndex >= m_driverCount) {
        m_errorText = "ASIO device does not exist or is already open.";
        return 0;
    }
    const CLSID& id = m_drivers[static_cast<size_t>(m_driverIndex)].clsid;
    void* object = nullptr;
    if (CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, id, &object) != S_OK || object == nullptr) {
        m_errorText = "ASIO device does not exist or is already open.";
        return 0;
    }
    m_driver = static_cast<IAsioDriver*>(object);
    if (!m_driver->init(window)) {
        Fail("ASIO driver init failed - you may wish to reinstall the driver\n");
        return 0;
    }
    if (!SetRate()) {
        Fail("Unable to set ASIO samplerate.");
        return 0;
    }
    if (!PrepareChannels()) {
        Fail("Unable to prepare the ASIO device.");
        return 0;
    }
    // A block the capture FIFO cannot take would never leave the ring.
    if (m_blockSamples * 4 > kCaptureFifoBytes) {
        char text[160];
        std::snprintf(text, sizeof text, "The ASIO buffer of %d samples is larger than the capture buffer (%d).",
                      m_blockSamples, kCaptureFifoBytes / 4);
        Fail(text);
        return 0;
    }
    if (!probeOnly && !AllocateBuffers()) {
        Fail("Not enough memory for the ASIO device.");
        return 0;
    }
    m_state = probeOnly ? kProbing : kPrepared;
    m_captureBuffering.store(-1, std::memory_order_release);
    m_playBuffering = -1;
    m_errorText.clear();
    return 1;
}

int CAsioDevice::SetRate() {
    ASIOSampleRate rate = 0;
    if (m_driver->getSampleRate(&rate) == ASE_OK && rate == 48000.0) return 1;
    return m_driver->canSampleRate(48000.0) == ASE_OK && m_driver->setSampleRate(48000.0) == ASE_OK;
}

int CAsioDevice::PrepareChannels() {
    if (m_driver->getChannels(&m_inputChannels, &m_outputChannels) != ASE_OK) return 0;
    if (m_inputChannels <= 0 || m_outputChannels <= 0) return 0;
    long minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
    if (m_driver->getBufferSize(&minSize, &maxSize, &preferred, &granularity) != ASE_OK) return 0;
    long n = static_cast<long>(m_blockSetting) * 48;
    n = std::max(n, minSize);
    n = std::min(n, maxSize);
    if (n <= 0) return 0;
    m_blockSamples = static_cast<int>(n);
    for (int i = 0; i < 4; ++i) {
        ASIOChannelInfo info;
        info.isInput = i < 2 ? ASIOTrue : ASIOFalse;
        info.channel = (i < 2 ? m_firstInput : m_firstOutput) + (i % 2);
        if (m_driver->getChannelInfo(&info) != ASE_OK) return 0;
        if (info.type != ASIOSTInt16LSB && info.type != ASIOSTInt32LSB) return 0;
        m_channelType[i] = info.type;
    }
    m_postOutput = m_driver->outputReady() == ASE_OK ? 1 : 0;
    return 1;
}

int CAsioDevice::AllocateBuffers() {
    const size_t blockBytes = static_cast<size_t>(m_blockSamples) * 4;
    m_ringData.reset(new (std::nothrow) uint8_t[static_cast<size_t>(m_blockSamples) * 96 + 192]());
    m_fifoArea.reset(new (std::nothrow) uint8_t[kFifoAreaBytes]());
    if (!m_ringData || !m_fifoArea) return 0;
    for (int i = 0; i < kRingBlocks; ++i) {
        m_captureRing[i].data = reinterpret_cast<int16_t*>(m_ringData.get() + static_cast<size_t>(i) * blockBytes);
        m_playRing[i].data =
            reinterpret_cast<int16_t*>(m_ringData.get() + static_cast<size_t>(kRingBlocks + i) * blockBytes);
    }
    return 1;
}

void CAsioDevice::FreeBuffers() {
    for (int i = 0; i < kRingBlocks; ++i) m_captureRing[i].data = m_playRing[i].data = nullptr;
    m_ringData.reset();
    m_fifoArea.reset();
}

int CAsioDevice::ChannelBytes(int channel) const {
    return m_blockSamples * (m_channelType[channel] == ASIOSTInt16LSB ? 2 : 4);
}

int CAsioDevice::Start() {
    if (m_state == kRunning) return 1;
    if (m_state != kPrepared || !m_driver || !m_ringData) return 0;
    for (int i = 0; i < 4; ++i) {
        m_bufferInfos[i] = ASIOBufferInfo{};
        m_bufferInfos[i].isInput = i < 2 ? ASIOTrue : ASIOFalse;
        m_bufferInfos[i].channelNum = (i < 2 ? m_firstInput : m_firstOutput) + (i % 2);
    }
    for (int i = 0; i < kRingBlocks; ++i) {
        m_captureRing[i].full.store(0, std::memory_order_relaxed);
        m_playRing[i].full.store(0, std::memory_order_relaxed);
    }
    m_captureSequence = m_playSequence = m_captureTaken = 0;
    m_underrunRun = 0;
    m_lostBlocks.store(0, std::memory_order_relaxed);
    m_underruns.store(0, std::memory_order_relaxed);
    m_repeats.store(0, std::memory_order_relaxed);
    m_playInserted = m_playDropped = m_captureInserted = m_captureDropped = 0;
    m_callbacks.bufferSwitch = &CAsioDevice::BufferSwitch;
    m_callbacks.sampleRateDidChange = &CAsioDevice::SampleRateChanged;
    m_callbacks.asioMessage = &CAsioDevice::AsioMessage;
    m_callbacks.bufferSwitchTimeInfo = &CAsioDevice::BufferSwitchTimeInfo;
    s_device.store(this, std::memory_order_release);  // before the driver can call back
    const ASIOError c = m_driver->createBuffers(m_bufferInfos, 4, m_blockSamples, &m_callbacks);
    char text[96];
    if (c != ASE_OK) {
        s_device.store(nullptr, std::memory_order_release);
        std::snprintf(text, sizeof text, "Not enough memory for the ASIO device: %ld.", c);
        m_errorText = text;
        return 0;
    }
    for (int i = 0; i < 4; ++i)
        for (void* half : m_bufferInfos[i].buffers)
            if (half) std::memset(half, 0, static_cast<size_t>(ChannelBytes(i)));
    const ASIOError s = m_driver->start();
    if (s != ASE_OK) {
        m_driver->disposeBuffers();  // stops the driver's thread first
        s_device.store(nullptr, std::memory_order_release);
        std::snprintf(text, sizeof text, "Unable to start the ASIO device: %ld.", s);
        m_errorText = text;
        return 0;
    }
    m_state = kRunning;
    m_underrunFlag.store(0, std::memory_order_relaxed);
    m_playDrift = 0;
    m_outputPaused.store(0, std::memory_order_release);
    m_errorText.clear();
    return 1;
}

int CAsioDevice::Stop() {
    if (m_state != kRunning) return 1;
    m_driver->stop();
    m_driver->disposeBuffers();
    // The driver's thread has ended: nothing can reach the device any more.
    m_captureFill = m_playFill = m_monitorFill = 0;
    m_captureCapacity = m_playCapacity = 0;
    m_captureOn.store(0, std::memory_order_release);
    m_playOn.store(0, std::memory_order_release);
    m_monitorPrimed = 0;
    m_underrunFlag.store(0, std::memory_order_relaxed);
    m_overrunFlag.store(0, std::memory_order_relaxed);
    m_outputPaused.store(0, std::memory_order_relaxed);
    s_device.store(nullptr, std::memory_order_release);
    m_state = kPrepared;
    return 1;
}

void CAsioDevice::Close() {
    m_captureBuffering.store(-1, std::memory_order_release);
    m_playBuffering = -1;
    if (m_state == kRunning) Stop();
    if (m_state != kNotListed) m_state = kClosed;
    if (m_driver) {
        m_driver->Release();
        m_driver = nullptr;
        Sleep(250);
    }
    FreeBuffers();
}

// ---- formats and modes ----

void CAsioDevice::CaptureSizes() {
    const int ch = m_captureChannels.load(std::memory_order_relaxed);
    m_captureBlockBytes = m_blockSamples * ch * 2;
    if (m_captureBuffering.load(std::memory_order_relaxed) != 0) {
        m_captureCapacity = m_captureHighMark = ch * 2304 + m_captureBlockBytes;
    } else {
        m_captureHighMark = std::max(2 * m_captureBlockBytes, ch * 2304 / 3) + 4 * ch;
        m_captureCapacity = m_captureBlockBytes + m_captureHighMark;
        m_captureSilence *= 2;
    }
    m_captureCapacity = std::min(m_captureCapacity, kCaptureFifoBytes);
    m_captureFill = std::min(m_captureFill, m_captureCapacity);
}

void CAsioDevice::PlaybackSizes() {
    const int ch = m_playChannels.load(std::memory_order_relaxed);
    m_playBlockBytes = m_blockSamples * ch * 2;
    m_muted = 1;
    if (m_playBuffering == 0) {
        m_playCapacity = 3 * m_playBlockBytes + 4 * ch;
        m_playHighMark = 3 * m_playBlockBytes;
    } else if (m_playBuffering == 10 || m_playBuffering == 20) {
        m_playCapacity = kPlayFifoBytes;
        m_playHighMark = (13312 - ch) * 4 - m_playBlockBytes;
        m_playLowMark = m_playHighMark - 3 * m_playBlockBytes;
    } else {
        m_muted = 0;
        m_playCapacity = m_playHighMark = ch * 4610;
    }
    m_playCapacity = std::min(m_playCapacity, kPlayFifoBytes);
    m_playFill = std::min(m_playFill, m_playCapacity);
}

void CAsioDevice::SetCaptureFormat(int type, int rate, int deviceMode) {
    const int ch = (deviceMode == 10 || deviceMode == 11) ? 1 : 2;
    m_captureChannels.store(ch, std::memory_order_release);
    m_captureMode.store(deviceMode, std::memory_order_release);
    m_captureType = type;
    m_captureRate = rate;
    m_captureSilence = ch * (rate / 48000) * 28800;
    m_captureConverter.Init(48000, ch, rate, ch, ConverterParam(rate));
    CaptureSizes();
    if (m_fifoArea) std::memset(m_fifoArea.get() + kPlayFifoBytes + kMonitorBytes, 0, kCaptureFifoBytes);
    m_captureFill = 0;
    m_captureStretch = 0;
    m_captureOn.store(1, std::memory_order_release);
}

void CAsioDevice::SetPlaybackFormat(int type, int rate, int deviceMode) {
    const int ch = (deviceMode >= 20 && deviceMode <= 22) ? 2 : 1;
    m_playChannels.store(ch, std::memory_order_release);
    m_playMode.store(deviceMode, std::memory_order_release);
    m_playType = type;
    m_playRate = rate;
    m_playSilence = ch * (rate / 48000) * 17280;
    m_playConverter.Init(rate, ch, 48000, ch, ConverterParam(rate));
    PlaybackSizes();
    // The FIFO starts full of silence.
    if (m_fifoArea) std::memset(m_fifoArea.get(), 0, kPlayFifoBytes);
    m_playFill = m_playCapacity;
    m_playOn.store(1, std::memory_order_release);
}

void CAsioDevice::SetMonitorFormat(int rate, int deviceMode) {
    const int ch = deviceMode == 10 ? 1 : 2;
    m_monitorConverter.Init(rate, ch, 48000, m_playChannels.load(std::memory_order_relaxed), 128);
    if (m_fifoArea) std::memset(m_fifoArea.get() + kPlayFifoBytes, 0, kMonitorBytes);
    m_monitorFill = 0;
    m_monitorPrimed = 0;
}

void CAsioDevice::SetCaptureMode(int mode) {
    if (mode == m_captureBuffering.load(std::memory_order_relaxed)) return;
    m_captureBuffering.store(mode, std::memory_order_release);
    CaptureSizes();
}

void CAsioDevice::SetPlaybackMode(int mode, int adjust) {
    if (mode == 20) {
        if (m_state == kRunning && m_outputPaused.load(std::memory_order_relaxed) && adjust <= 0)
            m_outputPaused.store(0, std::memory_order_release);
        if (adjust != m_playAdjust) {
            m_playAdjust = adjust;
            m_playDrift = 0;
        }
    } else {
        m_playAdjust = 0;
    }
    if (mode != m_playBuffering) {
        m_playBuffering = mode;
        PlaybackSizes();
    }
}

void CAsioDevice::SetOutputMute(int flag) {
    if (m_muted && !flag) m_playSilence = m_playChannels.load(std::memory_order_relaxed) * 17280;
    m_muted = flag;
}

int CAsioDevice::PauseOutput() {
    if (m_state != kRunning) return 0;
    m_outputPaused.store(1, std::memory_order_release);
    return 1;
}

int CAsioDevice::ResumeOutput() {
    if (m_state != kRunning) return 0;
    m_outputPaused.store(0, std::memory_order_release);
    return 1;
}

void CAsioDevice::SetPlayLevel(int x) {
    if (x < 0) {
        m_playGainOn = 1;
        m_playGain = 1.0 / std::exp2(0.1 * std::abs(x) * M_LOG2E);
    } else {
        m_playGainOn = 0;
        m_playGain = 1.0;
    }
}

void CAsioDevice::SetCaptureLevel(int x) {
    if (x == 0) {
        m_captureGainOn = 0;
        m_captureGain = 1.0;
        return;
    }
    const double f = std::exp2(0.1 * std::abs(x) * M_LOG2E);
    m_captureGainOn = 1;
    m_captureGain = x > 0 ? f : 1.0 / f;
}

void CAsioDevice::GetCaptureLevels(int* left, int* right) {
    int l = m_captureLeft.load(std::memory_order_relaxed), r = m_captureRight.load(std::memory_order_relaxed);
    if (m_captureGainOn) {
        l = static_cast<int>(std::min(l * m_captureGain, 32768.0));
        r = static_cast<int>(std::min(r * m_captureGain, 32768.0));
    }
    if (left) *left = l;
    if (right) *right = r;
    m_captureLevelReset.store(1, std::memory_order_release);
}

void CAsioDevice::GetPlayLevels(int* left, int* right) {
    if (left) *left = m_playLeft.load(std::memory_order_relaxed);
    if (right) *right = m_playRight.load(std::memory_order_relaxed);
    m_playLevelReset.store(1, std::memory_order_release);
}

// ---- driver thread ----

void CAsioDevice::BufferSwitch(long index, ASIOBool) {
    CAsioDevice* self = s_device.load(std::memory_order_acquire);
    if (self == nullptr || index < 0 || index > 1) return;
    if (self->m_captureOn.load(std::memory_order_acquire) &&
        self->m_captureBuffering.load(std::memory_order_acquire) != 1)
        self->CaptureSwitch(static_cast<int>(index));
    if (self->m_playOn.load(std::memory_order_acquire)) {
        self->PlaybackSwitch(static_cast<int>(index));
        if (self->m_postOutput) self->m_driver->outputReady();
    }
}

ASIOTime* CAsioDevice::BufferSwitchTimeInfo(ASIOTime*, long index, ASIOBool directProcess) {
    BufferSwitch(index, directProcess);
    return nullptr;
}

void CAsioDevice::SampleRateChanged(ASIOSampleRate) {}

// Reset, resync and latency-change requests are not acted on, so they are
// not claimed either: the driver then handles them itself.
long CAsioDevice::AsioMessage(long selector, long value, void*, double*) {
    switch (selector) {
        case kAsioSelectorSupported:
            return (value == kAsioEngineVersion || value == kAsioSupportsTimeInfo || value == kAsioSupportsTimeCode ||
                    value == 9)
                       ? 1
                       : 0;
        case kAsioEngineVersion: return 2;
        case kAsioSupportsTimeInfo:
        case kAsioSupportsTimeCode: return 1;
        default: return 0;
    }
}

namespace {

int16_t SampleAt(const void* buffer, ASIOSampleType type, int i) {
    if (type == ASIOSTInt16LSB) {
        int16_t s;
        std::memcpy(&s, static_cast<const uint8_t*>(buffer) + 2 * i, 2);
        return s;
    }
    int32_t v;
    std::memcpy(&v, static_cast<const uint8_t*>(buffer) + 4 * i, 4);
    return static_cast<int16_t>(v >> 16);
}

void PutSample(void* buffer, ASIOSampleType type, int i, int16_t s) {
    if (type == ASIOSTInt16LSB) {
        std::memcpy(static_cast<uint8_t*>(buffer) + 2 * i, &s, 2);
    } else {
        const int32_t v = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(s)) << 16);
        std::memcpy(static_cast<uint8_t*>(buffer) + 4 * i, &v, 4);
    }
}

}  // namespace

void CAsioDevice::CaptureSwitch(int half) {
    const void* left = m_bufferInfos[0].buffers[half];
    const void* right = m_bufferInfos[1].buffers[half];
    if (!left || !right) return;
    if (m_captureLevelReset.exchange(0, std::memory_order_acq_rel)) {
        m_captureLeft.store(0, std::memory_order_relaxed);
        m_captureRight.store(0, std::memory_order_relaxed);
    }
    const int ch = m_captureChannels.load(std::memory_order_acquire);
    const int mode = m_captureMode.load(std::memory_order_acquire);
    int pl = m_captureLeft.load(std::memory_order_relaxed), pr = m_captureRight.load(std::memory_order_relaxed);
    for (int i = 0; i < m_blockSamples; ++i) {
        pl = std::max(pl, std::abs(int(SampleAt(left, m_channelType[0], i))));
        pr = std::max(pr, std::abs(int(SampleAt(right, m_channelType[1], i))));
    }
    m_captureLeft.store(pl, std::memory_order_relaxed);
    m_captureRight.store(ch == 1 ? pl : pr, std::memory_order_relaxed);
    Block* free = nullptr;
    for (Block& b : m_captureRing)
        if (!b.full.load(std::memory_order_acquire)) {
            free = &b;
            break;
        }
    if (free == nullptr) {
        m_lostBlocks.fetch_add(1, std::memory_order_relaxed);
        m_overrunFlag.store(1, std::memory_order_relaxed);
        return;
    }
    int16_t* d = free->data;
    for (int i = 0; i < m_blockSamples; ++i) {
        const int l = SampleAt(left, m_channelType[0], i), r = SampleAt(right, m_channelType[1], i);
        if (mode == 10) {
            d[i] = static_cast<int16_t>(l);
        } else if (mode == 11) {
            d[i] = static_cast<int16_t>((l + r) >> 1);
        } else {
            d[2 * i] = static_cast<int16_t>(l);
            d[2 * i + 1] = static_cast<int16_t>(r);
        }
    }
    free->stamp.store(m_captureSequence++, std::memory_order_relaxed);
    free->full.store(1, std::memory_order_release);  // data and stamp before the flag
}

void CAsioDevice::PlaybackSwitch(int half) {
    void* left = m_bufferInfos[2].buffers[half];
    void* right = m_bufferInfos[3].buffers[half];
    if (!left || !right) return;
    if (m_playLevelReset.exchange(0, std::memory_order_acq_rel)) {
        m_playLeft.store(0, std::memory_order_relaxed);
        m_playRight.store(0, std::memory_order_relaxed);
    }
    if (m_outputPaused.load(std::memory_order_acquire)) {
        std::memset(left, 0, static_cast<size_t>(ChannelBytes(2)));
        std::memset(right, 0, static_cast<size_t>(ChannelBytes(3)));
        return;
    }
    if (!m_clipActive.load(std::memory_order_acquire)) {
        int pl = m_playLeft.load(std::memory_order_relaxed), pr = m_playRight.load(std::memory_order_relaxed);
        for (int i = 0; i < m_blockSamples; ++i) {
            pl = std::max(pl, std::abs(int(SampleAt(left, m_channelType[2], i))));
            pr = std::max(pr, std::abs(int(SampleAt(right, m_channelType[3], i))));
        }
        m_playLeft.store(pl, std::memory_order_relaxed);
        m_playRight.store(pr, std::memory_order_relaxed);
    }
    Block* next = nullptr;
    for (Block& b : m_playRing) {
        if (!b.full.load(std::memory_order_acquire)) continue;
        if (next == nullptr || static_cast<int32_t>(b.stamp.load(std::memory_order_relaxed) -
                                                    next->stamp.load(std::memory_order_relaxed)) < 0)
            next = &b;
    }
    if (next == nullptr) {
        // Four switches in a row repeat what the buffers hold; then silence.
        m_underrunFlag.store(1, std::memory_order_relaxed);
        m_underruns.fetch_add(1, std::memory_order_relaxed);
        if (++m_underrunRun > 4) {
            std::memset(left, 0, static_cast<size_t>(ChannelBytes(2)));
            std::memset(right, 0, static_cast<size_t>(ChannelBytes(3)));
        } else {
            // The other half holds the block played last.
            std::memcpy(left, m_bufferInfos[2].buffers[1 - half], static_cast<size_t>(ChannelBytes(2)));
            std::memcpy(right, m_bufferInfos[3].buffers[1 - half], static_cast<size_t>(ChannelBytes(3)));
            m_repeats.fetch_add(1, std::memory_order_relaxed);
        }
        return;
    }
    const int16_t* s = next->data;
    const bool mono = m_playChannels.load(std::memory_order_acquire) == 1;
    for (int i = 0; i < m_blockSamples; ++i) {
        PutSample(left, m_channelType[2], i, mono ? s[i] : s[2 * i]);
        PutSample(right, m_channelType[3], i, mono ? s[i] : s[2 * i + 1]);
    }
    next->full.store(0, std::memory_order_release);
    m_underrunRun = 0;
}

// ---- engine side: playback ----

void CAsioDevice::MixMonitor(int16_t* part, int bytes) {
    if (!m_monitorPrimed || m_monitorFill <= 0) return;
    auto* monitor = reinterpret_cast<int16_t*>(m_fifoArea.get() + kPlayFifoBytes);
    const int n = std::min(bytes, m_monitorFill) & ~1;
    for (int i = 0; i < n / 2; ++i) part[i] = Clamp16(static_cast<double>(part[i]) + monitor[i]);
    std::memmove(monitor, reinterpret_cast<uint8_t*>(monitor) + n, static_cast<size_t>(m_monitorFill - n));
    m_monitorFill -= n;
    if (m_monitorFill <= 0) m_monitorPrimed = 0;
}

int CAsioDevice::Write(const int16_t* pcm, int bytes) {
    if (m_state != kRunning || !m_playOn.load(std::memory_order_relaxed) || pcm == nullptr || bytes <= 0) return 0;
    const int frame = 2 * m_playChannels.load(std::memory_order_relaxed);
    int room = m_playCapacity - m_playFill;
    // Room for the frame a drift insert adds: it must stay inside the FIFO.
    if (m_playDrift > 0 && m_playBuffering != 30) room -= frame;
    if (room <= 0) return 0;
    uint8_t* fifo = m_fifoArea.get();
    auto* part = reinterpret_cast<int16_t*>(fifo + m_playFill);
    int consumed = 0;
    int p = m_playConverter.Convert(pcm, bytes, &consumed, part, room);
    if (m_playBuffering != 30 && p > 0) {
        if (!m_muted) {
            if (m_playSilence > 0) {
                std::memset(part, 0, static_cast<size_t>(p));
                m_playSilence -= p / 2;
            }
        } else if (m_playBuffering != 0) {
            std::memset(part, 0, static_cast<size_t>(p));
        } else {
            p = 0;  // muted in ISDN mode: discarded
        }
        if (p > 0 && m_playDrift < 0) {
            ++m_playDrift;
            p -= frame;
            ++m_playDropped;
        } else if (p > 0 && m_playDrift > 0) {
            --m_playDrift;
            p = StretchByOneFrame(part, p, frame / 2);
            ++m_playInserted;
        }
        if (p > 0 && m_clipActive.load(std::memory_order_relaxed)) {
            int pl = 0, pr = 0;
            for (int i = 0; i < p / 2; ++i) {
                const int v = std::abs(int(part[i]));
                if (frame == 2 || i % 2 == 0) pl = std::max(pl, v);
                if (frame == 2 || i % 2 == 1) pr = std::max(pr, v);
            }
            m_playLeft.store(pl, std::memory_order_relaxed);
            m_playRight.store(pr, std::memory_order_relaxed);
        }
        if (p > 0) MixMonitor(part, p);
    }
    if (m_playGainOn && p > 0)
        for (int i = 0; i < p / 2; ++i) part[i] = Clamp16(part[i] * m_playGain);
    m_playFill += std::max(p, 0);
    Service();
    return consumed;
}

int CAsioDevice::WriteMonitor(const int16_t* pcm, int bytes) {
    if (!m_fifoArea || pcm == nullptr || bytes <= 0) return 0;
    auto* monitor = reinterpret_cast<int16_t*>(m_fifoArea.get() + kPlayFifoBytes + m_monitorFill);
    int consumed = 0;
    m_monitorFill += m_monitorConverter.Convert(pcm, bytes, &consumed, monitor, kMonitorBytes - m_monitorFill);
    if (m_monitorFill > 6 * m_playBlockBytes) m_monitorPrimed = 1;
    Service();
    return consumed;
}

void CAsioDevice::ExposeSilence(int newFill) {
    // Bytes the fill now covers were never written: they must play as silence.
    if (newFill > m_playFill) {
        std::memset(m_fifoArea.get() + m_playFill, 0, static_cast<size_t>(newFill - m_playFill));
        m_playInserted += (newFill - m_playFill) / (2 * m_playChannels.load(std::memory_order_relaxed));
    }
    m_playFill = newFill;
}

void CAsioDevice::Service() {
    if (m_state != kRunning || !m_playOn.load(std::memory_order_relaxed) || m_playBlockBytes <= 0) return;
    if (!m_muted) m_underrunFlag.store(0, std::memory_order_relaxed);
    uint8_t* fifo = m_fifoArea.get();
    m_movedBlocks = 0;
    int fullBlocks = 0;
    for (Block& b : m_playRing) {
        if (b.full.load(std::memory_order_acquire)) {
            ++fullBlocks;
            continue;
        }
        if (m_playFill < m_playBlockBytes) continue;
        std::memcpy(b.data, fifo, static_cast<size_t>(m_playBlockBytes));
        std::memmove(fifo, fifo + m_playBlockBytes, static_cast<size_t>(m_playFill - m_playBlockBytes));
        m_playFill -= m_playBlockBytes;
        b.stamp.store(m_playSequence++, std::memory_order_relaxed);
        b.full.store(1, std::memory_order_release);
        ++m_movedBlocks;
        ++fullBlocks;
    }
    if (m_playBuffering == 30 || m_playDrift != 0) return;
    const bool quiet = m_muted || m_playSilence > 0;
    if (m_playBuffering == 20 && m_playAdjust > 0) m_playDrift = m_playBlockBytes;
    if (m_playBuffering == 0 && fullBlocks <= 2) {
        if (quiet) ExposeSilence(m_playCapacity - fullBlocks * m_playBlockBytes);
        m_playDrift = m_playBlockBytes / 2;
    }
    if (m_playBuffering == 10 && m_playFill < m_playLowMark) {
        if (quiet) {
            ExposeSilence(m_playLowMark);
        } else {
            m_playDrift = m_playBlockBytes / 2;
        }
    }
    if ((m_playBuffering == 0 || m_playBuffering == 10) && m_playFill > m_playHighMark && m_movedBlocks > 2) {
        m_playDrift = -(m_playBlockBytes / 2);
        if (m_playBuffering == 0 && quiet) {
            m_playDropped += m_playFill / (2 * m_playChannels.load(std::memory_order_relaxed));
            m_playFill = 0;
        }
    }
}

// ---- engine side: capture ----

void CAsioDevice::ServiceCapture() {
    if (m_state != kRunning || !m_captureOn.load(std::memory_order_relaxed) || m_captureBlockBytes <= 0) return;
    m_overrunFlag.store(0, std::memory_order_relaxed);
    uint8_t* fifo = m_fifoArea.get() + kPlayFifoBytes + kMonitorBytes;
    for (;;) {
        Block* next = nullptr;
        int waiting = 0;
        for (Block& b : m_captureRing) {
            if (!b.full.load(std::memory_order_acquire)) continue;
            ++waiting;
            if (next == nullptr || static_cast<int32_t>(b.stamp.load(std::memory_order_relaxed) -
                                                        next->stamp.load(std::memory_order_relaxed)) < 0)
                next = &b;
        }
        if (next == nullptr || m_captureCapacity - m_captureFill < m_captureBlockBytes) {
            if (m_captureBuffering.load(std::memory_order_relaxed) != 0 || m_captureStretch != 0) return;
            if (m_captureFill >= m_captureHighMark && waiting > 2) m_captureStretch = -(m_captureBlockBytes / 2);
            return;
        }
        auto* dst = reinterpret_cast<int16_t*>(fifo + m_captureFill);
        if (m_captureGainOn) {
            for (int i = 0; i < m_captureBlockBytes / 2; ++i) dst[i] = Clamp16(next->data[i] * m_captureGain);
        } else {
            std::memcpy(dst, next->data, static_cast<size_t>(m_captureBlockBytes));
        }
        next->full.store(0, std::memory_order_release);
        m_captureFill += m_captureBlockBytes;
    }
}

int CAsioDevice::Read(int16_t* dst, int bytes) {
    if (m_state != kRunning || !m_captureOn.load(std::memory_order_relaxed) || dst == nullptr || bytes <= 0) return 0;
    const int frame = 2 * m_captureChannels.load(std::memory_order_relaxed);
    const bool isdn = m_captureBuffering.load(std::memory_order_relaxed) == 0;
    // An inserted frame stays within the caller's bytes.
    const int room = (isdn && m_captureStretch > 0) ? bytes - frame : bytes;
    if (room <= 0) return 0;
    uint8_t* fifo = m_fifoArea.get() + kPlayFifoBytes + kMonitorBytes;
    int consumed = 0;
    int n = m_captureConverter.Convert(reinterpret_cast<const int16_t*>(fifo), m_captureFill, &consumed, dst, room);
    if (consumed > 0) {
        std::memmove(fifo, fifo + consumed, static_cast<size_t>(m_captureFill - consumed));
        m_captureFill -= consumed;
    }
    if (n <= 0) return 0;
    if (m_captureSilence > 0) {
        std::memset(dst, 0, static_cast<size_t>(n));
        m_captureSilence -= n / 2;
    }
    if (isdn && m_captureStretch < 0 && n > frame) {
        ++m_captureStretch;
        n -= frame;
        ++m_captureDropped;
    } else if (isdn && m_captureStretch > 0) {
        --m_captureStretch;
        n = StretchByOneFrame(dst, n, frame / 2);
        ++m_captureInserted;
    }
    return n;
}

int CAsioDevice::RequestStretch() {
    const int mode = m_captureBuffering.load(std::memory_order_relaxed);
    if (mode != 0) return mode;
    if (m_captureFill > 0) return m_captureFill;
    if (m_captureStretch <= 0) m_captureStretch = m_captureBlockBytes;
    return m_captureStretch;
}

// ---- driver details ----

int CAsioDevice::GetChannelCount(int input) const {
    if (!m_driver) return -1;
    return static_cast<int>(input ? m_inputChannels : m_outputChannels);
}

int CAsioDevice::GetChannelName(int channel, int input, char* dst, int len) const {
    if (!m_driver || dst == nullptr || len <= 0) return 0;
    ASIOChannelInfo info;
    info.channel = channel;
    info.isInput = input ? ASIOTrue : ASIOFalse;
    if (m_driver->getChannelInfo(&info) != ASE_OK) return 0;
    std::snprintf(dst, static_cast<size_t>(len), "%.*s", len - 1, info.name);
    return 1;
}

int CAsioDevice::ShowControlPanel() { return m_driver && m_driver->controlPanel() == ASE_OK ? 1 : 0; }
