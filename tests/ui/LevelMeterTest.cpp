#include "ui/LevelMeter.h"

#include <gtest/gtest.h>

#include <wx/dcmemory.h>
#include <wx/frame.h>

#include "WxTestEnvironment.h"
#include "platform/Clock.h"

namespace {

COLORREF At(const wxImage& image, int x, int y) {
    return static_cast<COLORREF>(image.GetRed(x, y) | image.GetGreen(x, y) << 8 | image.GetBlue(x, y) << 16);
}

struct LevelMeterTest : ::testing::Test {
    CSimClock m_clock;
    wxFrame* m_frame = nullptr;
    CLevelMeter* m_meter = nullptr;
    void SetUp() override {
        if (!WxUp()) GTEST_SKIP() << "no display";
        m_clock.AdvanceMs(1000);
        m_frame = new wxFrame(nullptr, wxID_ANY, "test");
        m_meter = new CLevelMeter(m_frame, wxID_ANY, wxPoint(0, 0), wxSize(120, 120), 4,
                                  [this] { return m_clock.NowMs(); });
        m_meter->SetColours(0xEED5D5, 0x775555);
    }
    void TearDown() override {
        if (m_frame) m_frame->Destroy();
    }
    wxImage Draw() {
        wxBitmap bitmap(120, 120, 24);
        {
            wxMemoryDC dc(bitmap);
            m_meter->DrawTo(dc);
        }
        return bitmap.ConvertToImage();
    }
    COLORREF Segment(const wxImage& image, int bar, int j) {
        const LevelMeterSegment& s = m_meter->Model().Segment(bar, j);
        return At(image, s.x + 1, s.y);
    }
};

TEST_F(LevelMeterTest, SegmentsShowTheirZoneColours) {
    m_meter->SetActive(true);
    const int levels[4] = {32768, 0, 734, 20000};
    m_meter->SetLevels(levels, 4);
    const wxImage image = Draw();
    EXPECT_EQ(Segment(image, 0, 0), 0x44FF44u);   // green, lit
    EXPECT_EQ(Segment(image, 0, 25), 0x44FFFFu);  // yellow, lit
    EXPECT_EQ(Segment(image, 0, 31), 0x4444FFu);  // red, lit
    EXPECT_EQ(Segment(image, 0, 33), 0xAAAAFFu);  // pink, lit
    EXPECT_EQ(Segment(image, 1, 0), 0x004400u);   // silence: all unlit
    EXPECT_EQ(Segment(image, 1, 33), 0x224466u);
    EXPECT_EQ(Segment(image, 2, 0), 0x44FF44u);
    EXPECT_EQ(Segment(image, 2, 1), 0x44FF44u);  // the peak marker
    EXPECT_EQ(Segment(image, 2, 2), 0x004400u);
    EXPECT_EQ(At(image, 1, 1), 0xEED5D5u);  // background
}

TEST_F(LevelMeterTest, OnlyChangedSegmentsAreFilledAgain) {
    m_meter->SetActive(true);
    Draw();
    EXPECT_EQ(m_meter->LastFillCount(), 4 * 34);
    Draw();
    EXPECT_EQ(m_meter->LastFillCount(), 0);
    const int levels[4] = {734, 0, 0, 0};
    m_meter->SetLevels(levels, 4);
    const wxImage image = Draw();
    EXPECT_EQ(m_meter->LastFillCount(), 2);
    EXPECT_EQ(Segment(image, 0, 0), 0x44FF44u);
    // Switched off, every segment goes dark.
    m_meter->SetActive(false);
    const wxImage off = Draw();
    EXPECT_EQ(Segment(off, 0, 0), 0x004400u);
}

}  // namespace
