#include "ui/destinations/DestinationFormats.h"

#include <algorithm>
#include <array>

#include "common/Codes.h"

namespace {

constexpr std::array<int, 5> kCompressionCodings = {CODING_PCM, CODING_MPEG_L3, CODING_MPEG_L2, CODING_APTX,
                                                    CODING_APTX_ENH};
constexpr std::array<int, 19> kLayer2Kbps = {8,   16,  24,  32,  40,  48,  56,  64,  80, 96,
                                             112, 128, 144, 160, 192, 224, 256, 320, 384};
constexpr std::array<int, 6> kAllRates = {48000, 44100, 32000, 24000, 22050, 16000};
constexpr std::array<int, 3> kHighRates = {48000, 44100, 32000};
constexpr std::array<int, 3> kLowRates = {24000, 22050, 16000};
constexpr std::array<int, 4> kG722Rates = {48000, 32000, 24000, 16000};

bool Contains(const std::vector<int>& list, int value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

template <size_t N>
bool Contains(const std::array<int, N>& list, int value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool IsOffered(int codingType, FormatDialog dialog) {
    return Contains(kCompressionCodings, codingType) || (codingType == CODING_G722 && dialog == FormatDialog::Network);
}

void FillBitRates(AudioFormat& f, FormatLists& lists) {
    switch (f.codingType) {
    case CODING_MPEG_L2:
    case CODING_MPEG_L3:
        lists.bitRatesEnabled = true;
        for (int kbps : kLayer2Kbps)
            if (kbps != 384 || f.codingType == CODING_MPEG_L2) lists.bitRates.push_back(kbps * 1000);
        break;
    case CODING_G722:
        lists.bitRatesEnabled = true;
        lists.bitRates.push_back(f.bitRate / 1000 * 1000);
        break;
    default:  // PCM and apt-X derive their rate on OK
        return;
    }
    // The list shows whole kbit/s: a rate matches its item by kbit/s.
    const int shown = f.bitRate / 1000 * 1000;
    if (Contains(lists.bitRates, shown))
        f.bitRate = shown;
    else if (Contains(lists.bitRates, 128000))
        f.bitRate = 128000;
    else
        f.bitRate = -1;
}

template <size_t N>
void Append(std::vector<int>& out, const std::array<int, N>& rates, FormatDialog dialog) {
    if (dialog == FormatDialog::Network)
        out.insert(out.end(), rates.begin(), rates.end());
    else
        out.insert(out.end(), rates.rbegin(), rates.rend());  // ascending there
}

void FillSampleRates(AudioFormat& f, FormatDialog dialog, FormatLists& lists) {
    const int kbps = f.bitRate / 1000;
    switch (f.codingType) {
    case CODING_PCM:
    case CODING_APTX:
    case CODING_APTX_ENH:
        Append(lists.sampleRates, kAllRates, dialog);
        break;
    case CODING_G722:
        Append(lists.sampleRates, kG722Rates, dialog);
        break;
    case CODING_MPEG_L2:
    case CODING_MPEG_L3: {
        const bool layer2 = f.codingType == CODING_MPEG_L2;
        if (kbps >= 192)
            Append(lists.sampleRates, kHighRates, dialog);
        else if (kbps == 8 || kbps == 16 || kbps == 24 || kbps == 144 || (layer2 && kbps == 40))
            Append(lists.sampleRates, kLowRates, dialog);
        else
            Append(lists.sampleRates, kAllRates, dialog);
        break;
    }
    default:
        break;
    }
    if (!Contains(lists.sampleRates, f.sampleRate)) f.sampleRate = -1;
}

void FillModes(AudioFormat& f, FormatLists& lists) {
    bool mono = true, stereo = true, joint = true;
    const bool highRate = f.sampleRate == 32000 || f.sampleRate == 44100 || f.sampleRate == 48000;
    const int kbps = f.bitRate / 1000;
    switch (f.codingType) {
    case CODING_MPEG_L2:
        if (highRate && (kbps == 32 || kbps == 48 || kbps == 56 || kbps == 80)) {
            f.deviceMode = DEVICEMODE_MONO;
            stereo = joint = false;
        } else if (highRate && (kbps == 224 || kbps == 256 || kbps == 320 || kbps == 384)) {
            mono = false;
            if (f.deviceMode == DEVICEMODE_MONO) f.deviceMode = DEVICEMODE_JOINT_STEREO;
        }
        break;
    case CODING_PCM:
    case CODING_APTX:
    case CODING_APTX_ENH:
        if (f.deviceMode == DEVICEMODE_JOINT_STEREO || f.deviceMode == DEVICEMODE_DUAL_MONO)
            f.deviceMode = DEVICEMODE_STEREO;
        joint = false;
        break;
    case CODING_G722:
        // Mono is all G.722 carries: an entry that says otherwise gets mono,
        // not a mode of -1 that no call can open.
        f.deviceMode = DEVICEMODE_MONO;
        stereo = joint = false;
        break;
    default:
        break;
    }
    if (mono) lists.modes.push_back(DEVICEMODE_MONO);
    if (stereo) lists.modes.push_back(DEVICEMODE_STEREO);
    if (joint) {
        lists.modes.push_back(DEVICEMODE_JOINT_STEREO);
        lists.modes.push_back(DEVICEMODE_DUAL_MONO);
    }
    if (!Contains(lists.modes, f.deviceMode)) f.deviceMode = -1;
}

}  // namespace

int CodingTypeOfCompressionIndex(int index) {
    if (index < 0 || index >= static_cast<int>(kCompressionCodings.size())) return -1;
    return kCompressionCodings[static_cast<size_t>(index)];
}

int CompressionIndexOfCodingType(int codingType) {
    const auto it = std::find(kCompressionCodings.begin(), kCompressionCodings.end(), codingType);
    return it == kCompressionCodings.end() ? -1 : static_cast<int>(it - kCompressionCodings.begin());
}

FormatLists UpdateFormatLists(AudioFormat& format, FormatDialog dialog) {
    FormatLists lists;
    if (!IsOffered(format.codingType, dialog)) {
        // Shown as stored and kept: nothing here may rewrite an entry the
        // operator did not touch.
        lists.bitRatesEnabled = false;
        lists.bitRates = {format.bitRate};
        lists.sampleRates = {format.sampleRate};
        lists.modes = {format.deviceMode};
        return lists;
    }
    FillBitRates(format, lists);
    FillSampleRates(format, dialog, lists);
    FillModes(format, lists);
    return lists;
}

int BitRateOnOk(const AudioFormat& format) { return DerivedBitRate(format); }
