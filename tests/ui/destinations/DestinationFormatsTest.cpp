#include "ui/destinations/DestinationFormats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/Codes.h"

namespace {

AudioFormat Format(int coding, int bitRate, int sampleRate, int mode) {
    AudioFormat f;
    f.codingType = coding;
    f.bitRate = bitRate;
    f.sampleRate = sampleRate;
    f.deviceMode = mode;
    return f;
}

bool Has(const std::vector<int>& list, int value) { return std::find(list.begin(), list.end(), value) != list.end(); }

const std::vector<int> kAllKbps = {8,   16,  24,  32,  40,  48,  56,  64,  80, 96,
                                   112, 128, 144, 160, 192, 224, 256, 320, 384};
const std::vector<int> kRates = {8000, 15754, 16000, 22050, 24000, 31508, 32000, 44100, 48000};
const std::vector<int> kModes = {10, 11, 20, 21, 22};
const std::vector<int> kCodings = {CODING_PCM, CODING_MPEG_L3, CODING_MPEG_L2, CODING_APTX, CODING_APTX_ENH};

// Whatever the dialog starts from, its values end in its lists (or -1), and
// a second update changes nothing: the lists and the values agree.
TEST(DestinationFormatsTest, EveryCodingRateAndModeSettlesInItsLists) {
    for (FormatDialog dialog : {FormatDialog::Network, FormatDialog::Multicast}) {
        for (int coding : kCodings) {
            for (int kbps : kAllKbps) {
                for (int rate : kRates) {
                    for (int mode : kModes) {
                        SCOPED_TRACE(testing::Message() << "coding " << coding << " " << kbps << " kbps " << rate
                                                        << " Hz mode " << mode);
                        AudioFormat f = Format(coding, kbps * 1000, rate, mode);
                        const FormatLists lists = UpdateFormatLists(f, dialog);
                        const bool mpeg = coding == CODING_MPEG_L2 || coding == CODING_MPEG_L3;
                        EXPECT_EQ(lists.bitRatesEnabled, mpeg);
                        EXPECT_TRUE(!mpeg || Has(lists.bitRates, f.bitRate));
                        EXPECT_TRUE(f.sampleRate == -1 || Has(lists.sampleRates, f.sampleRate));
                        EXPECT_TRUE(f.deviceMode == -1 || Has(lists.modes, f.deviceMode));
                        EXPECT_TRUE(Has(lists.modes, DEVICEMODE_MONO) || Has(lists.modes, DEVICEMODE_STEREO));
                        AudioFormat again = f;
                        const FormatLists second = UpdateFormatLists(again, dialog);
                        EXPECT_EQ(again.bitRate, f.bitRate);
                        EXPECT_EQ(again.sampleRate, f.sampleRate);
                        EXPECT_EQ(again.deviceMode, f.deviceMode);
                        EXPECT_EQ(second.modes, lists.modes);
                    }
                }
            }
        }
    }
}

// The sample rates of MPEG by bit rate, in the Network / IP dialog's order.
TEST(DestinationFormatsTest, MpegSampleRatesFollowTheBitRate) {
    const std::vector<int> all = {48000, 44100, 32000, 24000, 22050, 16000};
    const std::vector<int> high = {48000, 44100, 32000};
    const std::vector<int> low = {24000, 22050, 16000};
    for (int coding : {CODING_MPEG_L2, CODING_MPEG_L3})
        for (int kbps : kAllKbps) {
            if (coding == CODING_MPEG_L3 && kbps == 384) continue;
            SCOPED_TRACE(testing::Message() << coding << " at " << kbps);
            AudioFormat f = Format(coding, kbps * 1000, 48000, 20);
            const FormatLists lists = UpdateFormatLists(f, FormatDialog::Network);
            const bool isLow = kbps == 8 || kbps == 16 || kbps == 24 || kbps == 144 ||
                               (kbps == 40 && coding == CODING_MPEG_L2);
            EXPECT_EQ(lists.sampleRates, kbps >= 192 ? high : isLow ? low : all);
        }
}

TEST(DestinationFormatsTest, BitRateListsPerCoding) {
    AudioFormat l2 = Format(CODING_MPEG_L2, 384000, 48000, 21);
    const FormatLists l2Lists = UpdateFormatLists(l2, FormatDialog::Network);
    EXPECT_EQ(l2Lists.bitRates.size(), 19u);
    EXPECT_EQ(l2Lists.bitRates.back(), 384000);
    // Layer III has no 384 kbit/s: coming from Layer II there, 128 is chosen.
    l2.codingType = CODING_MPEG_L3;
    const FormatLists l3Lists = UpdateFormatLists(l2, FormatDialog::Network);
    EXPECT_EQ(l3Lists.bitRates.size(), 18u);
    EXPECT_EQ(l2.bitRate, 128000);
    for (int coding : {CODING_PCM, CODING_APTX, CODING_APTX_ENH}) {
        AudioFormat f = Format(coding, 128000, 48000, 20);
        EXPECT_TRUE(UpdateFormatLists(f, FormatDialog::Network).bitRates.empty());
    }
}

TEST(DestinationFormatsTest, Layer2ModesAtHighSampleRates) {
    // 384 kbit/s: no mono; a mono entry becomes joint stereo.
    AudioFormat f = Format(CODING_MPEG_L2, 384000, 48000, 10);
    FormatLists lists = UpdateFormatLists(f, FormatDialog::Network);
    EXPECT_EQ(lists.modes, (std::vector<int>{20, 21, 22}));
    EXPECT_EQ(f.deviceMode, DEVICEMODE_JOINT_STEREO);
    // 56 kbit/s at 48000 Hz: mono only.
    f = Format(CODING_MPEG_L2, 56000, 48000, 21);
    lists = UpdateFormatLists(f, FormatDialog::Network);
    EXPECT_EQ(lists.modes, (std::vector<int>{10}));
    EXPECT_EQ(f.deviceMode, DEVICEMODE_MONO);
    // The same rate at a low sample rate keeps every mode.
    f = Format(CODING_MPEG_L2, 56000, 24000, 21);
    EXPECT_EQ(UpdateFormatLists(f, FormatDialog::Network).modes, (std::vector<int>{10, 20, 21, 22}));
    EXPECT_EQ(f.deviceMode, DEVICEMODE_JOINT_STEREO);
}

TEST(DestinationFormatsTest, PcmAndAptxOfferNoJointOrDual) {
    for (int coding : {CODING_PCM, CODING_APTX, CODING_APTX_ENH})
        for (int mode : {21, 22}) {
            AudioFormat f = Format(coding, 0, 32000, mode);
            EXPECT_EQ(UpdateFormatLists(f, FormatDialog::Network).modes, (std::vector<int>{10, 20}));
            EXPECT_EQ(f.deviceMode, DEVICEMODE_STEREO);
        }
}

TEST(DestinationFormatsTest, MulticastListsRatesAscending) {
    AudioFormat f = Format(CODING_PCM, 0, 22050, 20);
    EXPECT_EQ(UpdateFormatLists(f, FormatDialog::Multicast).sampleRates,
              (std::vector<int>{16000, 22050, 24000, 32000, 44100, 48000}));
    f = Format(CODING_MPEG_L2, 256000, 44100, 20);
    EXPECT_EQ(UpdateFormatLists(f, FormatDialog::Multicast).sampleRates, (std::vector<int>{32000, 44100, 48000}));
}

TEST(DestinationFormatsTest, G722IsMonoAtItsOwnRateInNetworkDialog) {
    AudioFormat f = Format(CODING_G722, 64000, 16000, 20);
    const FormatLists lists = UpdateFormatLists(f, FormatDialog::Network);
    EXPECT_EQ(lists.bitRates, (std::vector<int>{64000}));
    EXPECT_EQ(lists.sampleRates, (std::vector<int>{48000, 32000, 24000, 16000}));
    EXPECT_EQ(lists.modes, (std::vector<int>{10}));
    EXPECT_EQ(f.bitRate, 64000);
    EXPECT_EQ(f.sampleRate, 16000);
    EXPECT_EQ(f.deviceMode, DEVICEMODE_MONO);
}

// A coding the dialog's combo does not offer is shown as stored and kept.
TEST(DestinationFormatsTest, CodingTheComboLacksIsKept) {
    const AudioFormat cases[] = {Format(CODING_G711_ALAW, 64000, 8000, 10), Format(CODING_G711_ULAW, 64000, 8000, 10),
                                 Format(CODING_G722, 128000, 16000, 20)};
    for (AudioFormat f : cases) {
        const AudioFormat before = f;
        const FormatDialog dialog = f.codingType == CODING_G722 ? FormatDialog::Multicast : FormatDialog::Network;
        const FormatLists lists = UpdateFormatLists(f, dialog);
        EXPECT_EQ(CompressionIndexOfCodingType(f.codingType), -1);
        EXPECT_EQ(f.bitRate, before.bitRate);
        EXPECT_EQ(f.sampleRate, before.sampleRate);
        EXPECT_EQ(f.deviceMode, before.deviceMode);
        EXPECT_EQ(lists.sampleRates, std::vector<int>{before.sampleRate});
        EXPECT_EQ(BitRateOnOk(f), before.bitRate);
    }
}

TEST(DestinationFormatsTest, CompressionIndexRoundTrips) {
    for (int i = 0; i < 5; ++i) EXPECT_EQ(CompressionIndexOfCodingType(CodingTypeOfCompressionIndex(i)), i);
    EXPECT_EQ(CodingTypeOfCompressionIndex(5), -1);
    EXPECT_EQ(CodingTypeOfCompressionIndex(-1), -1);
}

TEST(DestinationFormatsTest, BitRateStoredOnOk) {
    EXPECT_EQ(BitRateOnOk(Format(CODING_PCM, 0, 48000, 20)), 48000 * 16 * 2);
    EXPECT_EQ(BitRateOnOk(Format(CODING_APTX, 0, 32000, 20)), 256000);
    EXPECT_EQ(BitRateOnOk(Format(CODING_APTX_ENH, 0, 15754, 10)), 64000);
    EXPECT_EQ(BitRateOnOk(Format(CODING_APTX, 0, 31508, 20)), 256000);
    EXPECT_EQ(BitRateOnOk(Format(CODING_MPEG_L3, 192000, 48000, 20)), 192000);
}

}  // namespace
