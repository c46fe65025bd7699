// Slot operations of the audio library on a temporary folder, past slot 100.
#include "ui/LibraryFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "common/Codes.h"
#include "support/FileText.h"
#include "support/TempDir.h"

namespace {

struct LibraryFolderTest : ::testing::Test {
    CTempDir m_dir{"library"};
    CLibraryFolder m_folder{(m_dir.Path() / "Library").string()};

    void Add(int slot, const std::string& title, const char* ext = ".mpcm") {
        char name[64];
        std::snprintf(name, sizeof name, "%04d ", slot);
        Spit(m_folder.PathOf(name + title + ext), title);
    }
    // The titles in list order, with their slots.
    std::string Listing() const {
        std::string out;
        for (const LibraryClip& c : m_folder.List()) out += std::to_string(c.slot) + ":" + c.title + " ";
        return out;
    }
};

TEST_F(LibraryFolderTest, ListsInNumericOrderPastSlot100) {
    for (int s = 1; s <= 105; ++s) Add(s, "c" + std::to_string(s), s % 2 ? ".mpcm" : ".spcm");
    const auto clips = m_folder.List();
    ASSERT_EQ(clips.size(), 105u);
    for (int i = 0; i < 105; ++i) ASSERT_EQ(clips[i].slot, i + 1) << clips[i].fileName;
    EXPECT_EQ(clips[9].title, "c10");
    EXPECT_EQ(clips[10].title, "c11");
    EXPECT_EQ(clips[99].title, "c100");
    EXPECT_EQ(m_folder.FindSlotFile(10), "0010 c10.spcm");
    EXPECT_EQ(m_folder.GetLastSlotOfRun(), 105);
    EXPECT_EQ(m_folder.MakeClipFileName("/music/New Song.wav", DEVICEMODE_STEREO), m_folder.PathOf("0106 New Song.spcm"));
}

TEST_F(LibraryFolderTest, InsertTakesTheFirstGapAndRemoveClosesIt) {
    Add(1, "a");
    Add(2, "b");
    Add(4, "d");
    EXPECT_EQ(m_folder.MakeClipFileName("x/Jingle.mp2", DEVICEMODE_MONO), m_folder.PathOf("0003 Jingle.mpcm"));
    EXPECT_EQ(m_folder.MakeClipFileName("NoDot", DEVICEMODE_MONO), m_folder.PathOf("0003 .mpcm"));
    Add(3, "c");
    Add(5, "e");
    ASSERT_EQ(m_folder.RemoveSlot(2), 1);
    EXPECT_EQ(Listing(), "1:a 2:c 3:d 4:e ");
    EXPECT_EQ(m_folder.RemoveSlot(9), 0);
}

TEST_F(LibraryFolderTest, MovesShiftTheSlotsBetween) {
    for (int s = 1; s <= 7; ++s) Add(s, std::string(1, static_cast<char>('a' + s - 1)));
    ASSERT_EQ(m_folder.MoveSlot(5, 2), 1);
    EXPECT_EQ(Listing(), "1:a 2:e 3:b 4:c 5:d 6:f 7:g ");
    // Below the last entry: to the end of the run.
    ASSERT_EQ(m_folder.MoveSlot(5, m_folder.GetLastSlotOfRun()), 1);
    EXPECT_EQ(Listing(), "1:a 2:e 3:b 4:c 5:f 6:g 7:d ");
    EXPECT_EQ(m_folder.MoveSlot(3, 3), 0);
    // A rename never replaces: the target slot is taken.
    EXPECT_EQ(m_folder.RenameSlot(1, 2), 0);
    EXPECT_EQ(Slurp(m_folder.PathOf("0002 e.mpcm")), "e");
    EXPECT_EQ(m_folder.List().size(), 7u);
}

TEST_F(LibraryFolderTest, ReorderingPast100KeepsEveryClip) {
    for (int s = 1; s <= 120; ++s) Add(s, "t" + std::to_string(s));
    ASSERT_EQ(m_folder.MoveSlot(110, 10), 1);
    ASSERT_EQ(m_folder.MoveSlot(9, 101), 1);
    ASSERT_EQ(m_folder.RemoveSlot(100), 1);
    const auto clips = m_folder.List();
    ASSERT_EQ(clips.size(), 119u);
    for (size_t i = 0; i < clips.size(); ++i) ASSERT_EQ(clips[i].slot, static_cast<int>(i + 1));
    EXPECT_EQ(clips[8].title, "t110");  // 110 went to 10, then 9 left: it is 9 now
    EXPECT_EQ(clips[99].title, "t9");   // 9 went to 101, then 100 was removed
}

}  // namespace
