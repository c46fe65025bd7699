#include "ui/ImageButton.h"

#include <gtest/gtest.h>

#include <wx/frame.h>

#include "PixelProbe.h"
#include "WxTestEnvironment.h"
#include "ui/ResourceBitmaps.h"

namespace {

constexpr COLORREF kText = 0x000000, kFace = 0xE8E8E8, kPressed = 0x8080FF;
constexpr int kW = 100, kH = 32;

struct ImageButtonTest : ::testing::Test {
    wxFrame* m_frame = nullptr;
    CImageButton* m_button = nullptr;
    int m_clicks = 0;
    void SetUp() override {
        if (!WxUp()) GTEST_SKIP() << "no display";
        m_frame = new wxFrame(nullptr, wxID_ANY, "test");
        m_button = new CImageButton(m_frame, 2024, 0, "Phone", wxPoint(0, 0), wxSize(kW, kH));
        m_button->SetImageColours(kText, kFace, kPressed, 700);
        m_button->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ++m_clicks; });
    }
    void TearDown() override {
        if (m_frame) m_frame->Destroy();
    }
    wxImage Paint() const { return PaintToImage(*m_button, kW, kH); }
};

TEST_F(ImageButtonTest, RaisedFaceSinksIntoThePressedColourWhilePressed) {
    const wxImage plain = Paint();
    EXPECT_EQ(PixelAt(plain, 4, 4), kFace);
    EXPECT_EQ(PixelAt(plain, 0, 0), 0xFFFFFFu);           // lit top-left edge
    EXPECT_EQ(PixelAt(plain, kW - 1, kH - 1), 0x000000u);  // dark bottom-right edge
    EXPECT_EQ(CountPixels(plain, kPressed), 0);
    EXPECT_GT(CountPixels(plain, kText), 20);  // the caption

    m_button->Pressed();
    const wxImage pressed = Paint();
    EXPECT_EQ(PixelAt(pressed, 4, 4), kPressed);
    EXPECT_EQ(PixelAt(pressed, 0, 0), 0x000000u);  // the frame sinks
    EXPECT_EQ(PixelAt(pressed, kW - 1, kH - 1), 0xFFFFFFu);
    m_button->Released(true);
    EXPECT_EQ(m_clicks, 1);
    EXPECT_EQ(PixelAt(Paint(), 4, 4), kFace);
}

TEST_F(ImageButtonTest, PictureLeavesItsTransparentGreyOutAndDisabledIsHatched) {
    ASSERT_TRUE(m_button->SetBitmap(146, kBitmapTransparent));
    const wxImage withPicture = Paint();
    const wxImage picture = withPicture.GetSubImage(wxRect(0, 0, 26, kH));  // left of the caption
    EXPECT_EQ(CountPixels(picture, kBitmapTransparent), 0);  // the grey around the handset is left out
    EXPECT_GT(CountPixels(picture, 0x202020), 20);           // the handset itself
    EXPECT_FALSE(m_button->SetBitmap(9999, kBitmapTransparent));  // no such picture: the old one stays
    EXPECT_GT(CountPixels(Paint(), 0x202020), 20);

    m_button->Disable();
    const wxImage disabled = Paint();
    // A diagonal cross hatch in the pressed colour over the whole button.
    EXPECT_GT(CountPixels(disabled, kPressed), kW * kH / 10);
    int topHalf = 0, bottomHalf = 0;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) (y < kH / 2 ? topHalf : bottomHalf) += PixelAt(disabled, x, y) == kPressed;
    EXPECT_GT(topHalf, 50);
    EXPECT_GT(bottomHalf, 50);
    m_button->Pressed();
    m_button->Released(true);
    EXPECT_EQ(m_clicks, 0);
}

TEST_F(ImageButtonTest, FocusFrameIsDottedInTheTextColour) {
    auto* other = new CImageButton(m_frame, 2, 2, "", wxPoint(0, 40), wxSize(kW, kH));
    other->SetImageColours(0x0000FF, kFace, kPressed, 700);
    EXPECT_EQ(other->GetLabel(), "Cancel");  // kind 2 names itself
    EXPECT_EQ(CImageButton(m_frame, 1, 1, "Dial", wxPoint(0, 80), wxSize(kW, kH)).GetLabel(), "OK");
    const int before = CountPixels(PaintToImage(*other, kW, kH), 0x0000FF);
    wxFocusEvent gained(wxEVT_SET_FOCUS, other->GetId());
    other->GetEventHandler()->ProcessEvent(gained);
    EXPECT_TRUE(other->HasFocusFrame());
    const wxImage focused = PaintToImage(*other, kW, kH);
    const int frame = CountPixels(focused, 0x0000FF) - before;
    EXPECT_GT(frame, kW / 2);  // every other pixel of the frame's four sides
    EXPECT_LT(frame, 2 * (kW + kH));
    wxFocusEvent lost(wxEVT_KILL_FOCUS, other->GetId());
    other->GetEventHandler()->ProcessEvent(lost);
    EXPECT_EQ(CountPixels(PaintToImage(*other, kW, kH), 0x0000FF), before);
}

TEST_F(ImageButtonTest, CheckStyleStaysSunkWhileChecked) {
    auto* check = new CImageButton(m_frame, 7, 0, "Lock", wxPoint(0, 40), wxSize(kW, kH), true);
    check->SetImageColours(kText, kFace, kPressed, 700);
    check->Pressed();
    check->Released(true);
    EXPECT_TRUE(check->GetCheck());
    EXPECT_EQ(PixelAt(PaintToImage(*check, kW, kH), 4, 4), kPressed);
    check->Pressed();
    check->Released(true);
    EXPECT_FALSE(check->GetCheck());
    EXPECT_EQ(PixelAt(PaintToImage(*check, kW, kH), 4, 4), kFace);
}

TEST(ImageButtonFit, WideCaptionsShrinkInProportionPlusOne) {
    EXPECT_EQ(CImageButton::FitFontHeight(10, 30, 40), 8);
    EXPECT_EQ(CImageButton::FitFontHeight(10, 30, 30), 10);
    EXPECT_EQ(CImageButton::FitFontHeight(10, 30, 0), 10);
}

}  // namespace
