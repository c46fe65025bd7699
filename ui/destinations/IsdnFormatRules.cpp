#include "ui/destinations/IsdnFormatRules.h"

#include "common/Codes.h"

namespace {

constexpr int kOneChannel = 64000;
constexpr int kTwoChannels = 128000;

bool IsMpegIsdnRate(int rate) { return rate == 24000 || rate == 32000 || rate == 48000; }

void ChooseAptx(AudioFormat& f, bool enhanced) {
    f.codingType = enhanced ? CODING_APTX_ENH : CODING_APTX;
    f.aptxOption = 1;
    if (f.bitRate == kOneChannel) {
        f.sampleRate = enhanced ? 15754 : 16000;
        f.deviceMode = DEVICEMODE_MONO;
    } else if (f.deviceMode == DEVICEMODE_MONO) {
        f.sampleRate = 31508;
    } else {
        f.sampleRate = 15754;
        f.deviceMode = DEVICEMODE_STEREO;
    }
}

}  // namespace

void ApplyIsdnChoice(AudioFormat& f, IsdnChoice choice) {
    switch (choice) {
    case IsdnChoice::OneChannel:
        f.bitRate = kOneChannel;
        break;
    case IsdnChoice::TwoChannels:
        f.bitRate = kTwoChannels;
        if (f.sampleRate != 16000 && !IsMpegIsdnRate(f.sampleRate)) f.sampleRate = 48000;
        break;
    case IsdnChoice::G711:
        f.codingType = CODING_G711_ALAW;
        f.bitRate = kOneChannel;
        f.sampleRate = 8000;
        f.deviceMode = DEVICEMODE_MONO;
        break;
    case IsdnChoice::G722:
        f.codingType = CODING_G722;
        f.sampleRate = 16000;
        f.deviceMode = DEVICEMODE_MONO;
        break;
    case IsdnChoice::Layer2:
    case IsdnChoice::Layer3:
        f.codingType = choice == IsdnChoice::Layer2 ? CODING_MPEG_L2 : CODING_MPEG_L3;
        if (!IsMpegIsdnRate(f.sampleRate)) f.sampleRate = 48000;
        break;
    case IsdnChoice::Aptx:
        ChooseAptx(f, false);
        break;
    case IsdnChoice::AptxEnhanced:
        ChooseAptx(f, true);
        break;
    case IsdnChoice::Rate48000:
        f.sampleRate = 48000;
        break;
    case IsdnChoice::Rate32000:
        f.sampleRate = 32000;
        break;
    case IsdnChoice::Rate24000:
        f.sampleRate = 24000;
        break;
    case IsdnChoice::Mono:
        f.deviceMode = DEVICEMODE_MONO;
        break;
    case IsdnChoice::JointStereo:
        f.deviceMode = DEVICEMODE_JOINT_STEREO;
        break;
    case IsdnChoice::Stereo:
        f.deviceMode = DEVICEMODE_STEREO;
        break;
    case IsdnChoice::DualMono:
        f.deviceMode = DEVICEMODE_DUAL_MONO;
        break;
    }
}

IsdnEnabled ApplyIsdnRules(AudioFormat& f, bool twoChannelG722) {
    IsdnEnabled on;
    if (f.bitRate == kOneChannel) {
        on.g711 = on.g722 = true;
    } else {
        f.bitRate = kTwoChannels;
        const bool keeps = f.codingType == CODING_MPEG_L2 || f.codingType == CODING_MPEG_L3 ||
                           f.codingType == CODING_APTX || f.codingType == CODING_APTX_ENH ||
                           (f.codingType == CODING_G722 && twoChannelG722);
        if (!keeps) f.codingType = CODING_MPEG_L2;
        on.g722 = twoChannelG722;
        on.number2 = true;
    }
    switch (f.codingType) {
    case CODING_MPEG_L2:
    case CODING_MPEG_L3:
        on.sampleRates = on.jointStereo = on.stereo = on.dualMono = true;
        break;
    case CODING_APTX:
    case CODING_APTX_ENH: {
        const bool enhanced = f.codingType == CODING_APTX_ENH;
        if (enhanced) f.sampleRate = 15754;
        if (f.bitRate == kOneChannel) {
            if (!enhanced) f.sampleRate = 16000;
            f.deviceMode = DEVICEMODE_MONO;
        } else {
            if (f.deviceMode == DEVICEMODE_MONO)
                f.sampleRate = 31508;
            else {
                f.sampleRate = 15754;
                f.deviceMode = DEVICEMODE_STEREO;
            }
            on.stereo = true;
        }
        break;
    }
    default:  // G.711, G.722
        f.deviceMode = DEVICEMODE_MONO;
        break;
    }
    return on;
}
