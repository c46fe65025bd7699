#include "call/FormatNegotiation.h"

#include "call/FormatRules.h"

void ReadAnswerSettings(const CSettings& settings, int transportKind, AnswerSettings& answer) {
    if (transportKind == TRANSPORT_TCP) {
        answer.codingType = settings.GetTCPAnswerCodingType();
        answer.bitRate = settings.GetTCPAnswerCodingRate();
        answer.sampleRate = settings.GetTCPAnswerSamplerate();
        answer.deviceMode = settings.GetTCPAnswerDeviceMode();
        answer.sameSettings = settings.GetTCPAnswerSameSettings();
    } else if (transportKind == TRANSPORT_ISDN) {
        answer.codingType = settings.GetISDNAnswerCodingType();
        answer.sampleRate = settings.GetISDNAnswerSamplerate();
        answer.deviceMode = settings.GetISDNAnswerDeviceMode();
        answer.sameSettings = 0;
    }
}

AudioFormat ChooseAnswerFormat(const AudioFormat& r, const AudioFormat& current, const AnswerSettings& answer,
                               int transportKind, int fastCpu) {
    if (answer.sameSettings || r.direction == DIRECTION_SEND_ONLY || r.codingType == CODING_G711_ALAW ||
        r.codingType == CODING_G711_ULAW)
        return r;
    AudioFormat c = current;
    c.direction = r.direction;
    c.codingType = answer.codingType == -1 ? r.codingType : answer.codingType;
    if (c.codingType == CODING_G722) {
        c.bitRate = 64000;
        c.sampleRate = 16000;
        c.deviceMode = DEVICEMODE_MONO;
    } else {
        c.bitRate = transportKind == TRANSPORT_ISDN ? r.bitRate : answer.bitRate;
        // An unset answer rate must not give a negative frame size.
        if (c.bitRate <= 0) c.bitRate = r.bitRate;
        c.sampleRate = answer.sampleRate == -1 ? r.sampleRate : answer.sampleRate;
        c.deviceMode = answer.deviceMode == -1 ? r.deviceMode : answer.deviceMode;
    }
    // The frame size follows from this format, not from one applied earlier
    // in the call.
    c.frameBytes = 0;
    c.aptxOption = r.aptxOption;
    NormalizeFormat(c, FormatUse::Answer, fastCpu);
    return FrameFitsPass(c) ? c : r;
}

AudioFormat DecodeFormatFor(const AudioFormat& peer, const AudioFormat& encode) {
    AudioFormat d = peer;
    if (encode.direction == DIRECTION_RECEIVE_ONLY && d.direction == DIRECTION_SEND_ONLY) d.direction = DIRECTION_BOTH;
    return d;
}

bool EncoderDropsAptxSync(const AudioFormat& encode, const AudioFormat& decode) {
    return encode.codingType == CODING_APTX && encode.aptxOption != 0 && decode.codingType == CODING_APTX &&
           decode.aptxOption == 0;
}
