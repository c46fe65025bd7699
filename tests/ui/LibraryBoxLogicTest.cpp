// The library box without a display: listing in slot order past slot 99,
// the selection by slot number, imports queued and driven by the timer with
// their progress, removal and drag-and-drop reordering.
#include "ui/LibraryBoxLogic.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs/G7xxPeer.h"
#include "platform/MessageBoxCodes.h"
#include "support/FileText.h"
#include "support/TempDir.h"

namespace {

using g7xx_test::HavePeer;
using g7xx_test::ReadBytes;
using g7xx_test::RunCommand;

class CFakeLibraryView : public CLibraryBoxView {
public:
    std::vector<std::string> rows;
    int selected = -2;
    int notified = 0;
    int timerMs = 0;
    bool progressOpen = false;
    int progressOpened = 0;
    std::vector<std::string> progressFiles;
    std::vector<int> percents;
    int cancelAt = -1;  // the operator cancels once the bar passes this
    std::vector<std::string> messages;
    int answer = IDYES;
    std::string label;
    int labelMoves = 0;

    void ShowEntries(const std::vector<std::string>& texts) override { rows = texts; }
    void SelectRow(int row) override { selected = row; }
    void NotifyOwner() override { ++notified; }
    void ArmImportTimer(int ms) override { timerMs = ms; }
    void StopImportTimer() override { timerMs = 0; }
    bool OpenProgress(const std::string& caption, const std::string& fileName) override {
        EXPECT_EQ(caption, "Importing into the audio library...");
        progressOpen = true;
        ++progressOpened;
        progressFiles.push_back(fileName);
        return true;
    }
    bool SetProgress(int percent) override {
        EXPECT_TRUE(progressOpen);
        percents.push_back(percent);
        return cancelAt < 0 || percent <= cancelAt;
    }
    void CloseProgress() override { progressOpen = false; }
    void ShowDragLabel(const std::string& text) override { label = text; }
    void MoveDragLabel() override { ++labelMoves; }
    void HideDragLabel() override { label.clear(); }
    int MessageBox(const char* text, const char*, UINT) override {
        messages.emplace_back(text);
        return answer;
    }
};

struct LibraryBoxLogicTest : ::testing::Test {
    CTempDir m_dir{"librarybox"};
    std::string m_folder = (m_dir.Path() / "Library").string();
    CFakeLibraryView m_view;
    CLibraryBoxLogic m_box{m_view};

    void AddClip(int slot, const std::string& title) {
        std::filesystem::create_directories(m_folder);
        char name[32];
        std::snprintf(name, sizeof name, "/%04d ", slot);
        Spit(m_folder + name + title + ".mpcm", title);
    }
    std::string MakeWav(const std::string& name, int rate, int channels, double seconds) {
        const std::string path = (m_dir.Path() / name).string();
        EXPECT_EQ(RunCommand("sox -q -D -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) +
                             " -b 16 '" + path + "' synth " + std::to_string(seconds) + " sine 500 vol 0.5"),
                  0);
        return path;
    }
    // Ticks the import timer until nothing runs; the number of ticks.
    int RunImports() {
        int ticks = 0;
        while (m_box.Importing() && ticks < 10000) {
            m_box.OnImportTimer();
            ++ticks;
        }
        return ticks;
    }
    std::string Titles() const {
        std::string out;
        for (const LibraryClip& c : m_box.Clips()) out += std::to_string(c.slot) + ":" + c.title + " ";
        return out;
    }
};

TEST_F(LibraryBoxLogicTest, ListsBySlotNumberAndSelectsTheSavedSlotNotItsTextPrefix) {
    m_box.Init(m_folder, 0, true);
    EXPECT_TRUE(m_view.rows.empty());
    EXPECT_EQ(m_box.SelectedSlot(), 0);
    EXPECT_EQ(m_view.selected, -1);
    EXPECT_EQ(m_view.notified, 1);  // the owner hears of the empty list too
    EXPECT_FALSE(m_box.HasSelection());
    EXPECT_EQ(m_box.GetSelectedClipPath(), "");

    for (int slot = 1; slot <= 105; ++slot) AddClip(slot, "Clip " + std::to_string(slot));
    CLibraryBoxLogic box(m_view);
    box.Init(m_folder, 10, true);
    ASSERT_EQ(m_view.rows.size(), 105u);
    EXPECT_EQ(m_view.rows[0], " 1\tClip 1");
    EXPECT_EQ(m_view.rows[9], "10\tClip 10");
    EXPECT_EQ(m_view.rows[10], "11\tClip 11");
    EXPECT_EQ(m_view.rows[99], "100\tClip 100");
    EXPECT_EQ(m_view.selected, 9);
    EXPECT_EQ(box.GetSelectedClipPath(), m_folder + "/0010 Clip 10.mpcm");

    // A saved slot that is gone selects the first entry.
    CLibraryBoxLogic other(m_view);
    other.Init(m_folder, 400, true);
    EXPECT_EQ(other.SelectedSlot(), 1);
    EXPECT_EQ(m_view.selected, 0);
}

TEST_F(LibraryBoxLogicTest, SelectionMovesAndStopsAtTheEnds) {
    for (int slot = 1; slot <= 12; ++slot) AddClip(slot, "C" + std::to_string(slot));
    m_box.Init(m_folder, 12, true);
    EXPECT_EQ(m_box.SelectNext(), 0);  // the last entry stays
    EXPECT_EQ(m_box.SelectedSlot(), 12);
    EXPECT_EQ(m_box.SelectEntry(10), 1);  // Ctrl+0
    EXPECT_EQ(m_box.SelectedSlot(), 10);
    EXPECT_EQ(m_box.SelectEntry(13), 0);
    EXPECT_EQ(m_view.selected, 9);  // the previous selection is restored
    EXPECT_EQ(m_box.SelectPrevious(), 1);
    EXPECT_EQ(m_box.SelectedSlot(), 9);
    EXPECT_EQ(m_box.TakeSelection(0), 1);
    EXPECT_EQ(m_box.SelectPrevious(), 0);
    EXPECT_EQ(m_box.TakeSelection(-1), 0);
    EXPECT_FALSE(m_box.HasSelection());
    EXPECT_EQ(m_box.SelectNext(), 0);
}

TEST_F(LibraryBoxLogicTest, ThreeQueuedFilesImportOneAfterAnotherWithTheirProgress) {
    if (!HavePeer("sox")) GTEST_SKIP() << "sox missing";
    AddClip(1, "One");
    AddClip(2, "Two");
    AddClip(4, "Four");
    m_box.Init(m_folder, 1, false);
    const std::string a = MakeWav("Bed.wav", 48000, 1, 1.5);
    const std::string b = MakeWav("Sting.wav", 44100, 2, 1.0);
    const std::string c = MakeWav("Tail.wav", 48000, 2, 0.5);
    for (const std::string& f : {a, b, c}) m_box.QueueFile(f);
    ASSERT_EQ(m_box.ImportNext(), 1);
    EXPECT_EQ(m_view.timerMs, 50);  // FastCPU off
    EXPECT_EQ(m_box.QueuedCount(), 2u);
    EXPECT_GT(RunImports(), 0);
    EXPECT_EQ(m_view.timerMs, 0);
    EXPECT_FALSE(m_view.progressOpen);
    EXPECT_EQ(m_view.progressOpened, 3);
    EXPECT_EQ(m_view.progressFiles, (std::vector<std::string>{"Bed.wav", "Sting.wav", "Tail.wav"}));
    EXPECT_TRUE(m_view.messages.empty());
    // The first free slots in turn: 3, then 5 and 6.
    EXPECT_EQ(Titles(), "1:One 2:Two 3:Bed 4:Four 5:Sting 6:Tail ");
    EXPECT_EQ(ReadBytes(m_folder + "/0003 Bed.mpcm").size(), 144000u);
    EXPECT_NEAR(static_cast<double>(ReadBytes(m_folder + "/0005 Sting.spcm").size()), 192000.0, 192000 * 0.02);
    EXPECT_EQ(ReadBytes(m_folder + "/0006 Tail.spcm").size(), 96000u);
    // The bar rose to the end of each file.
    int ends = 0;
    for (size_t i = 1; i < m_view.percents.size(); ++i) {
        if (m_view.percents[i] < m_view.percents[i - 1]) {
            EXPECT_EQ(m_view.percents[i], 0);
        }
        if (m_view.percents[i] == 100) ++ends;
    }
    EXPECT_GE(ends, 3);
}

TEST_F(LibraryBoxLogicTest, CancelEndsOnlyTheCurrentFileAndARefusalStopsTheChain) {
    if (!HavePeer("sox")) GTEST_SKIP() << "sox missing";
    m_box.Init(m_folder, 0, true);
    const std::string longFile = MakeWav("Long.wav", 32000, 2, 6.0);
    const std::string text = (m_dir.Path() / "notes.wav").string();
    Spit(text, "not audio at all");
    const std::string next = MakeWav("Next.wav", 48000, 1, 0.2);
    for (const std::string& f : {longFile, text, next}) m_box.QueueFile(f);
    m_view.cancelAt = 10;
    ASSERT_EQ(m_box.ImportNext(), 1);
    EXPECT_EQ(m_view.timerMs, 10);
    RunImports();
    m_view.cancelAt = -1;
    // The cancelled clip is gone; the unrecognised file said so and stopped the chain.
    EXPECT_TRUE(m_box.Clips().empty());
    ASSERT_EQ(m_view.messages.size(), 1u);
    EXPECT_EQ(m_view.messages[0], "The format of the file:\n\n" + text + "\n\nis unrecognised or unsupported.");
    EXPECT_EQ(m_box.QueuedCount(), 1u);
    EXPECT_FALSE(m_box.Importing());
    // The next import takes up the file that waited.
    ASSERT_EQ(m_box.ImportNext(), 1);
    RunImports();
    EXPECT_EQ(Titles(), "1:Next ");
    EXPECT_EQ(m_box.QueuedCount(), 0u);
}

TEST_F(LibraryBoxLogicTest, AFullLibraryRefusesAndCreatesNothing) {
    if (!HavePeer("sox")) GTEST_SKIP() << "sox missing";
    for (int slot = 1; slot <= CLibraryFolder::kMaxSlots; ++slot) AddClip(slot, "x");
    m_box.Init(m_folder, 0, true);
    m_box.QueueFile(MakeWav("More.wav", 48000, 1, 0.1));
    EXPECT_EQ(m_box.ImportNext(), 0);
    ASSERT_EQ(m_view.messages.size(), 1u);
    EXPECT_EQ(m_view.messages[0], "Unable to add more audio: the audio library is full");
    EXPECT_EQ(m_box.Clips().size(), 998u);
    EXPECT_EQ(m_view.progressOpened, 0);
}

TEST_F(LibraryBoxLogicTest, RemoveClosesTheGap) {
    for (int slot = 1; slot <= 5; ++slot) AddClip(slot, "C" + std::to_string(slot));
    m_box.Init(m_folder, 2, true);
    const int before = m_view.notified;
    m_box.RemoveSelected();
    EXPECT_EQ(Titles(), "1:C1 2:C3 3:C4 4:C5 ");
    EXPECT_EQ(m_box.SelectedSlot(), 2);  // the slot keeps its number
    EXPECT_GT(m_view.notified, before);
}

TEST_F(LibraryBoxLogicTest, DraggingMovesAClipAndItsNeighbours) {
    for (int slot = 1; slot <= 7; ++slot) AddClip(slot, "C" + std::to_string(slot));
    m_box.Init(m_folder, 1, true);
    // Disabled: nothing happens.
    m_box.OnDragMove(4);
    EXPECT_EQ(m_box.DragState(), CLibraryBoxLogic::kDragNone);
    m_box.SetDragEnabled(true);

    // A plain click arms and releases.
    m_box.OnDragMove(4);
    EXPECT_EQ(m_box.DragState(), CLibraryBoxLogic::kDragArmed);
    m_box.OnDragRelease(4);
    EXPECT_EQ(Titles(), "1:C1 2:C2 3:C3 4:C4 5:C5 6:C6 7:C7 ");

    // Slot 5 onto slot 2.
    m_box.OnDragMove(4);
    m_box.OnDragMove(4);
    EXPECT_EQ(m_view.label, "   C5");
    m_box.OnDragMove(2);
    m_box.OnDragMove(-1);  // below the entries the label stays
    EXPECT_EQ(m_view.labelMoves, 1);
    m_box.OnDragRelease(1);
    EXPECT_EQ(m_view.label, "");
    EXPECT_EQ(Titles(), "1:C1 2:C5 3:C2 4:C3 5:C4 6:C6 7:C7 ");
    EXPECT_EQ(m_box.SelectedSlot(), 2);

    // Slot 5 (now C4) below the last entry: to 7, and 6, 7 move up.
    m_box.OnDragMove(4);
    m_box.OnDragMove(5);
    m_box.OnDragRelease(-1);
    EXPECT_EQ(Titles(), "1:C1 2:C5 3:C2 4:C3 5:C6 6:C7 7:C4 ");
    EXPECT_EQ(m_box.SelectedSlot(), 7);

    // Released outside the list, or on itself: nothing moves.
    m_box.OnDragMove(0);
    m_box.OnDragMove(0);
    m_box.OnDragRelease(CLibraryBoxLogic::kOutside);
    m_box.OnDragMove(0);
    m_box.OnDragMove(0);
    m_box.OnDragRelease(0);
    EXPECT_EQ(Titles(), "1:C1 2:C5 3:C2 4:C3 5:C6 6:C7 7:C4 ");

    // A call starting mid-drag ends the drag and its label.
    m_box.OnDragMove(0);
    m_box.OnDragMove(1);
    m_box.SetDragEnabled(false);
    EXPECT_EQ(m_view.label, "");
    EXPECT_EQ(m_box.DragState(), CLibraryBoxLogic::kDragNone);
}

TEST_F(LibraryBoxLogicTest, ANewLocationIsListedAndTheSameOneLeftAlone) {
    AddClip(3, "Old");
    m_box.Init(m_folder, 3, true);
    const int before = m_view.notified;
    m_box.ReloadLocation(m_folder);
    EXPECT_EQ(m_view.notified, before);
    const std::string other = (m_dir.Path() / "Other").string();
    m_box.ReloadLocation(other);
    EXPECT_TRUE(m_box.Clips().empty());
    EXPECT_EQ(m_box.Folder(), other);
    EXPECT_GT(m_view.notified, before);
}

}  // namespace
