// The coding table: one row per coding type, and what the places that read
// it rely on - makers that give working codecs, frame rules that agree with
// the MPEG header module, requests that only name what a transport carries.
#include "codecs/CodingTable.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "codecs/FrameDuration.h"
#include "common/MpegHeader.h"

namespace {

AudioFormat Format(int coding, int rate, int mode, int bitRate = 0) {
    AudioFormat f;
    f.codingType = coding;
    f.sampleRate = rate;
    f.deviceMode = mode;
    f.bitRate = bitRate;
    return f;
}

TEST(CodingTable, OneRowPerCodingTypeWithNamesAndFrameRules) {
    std::set<int> types;
    for (const CodingDescriptor& row : CodingTable()) {
        EXPECT_TRUE(types.insert(row.codingType).second) << "twice: " << row.codingType;
        EXPECT_NE(row.name[0], '\0');
        EXPECT_NE(row.statusText[0], '\0');
        EXPECT_NE(row.frameDurationMs, nullptr) << row.name;
        EXPECT_EQ(FindCoding(row.codingType), &row);
        // A row with a codec can be asked for its frame; one without may not be.
        if (row.codec.create) {
            EXPECT_NE(row.frameBytes, nullptr) << row.name;
        }
    }
    for (int t : {CODING_PCM, CODING_G711_ALAW, CODING_G711_ULAW, CODING_G722, CODING_MPEG_L1, CODING_MPEG_L2,
                  CODING_MPEG_L3, CODING_APTX, CODING_APTX_ENH})
        EXPECT_TRUE(types.count(t)) << t;
    EXPECT_EQ(FindCoding(0), nullptr);
    EXPECT_EQ(FindCoding(128), nullptr);
}

TEST(CodingTable, MakersGiveCodecsThatCodeAFrame) {
    for (const CodingDescriptor& row : CodingTable()) {
        if (!row.codec.create) continue;
        SCOPED_TRACE(row.name);
        CCodec* codec = row.codec.create();
        ASSERT_NE(codec, nullptr);
        const int rate = row.fixedSampleRate ? row.fixedSampleRate : 48000;
        AudioFormat f = Format(row.codingType, rate, DEVICEMODE_MONO, row.mpegFramed ? 128000 : 0);
        f.frameBytes = row.frameBytes(f, 0);
        ASSERT_GT(f.frameBytes, 0);
        codec->SetEncodeFormat(&f);
        ASSERT_EQ(codec->OpenEncoder(), 1);
        const int pcmBytes = codec->GetEncodeFrameSize(&f);
        ASSERT_GT(pcmBytes, 0);
        std::vector<int16_t> pcm(static_cast<size_t>(pcmBytes / 2), 1000);
        std::vector<uint8_t> coded(8192);
        // A codec with look-ahead (Layer III) hands out its first frame a few frames in.
        int produced = 0;
        for (int frames = 0; frames < 8 && produced == 0; ++frames) {
            int consumed = 0;
            produced = codec->Encode(pcm.data(), pcmBytes, &consumed, coded.data(), static_cast<int>(coded.size()));
            EXPECT_GT(consumed, 0);
        }
        EXPECT_GT(produced, 0);
        codec->CloseEncoder();
        row.codec.destroy(codec);
    }
    // Both G.711 laws are one codec class: one maker.
    EXPECT_EQ(FindCoding(CODING_G711_ALAW)->codec.create, FindCoding(CODING_G711_ULAW)->codec.create);
}

TEST(CodingTable, MpegFrameRulesFollowTheHeaderModule) {
    for (const int coding : {CODING_MPEG_L2, CODING_MPEG_L3}) {
        const CodingDescriptor* row = FindCoding(coding);
        ASSERT_TRUE(row->mpegFramed);
        for (const int rate : {16000, 22050, 24000, 32000, 44100, 48000}) {
            const AudioFormat f = Format(coding, rate, DEVICEMODE_STEREO, 64000);
            EXPECT_EQ(row->frameBytes(f, 0), MpegBytesPer1152Samples(64000, rate)) << rate;
            EXPECT_EQ(GetFrameDurationMs(f), MpegMsPer1152Samples(rate)) << rate;
        }
    }
    EXPECT_EQ(FindCoding(CODING_MPEG_L2)->frameBytes(Format(CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 128000), 0),
              384);
}

TEST(CodingTable, RequestsNameOnlyWhatTheirTransportsCarry) {
    // The packet protocol of TCP and multicast carries PCM and MPEG; ISDN
    // the G.7xx types and MPEG; apt-X and Layer I are never requested.
    for (const CodingDescriptor& row : CodingTable()) {
        const bool ip = (row.requestTransports & TRANSPORT_TCP) != 0;
        const bool isdn = (row.requestTransports & TRANSPORT_ISDN) != 0;
        const bool pcmOrMpeg = row.codingType == CODING_PCM || row.codingType == CODING_MPEG_L2 ||
                               row.codingType == CODING_MPEG_L3;
        EXPECT_EQ(ip, pcmOrMpeg) << row.name;
        EXPECT_EQ(isdn, row.codingType != CODING_PCM && row.codingType != CODING_APTX &&
                            row.codingType != CODING_APTX_ENH && row.codingType != CODING_MPEG_L1)
            << row.name;
        EXPECT_EQ((row.requestTransports & TRANSPORT_MULTICAST) != 0, ip) << row.name;
    }
}

}  // namespace
