#include "codecs/mpeg2/Mp2Frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "codecs/mpeg2/tables/l12_scalefactors_B1.h"
#include "codecs/mpeg2/tables/window_analysis_C_C1.h"
#include "codecs/mpeg2/tables/window_synthesis_D_B3.h"

namespace {

// Header bytes 1-3 of a frame (after 0xFF) to the header word.
Mp2HeaderWord WordOf(uint8_t b1, uint8_t b2, uint8_t b3) {
    return mp2::FromStreamBits((static_cast<uint32_t>(b1 & 15) << 16) | (b2 << 8) | b3);
}

TEST(Mp2FrameTest, HeaderWordPacksStreamBytes) {
    // FF FC 84 14: MPEG-1 Layer II, CRC on, 128 kbit/s, 48 kHz, stereo, extension 1, home flag.
    const Mp2HeaderWord w = WordOf(0xFC, 0x84, 0x14);
    EXPECT_EQ(w, 0x4041C8u);
    EXPECT_EQ(mp2::BitrateIndex(w), 8);
    EXPECT_EQ(mp2::ProtectionBit(w), 0);
    EXPECT_EQ(mp2::LayerOf(w), 2);
    EXPECT_EQ(mp2::SamplingField(w), 1);
    EXPECT_EQ(mp2::ModeExtension(w), 1);
    EXPECT_EQ(mp2::StreamBits(w), 0xC8414u);
}

TEST(Mp2FrameTest, FrameLengthsAndPadding) {
    mp2::FrameInfo fi;
    // 44.1 kHz, 128 kbit/s: 417 bytes, 418 padded.
    ASSERT_EQ(mp2::ParseHeader(WordOf(0xFD, 0x80, 0x04), false, &fi), 0);
    EXPECT_EQ(fi.frameBytes, 417);
    EXPECT_EQ(fi.table, 0);  // 64 kbit/s per channel
    ASSERT_EQ(mp2::ParseHeader(WordOf(0xFD, 0x82, 0x04), false, &fi), 0);
    EXPECT_EQ(fi.frameBytes, 418);
    // 48 kHz 384 kbit/s stereo: 1152 bytes, table B.2a.
    ASSERT_EQ(mp2::ParseHeader(WordOf(0xFD, 0xE4, 0x04), false, &fi), 0);
    EXPECT_EQ(fi.frameBytes, 1152);
    EXPECT_EQ(fi.table, 0);
    EXPECT_EQ(fi.sblimit, 27);
    // 22.05 kHz mono 64 kbit/s lower sampling frequency: 417 bytes, table 4.
    ASSERT_EQ(mp2::ParseHeader(WordOf(0xF5, 0x80, 0xC4), false, &fi), 0);
    EXPECT_EQ(fi.frameBytes, 417);
    EXPECT_EQ(fi.table, 4);
    EXPECT_EQ(fi.sblimit, 30);
    EXPECT_EQ(fi.crcBits, 75);
    // Layer I 48 kHz 448 kbit/s: 448 bytes.
    ASSERT_EQ(mp2::ParseHeader(WordOf(0xFF, 0xE4, 0x04), false, &fi), 0);
    EXPECT_EQ(fi.frameBytes, 448);
    EXPECT_EQ(fi.table, 5);
}

TEST(Mp2FrameTest, HeaderChecksInOrder) {
    mp2::FrameInfo fi;
    EXPECT_EQ(mp2::ParseHeader(WordOf(0xFB, 0x94, 0x04), false, &fi), -2);  // Layer III
    EXPECT_EQ(mp2::ParseHeader(WordOf(0xF9, 0x94, 0x04), false, &fi), -2);  // reserved layer
    EXPECT_EQ(mp2::ParseHeader(WordOf(0xFD, 0xF4, 0x04), false, &fi), -3);  // index 15
    EXPECT_EQ(mp2::ParseHeader(WordOf(0xFD, 0x9C, 0x04), false, &fi), -4);  // sampling 3
    EXPECT_EQ(mp2::ParseHeader(WordOf(0xFD, 0x14, 0xC6), false, &fi), -5);  // emphasis 2
    EXPECT_EQ(mp2::ParseHeader(WordOf(0xFD, 0x14, 0x04), false, &fi), -6);  // stereo 32 kbit/s
    EXPECT_EQ(mp2::ParseHeader(WordOf(0xFD, 0xB4, 0xC4), false, &fi), -6);  // mono 224 kbit/s
    // 44.1 kHz stereo 64 kbit/s uses B.2c (8 subbands): bound 12 is refused.
    EXPECT_EQ(mp2::ParseHeader(WordOf(0xFD, 0x40, 0x64), false, &fi), -7);
    EXPECT_EQ(mp2::ParseHeader(WordOf(0xFD, 0x40, 0x54), false, &fi), 0);
    EXPECT_EQ(fi.bound, 8);
}

TEST(Mp2FrameTest, ReducedRateClass) {
    // Emphasis 2, Layer II, 44.1 kHz nominal, mono, index 1 (6000 bit/s): class 503, 156 bytes.
    const Mp2HeaderWord w = WordOf(0xFD, 0x10, 0xC6);
    EXPECT_EQ(Mp2ReducedRateClass(w), 503);
    mp2::FrameInfo fi;
    ASSERT_EQ(mp2::ParseHeader(w, true, &fi), 0);
    EXPECT_EQ(fi.frameBytes, 156);
    EXPECT_EQ(fi.table, 4);
    EXPECT_EQ(Mp2ReducedRateClass(WordOf(0xFD, 0x10, 0xC4)), -501);
    // Index 14 (80 kbit/s) mono: r = 1.81, class 502 with ID 1 and 501 with ID 0.
    EXPECT_EQ(Mp2ReducedRateClass(WordOf(0xFD, 0xE0, 0xC6)), 502);
    EXPECT_EQ(Mp2ReducedRateClass(WordOf(0xF5, 0xE0, 0xC6)), 501);
}

TEST(Mp2FrameTest, CrcCoversHeaderThenSideInformation) {
    // CRC-16 with 0x8005, preset 0xFFFF, no inversion over "123456789" is 0xAEE7;
    // the two bytes after the header bits are skipped.
    const uint8_t bytes[] = {'1', '2', 0xAA, 0x55, '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Mp2Crc16(bytes, 0, 56), 0xAEE7);
    // Bit offset: the same bits shifted by 3.
    std::vector<uint8_t> shifted(sizeof bytes + 1, 0);
    for (size_t i = 0; i < sizeof bytes; ++i) {
        shifted[i] |= static_cast<uint8_t>(bytes[i] >> 3);
        shifted[i + 1] |= static_cast<uint8_t>(bytes[i] << 5);
    }
    EXPECT_EQ(Mp2Crc16(shifted.data(), 3, 56), 0xAEE7);
}

struct ChunkSource {
    std::vector<uint8_t> data;
    size_t pos = 0;
    std::mt19937 rng{1};
    static int Read(uint8_t* dst, int* count, void* user) {
        auto* s = static_cast<ChunkSource*>(user);
        const size_t want = std::min<size_t>(static_cast<size_t>(*count), 1 + s->rng() % 700);
        const size_t n = std::min(want, s->data.size() - s->pos);
        std::copy_n(s->data.begin() + static_cast<long>(s->pos), n, dst);
        s->pos += n;
        *count = static_cast<int>(n);
        return 0;
    }
};

TEST(Mp2FrameTest, WriterAndReaderRoundTripInRandomWidths) {
    const unsigned seed = std::random_device{}();
    std::printf("seed %u\n", seed);
    std::mt19937 rng(seed);
    Mp2BitWriter writer(4096);
    std::vector<std::pair<uint32_t, int>> items;
    while (writer.BitCount() < 4096 * 8 - 40) {
        const int n = static_cast<int>(rng() % 33);
        const uint32_t v = n == 32 ? rng() : (rng() & ((1u << n) - 1));
        items.emplace_back(v, n);
        writer.Write(v, n);
    }
    ASSERT_FALSE(writer.Overflowed());
    ChunkSource src;
    src.data.assign(writer.Data(), writer.Data() + writer.FlushBytes());
    // Repeat the data so the reader has to wrap its ring.
    for (int i = 0; i < 3; ++i) src.data.insert(src.data.end(), src.data.begin(), src.data.begin() + writer.FlushBytes());
    Mp2BitReader reader;
    ASSERT_EQ(reader.Open(ChunkSource::Read, &src), 0);
    for (int round = 0; round < 4; ++round) {
        const uint64_t base = reader.Position();
        for (const auto& [v, n] : items) {
            uint32_t got = 0;
            ASSERT_EQ(reader.Read(n, &got), 0);
            ASSERT_EQ(got, v) << "width " << n;
            reader.Advance(reader.Position());
        }
        ASSERT_EQ(reader.SetPosition(base + static_cast<uint64_t>(writer.FlushBytes()) * 8), 0);
    }
    uint32_t v;
    EXPECT_EQ(reader.Read(8, &v), -5114);  // dry, more may come
    reader.Close();
    EXPECT_EQ(reader.Read(8, &v), -5001);
}

TEST(Mp2FrameTest, WriterRefusesToOverrun) {
    Mp2BitWriter writer(4);
    writer.Write(0xFFFFFFFFu, 32);
    EXPECT_FALSE(writer.Overflowed());
    writer.Write(1, 1);
    EXPECT_TRUE(writer.Overflowed());
    EXPECT_EQ(writer.BitCount(), 32);
}

int EndedSource(uint8_t* dst, int* count, void* user) {
    auto* v = static_cast<std::vector<uint8_t>*>(user);
    const int n = std::min<int>(*count, static_cast<int>(v->size()));
    std::copy_n(v->begin(), n, dst);
    *count = n;
    return 1;
}

TEST(Mp2FrameTest, SyncSearch) {
    std::vector<uint8_t> bytes = {0xFF, 0xF4, 0x00, 0x1F, 0xFE, 0x00};
    Mp2BitReader reader;
    ASSERT_EQ(reader.Open(EndedSource, &bytes), 0);
    EXPECT_EQ(Mp2SyncSearch(reader, 0), 0);
    EXPECT_EQ(reader.Position(), 12u);
    // 0x4001FFE: a sync at bit 27 of the stream, 15 bits later.
    EXPECT_EQ(Mp2SyncSearch(reader, 0), -1301);
    ASSERT_EQ(reader.SetPosition(12), 0);
    EXPECT_EQ(Mp2SyncSearch(reader, 14), -1301);
    ASSERT_EQ(reader.SetPosition(12), 0);
    EXPECT_EQ(Mp2SyncSearch(reader, 15), 0);
    EXPECT_EQ(reader.Position(), 39u);
    EXPECT_EQ(Mp2SyncSearch(reader, 1000), -1004);  // input ended
}

TEST(Mp2FrameTest, TablesHoldTheirRelations) {
    const int sums[] = {88, 94, 26, 38, 75, 128};
    const int limits[] = {27, 30, 8, 12, 30, 32};
    for (int t = 0; t < 6; ++t) {
        EXPECT_EQ(mp2::Table(t).fieldBits, sums[t]);
        EXPECT_EQ(mp2::Table(t).sblimit, limits[t]);
        for (int sb = 0; sb < limits[t]; ++sb) {
            int prevSteps = 0;
            for (int a = 1; a < (1 << mp2::Table(t).nbal[sb]) && (t != 5 || a < 15); ++a) {
                const int c = mp2::Table(t).cls[sb][a];
                ASSERT_GE(c, 0) << t << " " << sb << " " << a;
                EXPECT_GT(mp2::Class(c).steps, prevSteps);  // quantisers rise with the allocation
                prevSteps = mp2::Class(c).steps;
            }
        }
    }
    for (int i = 0; i < mp2::kClassCount; ++i) {
        const mp2::QuantClass& q = mp2::Class(i);
        EXPECT_LE(q.steps, 1 << q.fracBits);
        EXPECT_NEAR(q.c, static_cast<double>(1 << q.fracBits) / q.steps, 1e-9) << q.steps;
    }
    for (int i = 0; i < 63; ++i) EXPECT_NEAR(mp2::ScaleFactor(i), std::pow(2.0, 1.0 - i / 3.0), 1e-12);
    for (int i = 1; i < 512; ++i) {
        const double d = mp2tab::kWindowSynthesisDB3[i][1];
        const double m = mp2tab::kWindowSynthesisDB3[512 - i][1];
        if (i % 64 != 0) {
            EXPECT_NEAR(d, -m, 1e-9) << i;
        }
        EXPECT_NEAR(mp2tab::kWindowAnalysisCC1[i][1] * 32, d, 2e-6) << i;
    }
}

std::string Slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(Mp2FrameTest, GeneratedHeadersMatchTheirTables) {
    // The tool sits in the same build tree as this test program.
    const char* bin = std::getenv("VELMORA_BINARY_DIR");
    const std::filesystem::path root =
        bin ? std::filesystem::path(bin) : std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path();
    const std::filesystem::path tool = root / "tools/gen_mpeg_tables/gen_mpeg_tables";
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << "gen_mpeg_tables not built";
    const std::filesystem::path dir = std::filesystem::path(VELMORA_SOURCE_DIR) / "codecs/mpeg2/tables";
    const std::filesystem::path out = std::filesystem::temp_directory_path() / ("mp2tables." + std::to_string(getpid()));
    std::filesystem::create_directories(out);
    std::string cmd = tool.string() + " " + out.string();
    int count = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        if (e.path().extension() != ".txt") continue;
        cmd += " " + e.path().string();
        ++count;
    }
    ASSERT_GT(count, 20);
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    for (const auto& e : std::filesystem::directory_iterator(out)) {
        const auto committed = dir / e.path().filename();
        EXPECT_EQ(Slurp(e.path()), Slurp(committed)) << committed << " differs from its table";
    }
    std::filesystem::remove_all(out);
}

}  // namespace
