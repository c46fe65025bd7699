// The header module against the table files themselves: every version,
// layer, bit-rate index, sampling field and padding bit.
#include "common/MpegHeader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/FileText.h"

namespace {

using Rows = std::vector<std::vector<int>>;

Rows ReadTable(const std::string& name) {
    std::ifstream in(std::string(VELMORA_SOURCE_DIR) + "/common/tables/" + name);
    Rows rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        std::vector<int> row;
        int v;
        while (s >> v) row.push_back(v);
        rows.push_back(row);
    }
    return rows;
}

struct Tables {
    std::map<int, int> versionOfField, layerOfField;
    Rows bitRates = ReadTable("header_bitrates.txt");
    Rows rates = ReadTable("header_sampling_rates.txt");
    Rows frame = ReadTable("header_frame_constants.txt");

    Tables() {
        for (const auto& r : ReadTable("header_version_layer_codes.txt"))
            (r[0] == 0 ? versionOfField : layerOfField)[r[1]] = r[2];
    }
    int Kbps(int version, int layer, int index) const {
        return bitRates.at(index).at(1 + (version == 1 ? 0 : 3) + layer - 1);
    }
    int Hz(int version, int field) const {
        return rates.at(field).at(version == 1 ? 1 : version == 2 ? 2 : 3);
    }
    const std::vector<int>& Frame(int version, int layer) const {
        for (const auto& r : frame)
            if (r[0] == (version == 1 ? 1 : 2) && r[1] == layer) return r;
        return frame.at(0);
    }
};

uint32_t Word(int versionField, int layerField, int index, int sampling, int padding, int mode = 0) {
    return (0x7FFu << 21) | (static_cast<uint32_t>(versionField) << 19) | (static_cast<uint32_t>(layerField) << 17) |
           (1u << 16) | (static_cast<uint32_t>(index) << 12) | (static_cast<uint32_t>(sampling) << 10) |
           (static_cast<uint32_t>(padding) << 9) | (static_cast<uint32_t>(mode) << 6);
}

TEST(MpegHeaderTest, EveryHeaderFollowsTheTables) {
    const Tables t;
    ASSERT_EQ(t.bitRates.size(), 16u);
    ASSERT_EQ(t.rates.size(), 4u);
    ASSERT_EQ(t.frame.size(), 6u);
    int parsed = 0;
    for (int vf = 0; vf < 4; ++vf)
        for (int lf = 0; lf < 4; ++lf)
            for (int index = 0; index < 16; ++index)
                for (int sf = 0; sf < 4; ++sf)
                    for (int pad = 0; pad < 2; ++pad) {
                        const uint32_t w = Word(vf, lf, index, sf, pad, (index + sf) & 3);
                        const int version = t.versionOfField.at(vf);
                        const int layer = t.layerOfField.at(lf);
                        const bool valid = version > 0 && layer > 0 && index != 15 && sf != 3;
                        MpegHeader h;
                        const uint8_t bytes[4] = {static_cast<uint8_t>(w >> 24), static_cast<uint8_t>(w >> 16),
                                                  static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)};
                        ASSERT_EQ(ParseMpegHeader(bytes, &h), valid) << std::hex << w;
                        if (!valid) continue;
                        ++parsed;
                        const int kbps = t.Kbps(version, layer, index);
                        const int hz = t.Hz(version, sf);
                        const auto& fc = t.Frame(version, layer);
                        EXPECT_EQ(h.version, version);
                        EXPECT_EQ(h.layer, layer);
                        EXPECT_EQ(h.bitRate, kbps * 1000) << std::hex << w;
                        EXPECT_EQ(h.sampleRate, hz);
                        EXPECT_EQ(h.padding, pad);
                        EXPECT_EQ(h.channels, ((index + sf) & 3) == 3 ? 1 : 2);
                        EXPECT_EQ(h.samplesPerChannel, fc[2]);
                        EXPECT_EQ(MpegFrameDurationUs(version, layer, hz),
                                  static_cast<uint32_t>(int64_t{fc[2]} * 1000000 / hz));
                        if (index == 0) {
                            EXPECT_EQ(h.frameBytes, 0) << "free format has no length of its own";
                        } else {
                            EXPECT_EQ(h.frameBytes, (fc[4] * kbps * 1000 / hz + pad) * fc[3]) << std::hex << w;
                            EXPECT_EQ(MpegBitRateIndex(version, layer, kbps), index);
                        }
                    }
    EXPECT_EQ(parsed, 3 * 3 * 15 * 3 * 2);
}

TEST(MpegHeaderTest, KnownFramesAndTheCallBlock) {
    // 48 kHz Layer II stereo 256 kbit/s: 768 bytes; 44.1 kHz 128 kbit/s padded 418, unpadded 417.
    EXPECT_EQ(MpegFrameBytes(1, 2, 256000, 48000, 0), 768);
    EXPECT_EQ(MpegFrameBytes(1, 2, 128000, 44100, 1), 418);
    EXPECT_EQ(MpegFrameBytes(1, 2, 128000, 44100, 0), 417);
    // MPEG-2 Layer III frames hold 576 samples: 64 kbit/s at 24 kHz is 192 bytes, 24 ms.
    EXPECT_EQ(MpegFrameBytes(2, 3, 64000, 24000, 0), 192);
    EXPECT_EQ(MpegFrameDurationUs(2, 3, 24000), 24000u);
    EXPECT_EQ(MpegFrameBytes(1, 1, 384000, 48000, 1), 4 * 97);
    // The call's block is 1152 samples whatever the layer: two such Layer III frames.
    EXPECT_EQ(MpegBytesPer1152Samples(64000, 24000), 384);
    EXPECT_EQ(MpegBytesPer1152Samples(128000, 48000), 384);
    EXPECT_EQ(MpegMsPer1152Samples(48000), 24u);
    EXPECT_EQ(MpegMsPer1152Samples(44100), 26u);
    EXPECT_EQ(MpegMsPer1152Samples(0), 0u);
    EXPECT_EQ(MpegBytesPer1152Samples(128000, 0), 0);
    EXPECT_EQ(MpegBytesPer1152Samples(-5, 48000), 0);
    int version = 0, field = -1;
    ASSERT_TRUE(MpegVersionOfSampleRate(22050, &version, &field));
    EXPECT_EQ(version, 2);
    EXPECT_EQ(field, 0);
    ASSERT_TRUE(MpegVersionOfSampleRate(8000, &version, &field));
    EXPECT_EQ(version, 25);
    EXPECT_FALSE(MpegVersionOfSampleRate(96000, &version, &field));
    EXPECT_EQ(MpegBitRateIndex(1, 2, 144), 0);
    EXPECT_EQ(MpegBitRateIndex(2, 2, 144), 13);
    EXPECT_EQ(MpegBitRateKbps(3, 2, 1), -1);
    EXPECT_EQ(MpegBitRateKbps(1, 4, 1), -1);
    EXPECT_EQ(MpegBitRateKbps(1, 2, 16), -1);
    EXPECT_FALSE(ParseMpegHeaderWord(0x7FEu << 21, nullptr));
    EXPECT_FALSE(ParseMpegHeader(nullptr, nullptr));
}

TEST(MpegHeaderTest, GeneratedHeaderMatchesItsTables) {
    const std::string root = VELMORA_SOURCE_DIR;
    const std::string cmd = "python3 " + root + "/tools/gen_mpeg_header/gen_mpeg_header.py --stdout " + root;
    FILE* pipe = popen(cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string generated;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) generated.append(buf, n);
    ASSERT_EQ(pclose(pipe), 0) << "run python3 tools/gen_mpeg_header/gen_mpeg_header.py";
    EXPECT_EQ(generated, Slurp(root + "/common/MpegHeaderTables.h"));
}

}  // namespace
