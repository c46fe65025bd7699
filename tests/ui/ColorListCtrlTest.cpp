#include "ui/ColorListCtrl.h"

#include <gtest/gtest.h>

#include <wx/frame.h>

#include "WxTestEnvironment.h"
#include "ui/ColourTriple.h"

namespace {

struct ColorListCtrlTest : ::testing::Test {
    wxFrame* m_frame = nullptr;
    CColorListCtrl* m_list = nullptr;
    void SetUp() override {
        if (!WxUp()) GTEST_SKIP() << "no display";
        m_frame = new wxFrame(nullptr, wxID_ANY, "test");
        m_list = new CColorListCtrl(m_frame, 3007, wxPoint(0, 0), wxSize(180, 150));
        m_list->Init(0x202020, 0xF0E0D0);
        const char* names[] = {"Berlin studio", "Bern", "Brussels", "bern outside", "Cologne"};
        for (long i = 0; i < 5; ++i) m_list->InsertItem(i, names[i]);
    }
    void TearDown() override {
        if (m_frame) m_frame->Destroy();
    }
    long Selected() const { return m_list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED); }
};

TEST_F(ColorListCtrlTest, ColoursAndOneColumnNarrowerThanTheList) {
    EXPECT_EQ(m_list->GetBackgroundColour(), WxColour(0xF0E0D0));
    EXPECT_EQ(m_list->GetTextColour(), WxColour(0x202020));
    EXPECT_EQ(m_list->GetColumnCount(), 1);
    EXPECT_EQ(m_list->GetColumnWidth(0), m_list->GetClientSize().x - 16);
    EXPECT_TRUE(m_list->LabelTips());
    m_list->SetLabelTips(false);
    EXPECT_FALSE(m_list->LabelTips());
}

TEST_F(ColorListCtrlTest, SelectByNameFindsTheFirstNameThatBeginsSoIgnoringCase) {
    EXPECT_EQ(m_list->SelectByName(0, ""), 0);
    EXPECT_EQ(Selected(), -1);  // an empty name selects nothing
    EXPECT_EQ(m_list->SelectByName(0, "BER"), 1);
    EXPECT_EQ(Selected(), 0);
    EXPECT_EQ(m_list->SelectByName(1, "bern"), 1);
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(m_list->SelectByName(2, "bern"), 1);
    EXPECT_EQ(Selected(), 3);
    EXPECT_EQ(m_list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_FOCUSED), 3);
    EXPECT_EQ(m_list->SelectByName(0, "Dresden"), 0);
    EXPECT_EQ(Selected(), 3);  // nothing found: the selection stays
    EXPECT_EQ(m_list->SelectByName(4, "Berlin"), 0);
}

TEST_F(ColorListCtrlTest, SyncSelectionMovesTheFocusToTheSelection) {
    EXPECT_EQ(m_list->SyncSelection(), -1);
    m_list->SetItemState(1, wxLIST_STATE_FOCUSED, wxLIST_STATE_FOCUSED);
    m_list->SetItemState(4, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
    EXPECT_EQ(m_list->SyncSelection(), 4);
    EXPECT_EQ(m_list->GetItemState(4, wxLIST_STATE_FOCUSED), static_cast<int>(wxLIST_STATE_FOCUSED));
    EXPECT_EQ(m_list->GetItemState(1, wxLIST_STATE_FOCUSED), 0);
}

}  // namespace
