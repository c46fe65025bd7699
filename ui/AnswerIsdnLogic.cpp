#include "ui/AnswerIsdnLogic.h"

#include <initializer_list>

#include "common/Settings.h"

namespace {
bool IsOneOf(int value, std::initializer_list<int> values) {
    for (int v : values)
        if (v == value) return true;
    return false;
}
}  // namespace

void CAnswerIsdnLogic::Load(const CSettings& settings) {
    for (int channel = 0; channel < 2; ++channel) SetMsn(channel, settings.GetISDNMSN(channel));
    m_acceptCalls = settings.GetISDNAnswerAcceptCalls() != 0;
    m_acceptVoice = settings.GetISDNAnswerAcceptVoice() != 0;
    SetCodingType(settings.GetISDNAnswerCodingType());
    SetSamplerate(settings.GetISDNAnswerSamplerate());
    SetDeviceMode(settings.GetISDNAnswerDeviceMode());
    m_loaded = true;
}

void CAnswerIsdnLogic::Store(const CSettings& settings) const {
    if (!m_loaded) return;
    for (int channel = 0; channel < 2; ++channel) settings.SetISDNMSN(channel, m_msn[channel].c_str());
    settings.SetISDNAnswerAcceptCalls(m_acceptCalls ? 1 : 0);
    settings.SetISDNAnswerAcceptVoice(m_acceptVoice ? 1 : 0);
    settings.SetISDNAnswerCodingType(m_codingType);
    settings.SetISDNAnswerSamplerate(m_samplerate);
    settings.SetISDNAnswerDeviceMode(m_deviceMode);
}

void CAnswerIsdnLogic::SetMsn(int channel, const std::string& text) {
    m_msn[channel == 1 ? 1 : 0] = text.substr(0, kMsnLength);
}

void CAnswerIsdnLogic::SetCodingType(int type) { m_codingType = IsOneOf(type, {8, 32, 64}) ? type : -1; }

void CAnswerIsdnLogic::SetSamplerate(int rate) { m_samplerate = IsOneOf(rate, {24000, 32000, 48000}) ? rate : -1; }

void CAnswerIsdnLogic::SetDeviceMode(int mode) { m_deviceMode = IsOneOf(mode, {10, 20, 21, 22}) ? mode : -1; }
