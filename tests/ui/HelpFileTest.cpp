#include "ui/HelpFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

struct HelpFileTest : ::testing::Test {
    fs::path m_dir = fs::temp_directory_path() / ("velmora_help_" + std::to_string(getpid()));
    std::vector<std::string> m_opened;
    CHelpFile::Opener m_opener = [this](const std::string& path) {
        m_opened.push_back(path);
        return m_viewer;
    };
    bool m_viewer = true;
    void SetUp() override { fs::create_directories(m_dir); }
    void TearDown() override { fs::remove_all(m_dir); }
};

TEST_F(HelpFileTest, OpensTheFileOfTheFolderOrSaysWhatIsMissing) {
    const CHelpFile help(m_dir.string());
    EXPECT_EQ(help.Path(), (m_dir / "Velmora Transvoria.chm").string());
    EXPECT_EQ(help.Open(m_opener), CHelpFile::kMissing);
    EXPECT_TRUE(m_opened.empty());  // nothing is launched for a file that is not there
    EXPECT_NE(help.Explain(CHelpFile::kMissing).find("\"Velmora Transvoria.chm\""), std::string::npos);
    EXPECT_NE(help.Explain(CHelpFile::kMissing).find(m_dir.string()), std::string::npos);

    std::ofstream(m_dir / "Velmora Transvoria.chm") << "ITSF";
    EXPECT_EQ(help.Open(m_opener), CHelpFile::kOpened);
    ASSERT_EQ(m_opened.size(), 1u);
    EXPECT_EQ(m_opened[0], help.Path());

    m_viewer = false;
    EXPECT_EQ(help.Open(m_opener), CHelpFile::kNoViewer);
    EXPECT_NE(help.Explain(CHelpFile::kNoViewer).find(help.Path()), std::string::npos);
}

TEST_F(HelpFileTest, AFolderOfThatNameIsNoHelpFile) {
    fs::create_directories(m_dir / "Velmora Transvoria.chm");
    EXPECT_EQ(CHelpFile(m_dir.string()).Open(m_opener), CHelpFile::kMissing);
    EXPECT_TRUE(m_opened.empty());
}

}  // namespace
