// Importing files into the library: a 48 kHz file is copied sample for
// sample, a 44.1 kHz one converted to 48 kHz, and a cancel leaves no clip.
#include "ui/ClipImport.h"

#include <gtest/gtest.h>

#include <string>

#include "codecs/G7xxPeer.h"
#include "common/Codes.h"

namespace {

using g7xx_test::HavePeer;
using g7xx_test::ReadBytes;
using g7xx_test::RunCommand;

struct ClipImportTest : ::testing::Test {
    CTempDir m_dir{"import"};
    CLibraryFolder m_folder{(m_dir.Path() / "Library").string()};

    std::string Make(const std::string& name, int rate, int channels, double seconds) {
        const std::string path = (m_dir.Path() / name).string();
        EXPECT_EQ(RunCommand("sox -q -D -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) +
                             " -b 16 '" + path + "' synth " + std::to_string(seconds) + " sine 700 vol 0.5"),
                  0);
        return path;
    }
    static int RunToEnd(CClipImport& import) {
        int steps = 0;
        while (import.Step()) ++steps;
        import.Finish();
        return steps;
    }
};

TEST_F(ClipImportTest, A48kFileIsCopiedAndA44kFileConverted) {
    if (!HavePeer("sox")) GTEST_SKIP() << "sox missing";
    CClipImport import;
    const std::string mono = Make("Mono Jingle.wav", 48000, 1, 2.0);
    ASSERT_EQ(import.Start(mono, m_folder), ImportResult::kStarted);
    EXPECT_EQ(import.GetClipPath(), m_folder.PathOf("0001 Mono Jingle.mpcm"));
    EXPECT_GT(RunToEnd(import), 1);
    EXPECT_EQ(import.GetPercent(), 100);
    const std::vector<uint8_t> wav = ReadBytes(mono);
    const std::vector<uint8_t> clip = ReadBytes(m_folder.PathOf("0001 Mono Jingle.mpcm"));
    ASSERT_EQ(clip.size(), 192000u);
    EXPECT_TRUE(std::equal(clip.begin(), clip.end(), wav.end() - 192000));

    const std::string stereo = Make("Stereo Bed.wav", 44100, 2, 2.0);
    ASSERT_EQ(import.Start(stereo, m_folder), ImportResult::kStarted);
    EXPECT_EQ(import.GetClipPath(), m_folder.PathOf("0002 Stereo Bed.spcm"));
    const int64_t expected = import.GetExpectedBytes();
    RunToEnd(import);
    const size_t bytes = ReadBytes(m_folder.PathOf("0002 Stereo Bed.spcm")).size();
    std::printf("44.1 kHz stereo, 2 s: expected %lld bytes, clip %zu bytes (%.4f s at 48 kHz)\n",
                static_cast<long long>(expected), bytes, bytes / 192000.0);
    EXPECT_NEAR(static_cast<double>(bytes), 2.0 * 192000, 192000 * 0.02);
    EXPECT_LE(static_cast<int64_t>(bytes), expected);
}

TEST_F(ClipImportTest, CancelLeavesNoPartialClipAndRefusalsSayWhy) {
    if (!HavePeer("sox")) GTEST_SKIP() << "sox missing";
    CClipImport import;
    ASSERT_EQ(import.Start(Make("Long.wav", 32000, 2, 5.0), m_folder), ImportResult::kStarted);
    ASSERT_EQ(import.Step(), 1);
    EXPECT_GT(import.GetPercent(), 0);
    EXPECT_LT(import.GetPercent(), 100);
    import.Cancel();
    EXPECT_FALSE(import.IsRunning());
    EXPECT_TRUE(m_folder.List().empty());

    const std::string text = (m_dir.Path() / "notes.txt").string();
    ASSERT_EQ(RunCommand("echo hello > '" + text + "'"), 0);
    EXPECT_EQ(import.Start(text, m_folder), ImportResult::kUnrecognised);
    const std::string gsm = (m_dir.Path() / "gsm.wav").string();
    ASSERT_EQ(RunCommand("sox -q -n -r 8000 -c 1 -e gsm-full-rate '" + gsm + "' synth 1 sine 300"), 0);
    EXPECT_EQ(import.Start(gsm, m_folder), ImportResult::kUnrecognised);
    EXPECT_NE(import.GetErrorText().find("0x0031"), std::string::npos) << import.GetErrorText();
    EXPECT_TRUE(m_folder.List().empty());
}

}  // namespace
