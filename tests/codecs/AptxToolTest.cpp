// velmora-codec with the two apt-X types: a stereo tone goes to code words at
// 4:1 and back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "codecs/G7xxPeer.h"
#include "codecs/aptx/AptxTestSignals.h"
#include "common/ByteOrder.h"

namespace {

using g7xx_test::CScratchDir;

std::string ToolPath() {
    const char* bin = std::getenv("VELMORA_BINARY_DIR");
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string root = bin ? std::string(bin) : self.parent_path().parent_path().string();
    return root + "/tools/velmora-codec/velmora-codec";
}

TEST(AptxTool, BothTypesRoundTripAStereoTone) {
    const std::string tool = ToolPath();
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << "velmora-codec not built";
    CScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    const int periods = 48000;
    const std::vector<int16_t> pcm = aptxtest::Tone(periods, 2, 10000, 1000, 1500);
    std::vector<uint8_t> wav(44 + 2 * pcm.size());
    std::memcpy(wav.data(), "RIFF\0\0\0\0WAVEfmt ", 16);
    PutLe32(&wav[4], static_cast<uint32_t>(wav.size() - 8));
    PutLe32(&wav[16], 16);
    PutLe16(&wav[20], 1);
    PutLe16(&wav[22], 2);
    PutLe32(&wav[24], 48000);
    PutLe32(&wav[28], 48000 * 4);
    PutLe16(&wav[32], 4);
    PutLe16(&wav[34], 16);
    std::memcpy(&wav[36], "data", 4);
    PutLe32(&wav[40], static_cast<uint32_t>(2 * pcm.size()));
    for (size_t i = 0; i < pcm.size(); ++i) PutLe16(&wav[44 + 2 * i], static_cast<uint16_t>(pcm[i]));
    ASSERT_TRUE(g7xx_test::WriteBytes(dir / "in.wav", wav.data(), wav.size()));
    for (const int type : {256, 272}) {
        const std::string t = std::to_string(type);
        ASSERT_EQ(g7xx_test::RunCommand(tool + " encode --type " + t + " " + (dir / "in.wav") + " " + (dir / "out.bin")), 0);
        const std::vector<uint8_t> coded = g7xx_test::ReadBytes(dir / "out.bin");
        EXPECT_GE(coded.size(), pcm.size() / 2 - 384);  // 4:1, whole blocks
        EXPECT_LE(coded.size(), pcm.size() / 2);
        ASSERT_EQ(g7xx_test::RunCommand(tool + " decode --type " + t + " " + (dir / "out.bin") + " " + (dir / "back.wav")), 0);
        const std::vector<uint8_t> b = g7xx_test::ReadBytes(dir / "back.wav");
        ASSERT_GT(b.size(), 44u + 4 * 24000);
        std::vector<int16_t> back((b.size() - 44) / 2);
        for (size_t i = 0; i < back.size(); ++i) back[i] = static_cast<int16_t>(GetLe16(&b[44 + 2 * i]));
        // Output starts once the decoder has found the sync; align by search.
        const int missing = static_cast<int>(pcm.size() - back.size()) / 2;
        for (int c = 0; c < 2; ++c) {
            const aptxtest::LagSnr r = aptxtest::BestLag(pcm, back, 2, c, -missing - 300, -missing + 300, 36000, 46000);
            EXPECT_GE(r.snr, 40) << "type " << type << ", channel " << c;
        }
    }
}

}  // namespace
