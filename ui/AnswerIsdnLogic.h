#pragma once
// The ISDN page of the answer settings: whether calls are accepted and the
// format to answer them with, each choice either "the same as the incoming
// call" (-1) or a fixed value. Plain logic under CAnswerIsdnPage.
//
// Threads: GUI thread.
#include <string>

class CSettings;

class CAnswerIsdnLogic {
public:
    // The settings store keeps 19 characters of an MSN: the field takes no more.
    static constexpr int kMsnLength = 19;

    void Load(const CSettings& settings);
    // Writes every key of the page, also those of disabled controls. Nothing
    // before Load.
    void Store(const CSettings& settings) const;

    void SetMsn(int channel, const std::string& text);
    void SetAcceptCalls(bool on) { m_acceptCalls = on; }
    void SetAcceptVoice(bool on) { m_acceptVoice = on; }
    // -1 same, 8 G.722, 32 Layer II, 64 Layer III; anything else counts as -1.
    void SetCodingType(int type);
    // -1 same, 24000, 32000, 48000.
    void SetSamplerate(int rate);
    // -1 same, 10 mono, 20 stereo, 21 joint stereo, 22 dual mono.
    void SetDeviceMode(int mode);

    const std::string& Msn(int channel) const { return m_msn[channel == 1 ? 1 : 0]; }
    bool AcceptCalls() const { return m_acceptCalls; }
    bool AcceptVoice() const { return m_acceptVoice; }
    int CodingType() const { return m_codingType; }
    int Samplerate() const { return m_samplerate; }
    int DeviceMode() const { return m_deviceMode; }

    // The MSN fields, the voice box and the coding radios.
    bool CallControlsEnabled() const { return m_acceptCalls; }
    // G.722 has one rate and one mode.
    bool FormatControlsEnabled() const { return m_acceptCalls && m_codingType != 8; }

private:
    bool m_loaded = false;
    std::string m_msn[2];
    bool m_acceptCalls = true;
    bool m_acceptVoice = true;
    int m_codingType = -1;
    int m_samplerate = -1;
    int m_deviceMode = -1;
};
