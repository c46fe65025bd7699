#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "common/FileHandle.h"
#include "support/FileText.h"
#include "support/TempDir.h"

namespace {

struct FileHandleTest : ::testing::Test {
    CTempDir m_dir;
    std::string m_file = m_dir.File("book.Pb");
};

}  // namespace

TEST_F(FileHandleTest, RewriteEmptiesAndAppendKeepsAndWritesAtTheEnd) {
    Spit(m_file, "old contents");
    CFileHandle file;
    ASSERT_EQ(file.Open(m_file.c_str(), FILEMODE_REWRITE), 1);
    EXPECT_EQ(file.GetSize(), 0u);
    file.Write("abc", 3);
    file.Close();
    EXPECT_EQ(Slurp(m_file), "abc");

    ASSERT_EQ(file.Open(m_file.c_str(), FILEMODE_APPEND), 1);
    EXPECT_EQ(file.Seek(0, 1), 3) << "positioned at the end";
    file.Write("def", 3);
    EXPECT_EQ(file.Seek(0, 0), 0);
    char back[8] = {};
    EXPECT_EQ(file.Read(back, sizeof back), 6u) << "a short read at the end is no failure";
    EXPECT_STREQ(back, "abcdef");
    file.Close();

    const std::string created = m_dir.File("new.Pb");
    ASSERT_EQ(file.Open(created.c_str(), FILEMODE_APPEND), 1) << "append creates a missing file";
    EXPECT_EQ(file.GetSize(), 0u);
}

TEST_F(FileHandleTest, ReadModeNeedsAnExistingFileAndUnknownModesFail) {
    CFileHandle file;
    EXPECT_EQ(file.Open(m_file.c_str(), FILEMODE_READ), 0);
    Spit(m_file, "0123456789");
    EXPECT_EQ(file.Open(m_file.c_str(), 11), 0);
    EXPECT_FALSE(file.IsOpen());
    ASSERT_EQ(file.Open(m_file.c_str(), FILEMODE_READ), 1);
    EXPECT_EQ(file.Open(m_file.c_str(), 22), 0) << "the old file is closed first";
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.Open(m_dir.Path().c_str(), FILEMODE_READ), 0) << "a folder is no file";
    EXPECT_EQ(file.Open(nullptr, FILEMODE_READ), 0);
}

TEST_F(FileHandleTest, SeekOriginsAndFailures) {
    Spit(m_file, "0123456789");
    CFileHandle file;
    ASSERT_EQ(file.Open(m_file.c_str(), FILEMODE_READ), 1);
    EXPECT_EQ(file.Seek(4, 0), 4);
    EXPECT_EQ(file.Seek(2, 1), 6);
    EXPECT_EQ(file.Seek(-3, 2), 7);
    EXPECT_EQ(file.Seek(1, 3), -1);
    EXPECT_EQ(file.Seek(1, -1), -1);
    EXPECT_EQ(file.Seek(-20, 0), -1) << "before the start";
    char c = 0;
    EXPECT_EQ(file.Read(&c, 1), 1u);
    EXPECT_EQ(c, '7') << "failed seeks did not move";
    EXPECT_EQ(file.GetSize(), 10u);
    EXPECT_EQ(file.Read(nullptr, 4), 0u);
    EXPECT_EQ(file.Read(&c, 0), 0u);
}

TEST_F(FileHandleTest, ClosedHandleIsHarmless) {
    CFileHandle file;
    char buffer[4];
    FILETIME t{};
    EXPECT_EQ(file.Read(buffer, 4), 0u);
    file.Write("x", 1);
    EXPECT_EQ(file.Seek(5, 0), 0);
    EXPECT_EQ(file.Seek(5, 7), -1);
    EXPECT_EQ(file.GetSize(), 0u);
    EXPECT_EQ(file.GetLastWriteTime(t), 0);
    EXPECT_EQ(file.SetFileTime(t), 0);
    file.Close();
    file.Close();
}

TEST_F(FileHandleTest, FileTimesRoundTrip) {
    CFileHandle file;
    ASSERT_EQ(file.Open(m_file.c_str(), FILEMODE_REWRITE), 1);
    // 2001-09-09 01:46:40 UTC in 100-ns steps since 1601.
    const uint64_t ticks = (1000000000ull + 11644473600ull) * 10000000ull + 1234500;
    const FILETIME when{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    ASSERT_EQ(file.SetFileTime(when), 1);
    FILETIME back{};
    ASSERT_EQ(file.GetLastWriteTime(back), 1);
    EXPECT_EQ(back.dwLowDateTime, when.dwLowDateTime);
    EXPECT_EQ(back.dwHighDateTime, when.dwHighDateTime);
}

TEST_F(FileHandleTest, UnsharedHandlesShutOutOtherOpeners) {
    Spit(m_file, "data");
    CFileHandle reader1, reader2, writer;
    ASSERT_EQ(reader1.Open(m_file.c_str(), FILEMODE_READ), 1);
    EXPECT_EQ(reader2.Open(m_file.c_str(), FILEMODE_READ), 1) << "readers share";
    EXPECT_EQ(writer.Open(m_file.c_str(), FILEMODE_APPEND), 0) << "no writer while reading";
    reader1.Close();
    reader2.Close();
    ASSERT_EQ(writer.Open(m_file.c_str(), FILEMODE_APPEND), 1);
    EXPECT_EQ(reader1.Open(m_file.c_str(), FILEMODE_READ), 0) << "no reader while writing";
    writer.Close();
    EXPECT_EQ(reader1.Open(m_file.c_str(), FILEMODE_READ), 1);
}
