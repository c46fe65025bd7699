#pragma once
// The ISDN destination's rule set: what each choice does to the audio format
// and which choices stay open, so that channel count, coding type, sample
// rate and mode always fit an ISDN codec. Pure functions; any thread.
#include "common/Records.h"

enum class IsdnChoice {
    OneChannel,
    TwoChannels,
    G711,
    G722,
    Layer2,
    Layer3,
    Aptx,
    AptxEnhanced,
    Rate48000,
    Rate32000,
    Rate24000,
    Mono,
    JointStereo,
    Stereo,
    DualMono,
};

// Which radios are enabled after the rules ran. Mono, the MPEG and apt-X
// radios are never disabled.
struct IsdnEnabled {
    bool g711 = false;
    bool g722 = false;
    bool number2 = false;
    bool sampleRates = false;
    bool jointStereo = false;
    bool stereo = false;
    bool dualMono = false;
};

// The choice's own change to the format; the rules run after it.
void ApplyIsdnChoice(AudioFormat& format, IsdnChoice choice);
IsdnEnabled ApplyIsdnRules(AudioFormat& format, bool twoChannelG722);
