#include "ui/AnswerIpLogic.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>

#include "common/Settings.h"

namespace {
constexpr int kCodingTypes[CAnswerIpLogic::kCodingCount] = {1, 64, 32, 256, 272};
constexpr int kLayer3Rates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};
constexpr int kSamplerates[] = {48000, 44100, 32000, 24000, 22050, 16000};
constexpr int kDefaultPort = 5003;
constexpr int kDefaultBitrate = 128000;

bool IsKbps(int bitsPerSecond, std::initializer_list<int> kbps) {
    for (int k : kbps)
        if (k * 1000 == bitsPerSecond) return true;
    return false;
}

bool Contains(const std::vector<int>& list, int value) {
    return value != 0 && std::find(list.begin(), list.end(), value) != list.end();
}
}  // namespace

int CAnswerIpLogic::CodingTypeOf(int entry) {
    return entry >= 0 && entry < kCodingCount ? kCodingTypes[entry] : kCodingTypes[kLayer3];
}

int CAnswerIpLogic::EntryOfCodingType(int type) {
    for (int entry = 0; entry < kCodingCount; ++entry)
        if (kCodingTypes[entry] == type) return entry;
    return kLayer3;
}

void CAnswerIpLogic::Load(const CSettings& settings, const std::string& otherText) {
    m_accept = settings.GetTCPAnswerAcceptCalls() != 0;
    m_same = settings.GetTCPAnswerSameSettings() != 0;
    m_otherText = otherText;
    m_portEntries = {"5003", "5103", "5203", "8003", "8103", "8203", m_otherText};
    std::sort(m_portEntries.begin(), m_portEntries.end());
    const std::string port = std::to_string(settings.GetTCPPortNumber() & 0xFFFF);
    auto it = std::find(m_portEntries.begin(), m_portEntries.end(), port);
    if (it == m_portEntries.end()) {
        it = std::find(m_portEntries.begin(), m_portEntries.end(), m_otherText);
        m_otherPort = port;
    }
    m_port = static_cast<size_t>(it - m_portEntries.begin());

    m_coding = EntryOfCodingType(settings.GetTCPAnswerCodingType());
    m_bitrate = settings.GetTCPAnswerCodingRate() / 1000 * 1000;
    FillBitrates();
    m_samplerate = settings.GetTCPAnswerSamplerate();
    FillSamplerates();
    const int mode = settings.GetTCPAnswerDeviceMode();
    m_mode = mode == 20 || mode == 21 || mode == 22 ? mode : 10;
    m_loaded = true;
    Update();
}

CAnswerIpLogic::Result CAnswerIpLogic::Validate() const {
    if (!m_loaded) return kOk;
    if (IsMpeg() && m_bitrate == 0) return kNeedCodingRate;
    if (m_samplerate == 0) return kNeedSamplerate;
    return kOk;
}

CAnswerIpLogic::Result CAnswerIpLogic::Store(const CSettings& settings) const {
    const Result result = Validate();
    if (result != kOk || !m_loaded) return result;
    settings.SetTCPAnswerAcceptCalls(m_accept ? 1 : 0);
    settings.SetTCPAnswerSameSettings(m_same ? 1 : 0);
    settings.SetTCPPortNumber(PortNumber());
    settings.SetTCPAnswerCodingType(CodingTypeOf(m_coding));
    if (IsMpeg()) settings.SetTCPAnswerCodingRate(m_bitrate);
    settings.SetTCPAnswerSamplerate(m_samplerate);
    settings.SetTCPAnswerDeviceMode(m_mode);
    return kOk;
}

int CAnswerIpLogic::PortNumber() const {
    const std::string& text = OtherPortChosen() ? m_otherPort : SelectedPort();
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    (void)end;
    return error == std::errc() && value > 0 ? value : kDefaultPort;
}

void CAnswerIpLogic::SetAcceptCalls(bool on) {
    m_accept = on;
    Update();
}

void CAnswerIpLogic::SetSameSettings(bool on) {
    m_same = on;
    Update();
}

void CAnswerIpLogic::SelectPort(const std::string& text) {
    auto it = std::find(m_portEntries.begin(), m_portEntries.end(), text);
    if (it == m_portEntries.end()) return;
    m_port = static_cast<size_t>(it - m_portEntries.begin());
    Update();
}

void CAnswerIpLogic::SelectCoding(int entry) {
    if (entry < 0 || entry >= kCodingCount) return;
    m_coding = entry;
    FillBitrates();
    FillSamplerates();
    Update();
}

void CAnswerIpLogic::SelectBitrate(int bitsPerSecond) {
    if (bitsPerSecond != 0 && !Contains(m_bitrates, bitsPerSecond)) return;
    m_bitrate = bitsPerSecond;
    FillSamplerates();
    Update();
}

void CAnswerIpLogic::SelectSamplerate(int rate) {
    if (rate != 0 && !Contains(m_samplerates, rate)) return;
    m_samplerate = rate;
    Update();
}

void CAnswerIpLogic::SetMode(int mode) {
    const bool enabled = (mode == 10 && m_enabled.mono) || (mode == 20 && m_enabled.stereo) ||
                         (mode == 21 && m_enabled.joint) || (mode == 22 && m_enabled.dual);
    if (!enabled) return;
    m_mode = mode;
    Update();
}

void CAnswerIpLogic::FillBitrates() {
    if (m_coding == kPcm) return;  // PCM leaves the list as it was
    m_bitrates.clear();
    if (IsMpeg()) {
        for (int kbps : kLayer3Rates) m_bitrates.push_back(kbps * 1000);
        if (m_coding == kLayer2) m_bitrates.push_back(384000);
    }
    if (!Contains(m_bitrates, m_bitrate)) m_bitrate = Contains(m_bitrates, kDefaultBitrate) ? kDefaultBitrate : 0;
}

void CAnswerIpLogic::FillSamplerates() {
    bool high = false, low = false;
    if (m_coding == kLayer3) {
        high = IsKbps(m_bitrate, {192, 224, 256, 320});
        low = IsKbps(m_bitrate, {8, 16, 24, 144});
    } else if (m_coding == kLayer2) {
        high = IsKbps(m_bitrate, {192, 224, 256, 320, 384});
        low = IsKbps(m_bitrate, {8, 16, 24, 40, 144});
    }
    m_samplerates.clear();
    for (int rate : kSamplerates)
        if ((!high || rate >= 32000) && (!low || rate <= 24000)) m_samplerates.push_back(rate);
    const int previous = m_samplerate;
    if (Contains(m_samplerates, previous)) return;
    if (Contains(m_samplerates, previous * 2)) {
        m_samplerate = previous * 2;
    } else {
        m_samplerate = Contains(m_samplerates, previous / 2) ? previous / 2 : 0;
    }
}

void CAnswerIpLogic::Update() {
    Enabling e;
    e.portList = e.sameSettings = m_accept;
    e.portEdit = m_accept && OtherPortChosen();
    const bool audio = m_accept && !m_same;
    e.coding = e.samplerate = audio;
    e.bitrate = audio && IsMpeg();
    e.mono = e.stereo = audio;
    e.joint = e.dual = audio && IsMpeg();
    if (m_coding == kLayer2 && m_samplerate >= 32000) {
        if (IsKbps(m_bitrate, {32, 48, 56, 80})) {
            m_mode = 10;
            e.joint = e.stereo = e.dual = false;
        } else if (IsKbps(m_bitrate, {224, 256, 320, 384})) {
            if (m_mode == 10) m_mode = 21;
            e.mono = false;
        }
    }
    // Joint stereo and dual mono exist only in the MPEG codings.
    if (!IsMpeg() && (m_mode == 21 || m_mode == 22)) m_mode = 20;
    m_enabled = e;
}
