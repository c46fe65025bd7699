#include "call/RipEncoderRules.h"

#include <initializer_list>

#include "codecs/CodingTable.h"
#include "common/MpegHeader.h"

namespace {

bool IsMpeg(int codingType) {
    const CodingDescriptor* row = FindCoding(codingType);
    return row && row->mpegFramed;
}

// The row of a coding type a remote-control request may ask for over `transport`.
const CodingDescriptor* RequestableOver(int codingType, uint32_t transport) {
    const CodingDescriptor* row = FindCoding(codingType);
    return row && (row->requestTransports & transport) ? row : nullptr;
}

int RoundDownSampleRate(int rate) {
    constexpr int kRates[] = {48000, 44100, 32000, 24000, 22050, 16000};
    for (int r : kRates) {
        if (rate >= r) return r;
    }
    return 8000;
}

bool IsOneOf(int kbps, std::initializer_list<int> values) {
    for (int v : values) {
        if (kbps == v) return true;
    }
    return false;
}
}  // namespace

bool MakeRequestedEncoder(int codingType, int bitRate, int sampleRate, int deviceMode, AudioFormat* format) {
    const CodingDescriptor* row = FindCoding(codingType);
    if (!row || row->requestTransports == 0) return false;
    switch (row->modeRule) {
    case ModeRule::kMono: deviceMode = DEVICEMODE_MONO; break;
    case ModeRule::kMonoOrStereo:
        if (deviceMode != DEVICEMODE_MONO) deviceMode = DEVICEMODE_STEREO;
        break;
    case ModeRule::kMpegModes:
        if (deviceMode != DEVICEMODE_MONO && deviceMode != DEVICEMODE_STEREO &&
            deviceMode != DEVICEMODE_JOINT_STEREO && deviceMode != DEVICEMODE_DUAL_MONO) {
            deviceMode = DEVICEMODE_MONO;
        }
        break;
    }
    if (row->fixedSampleRate) sampleRate = row->fixedSampleRate;
    if (row->fixedBitRate) bitRate = row->fixedBitRate;
    AudioFormat f;
    f.aptxOption = 0;  // the rest of a requested format is zero
    f.codingType = codingType;
    f.bitRate = bitRate;
    f.sampleRate = RoundDownSampleRate(sampleRate);
    f.deviceMode = deviceMode;
    *format = f;
    return true;
}

int SnapMpegBitRate(int codingType, int bitRate) {
    // The smallest rate of the layer's MPEG-1 or MPEG-2 table that reaches the request.
    const int layer = codingType == CODING_MPEG_L3 ? 3 : 2;
    int best = 0;
    for (int version : {1, 2})
        for (int index = 1; index < 15; ++index) {
            const int kbps = MpegBitRateKbps(version, layer, index);
            if (static_cast<long long>(kbps) * 1000 >= bitRate && (best == 0 || kbps < best)) best = kbps;
        }
    return best > 0 ? best * 1000 : 320000;
}

bool CheckISDNEncoder(AudioFormat* f) {
    const CodingDescriptor* row = RequestableOver(f->codingType, TRANSPORT_ISDN);
    if (!row) return false;
    f->bitRate = f->bitRate <= 64000 ? 64000 : 128000;
    if (row->fixedSampleRate) {
        f->sampleRate = row->fixedSampleRate;
    } else if (f->sampleRate >= 8000 && f->sampleRate <= 24000) {
        f->sampleRate = 24000;
    } else if (f->sampleRate != 32000) {
        f->sampleRate = 48000;
    }
    return true;
}

bool CheckTCPEncoder(AudioFormat* f) {
    if (!RequestableOver(f->codingType, TRANSPORT_TCP)) return false;
    if (f->sampleRate < 16000) f->sampleRate = 16000;
    if (!IsMpeg(f->codingType)) return true;
    f->bitRate = SnapMpegBitRate(f->codingType, f->bitRate);
    const int kbps = f->bitRate / 1000;
    if (IsOneOf(kbps, {8, 16, 24, 40, 144}) && f->sampleRate > 24000) f->sampleRate /= 2;
    if (IsOneOf(kbps, {192, 224, 256, 320, 384}) && f->sampleRate < 32000) f->sampleRate *= 2;
    if (f->sampleRate > 24000) {
        if (IsOneOf(kbps, {32, 48, 56, 80})) f->deviceMode = DEVICEMODE_MONO;
        if (IsOneOf(kbps, {224, 256, 320, 384}) && f->deviceMode == DEVICEMODE_MONO) {
            f->deviceMode = DEVICEMODE_JOINT_STEREO;
        }
    }
    return true;
}
