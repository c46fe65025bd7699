#include "ui/AudioSettingsLogic.h"

#include <algorithm>

#include "common/Settings.h"

void CAudioSettingsLogic::Load(const CSettings& settings) {
    SelectMp2(settings.GetAudioMp2Processing());
    SelectMp3(settings.GetAudioMp3Processing());
    m_times[kPlay] = settings.GetPlayBlockTime();
    m_times[kRec] = settings.GetRecBlockTime();
    m_times[kAsio] = settings.GetASIOBlockTime();
    m_times[kEndpoint] = settings.GetCoreAudioBlockTime();
    m_srcDisabled = settings.GetAudioEnableSRC() == 0;
}

void CAudioSettingsLogic::Store(const CSettings& settings) const {
    settings.SetAudioEnableSRC(m_srcDisabled ? 0 : 1);
    settings.SetAudioMp2Processing(m_mp2);
    settings.SetAudioMp3Processing(m_mp3);
    settings.SetRecBlockTime(m_times[kRec]);
    settings.SetPlayBlockTime(m_times[kPlay]);
    settings.SetASIOBlockTime(m_times[kAsio]);
    settings.SetCoreAudioBlockTime(m_times[kEndpoint]);
}

int CAudioSettingsLogic::SliderPosition(Block block) const {
    const int position = IsWave(block) ? m_times[block] / 10 : m_times[block];
    return std::clamp(position, SliderMin(block), SliderMax(block));
}

void CAudioSettingsLogic::MoveSlider(Block block, int position) {
    position = std::clamp(position, SliderMin(block), SliderMax(block));
    m_times[block] = IsWave(block) ? position * 10 : position;
}
