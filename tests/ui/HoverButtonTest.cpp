#include "ui/HoverButton.h"

#include <gtest/gtest.h>

#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/rawbmp.h>

#include "WxTestEnvironment.h"

namespace {

constexpr COLORREF kText = 0x000000, kHover = 0x00FF00, kFace = 0xC0C0C0;

struct HoverButtonTest : ::testing::Test {
    wxFrame* m_frame = nullptr;
    CHoverButton* m_button = nullptr;
    int m_clicks = 0;
    void SetUp() override {
        if (!WxUp()) GTEST_SKIP() << "no display";
        m_frame = new wxFrame(nullptr, wxID_ANY, "test");
        m_button = new CHoverButton(m_frame, 1816, "Play", wxPoint(0, 0), wxSize(80, 50));
        m_button->SetColours(kText, kHover, kFace);
        m_button->SetIcon(FaceIcon::kPlay, true);
        m_button->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { ++m_clicks; });
    }
    void TearDown() override {
        if (m_frame) m_frame->Destroy();
    }
    wxImage Paint() {
        wxBitmap bitmap(80, 50, 24);
        {
            wxMemoryDC dc(bitmap);
            m_button->Draw(dc);
        }
        return bitmap.ConvertToImage();
    }
    static COLORREF At(const wxImage& image, int x, int y) {
        return static_cast<COLORREF>(image.GetRed(x, y) | image.GetGreen(x, y) << 8 | image.GetBlue(x, y) << 16);
    }
    // How many pixels carry the colour.
    static int Count(const wxImage& image, COLORREF c) {
        int n = 0;
        for (int y = 0; y < image.GetHeight(); ++y) {
            for (int x = 0; x < image.GetWidth(); ++x) n += At(image, x, y) == c;
        }
        return n;
    }
};

TEST_F(HoverButtonTest, FaceHoverAndPressedColours) {
    wxImage plain = Paint();
    EXPECT_EQ(At(plain, 4, 4), kFace);
    EXPECT_GT(Count(plain, kText), 20);  // picture and caption in the text colour
    m_button->PointerMoved(wxPoint(10, 10));
    EXPECT_TRUE(m_button->IsHovered());
    wxImage hovered = Paint();
    EXPECT_EQ(At(hovered, 4, 4), kHover);
    m_button->PointerMoved(wxPoint(200, 10));  // off the button again
    EXPECT_FALSE(m_button->IsHovered());
    m_button->Pressed();
    EXPECT_EQ(At(Paint(), 4, 4), 0xA0A0A0u);  // face darkened by 32
    m_button->Released(true);
    EXPECT_EQ(m_clicks, 1);
    m_button->Pressed();
    m_button->Released(false);  // let go outside: no click
    EXPECT_EQ(m_clicks, 1);
}

TEST_F(HoverButtonTest, DisabledFaceIgnoresThePointer) {
    m_button->Disable();
    m_button->PointerMoved(wxPoint(10, 10));
    EXPECT_FALSE(m_button->IsHovered());
    wxImage disabled = Paint();
    EXPECT_EQ(At(disabled, 4, 4), kFace);
    EXPECT_EQ(Count(disabled, kText), 0);
    EXPECT_GT(Count(disabled, 0xA0A0A0), 20);  // picture and caption in the darker face colour
    m_button->Pressed();
    m_button->Released(true);
    EXPECT_EQ(m_clicks, 0);
    // Without a disabled face the normal picture shows.
    m_button->SetIcon(FaceIcon::kPlay, false);
    EXPECT_GT(Count(Paint(), kText), 10);
}

TEST_F(HoverButtonTest, CheckStyleTogglesAndStaysPressed) {
    auto* check = new CHoverButton(m_frame, 1815, "Voiceover", wxPoint(0, 60), wxSize(80, 50), true);
    check->SetColours(kText, kHover, kFace);
    EXPECT_FALSE(check->GetCheck());
    check->Pressed();
    check->Released(true);
    EXPECT_TRUE(check->GetCheck());
    wxBitmap bitmap(80, 50, 24);
    {
        wxMemoryDC dc(bitmap);
        check->Draw(dc);
    }
    EXPECT_EQ(At(bitmap.ConvertToImage(), 4, 4), 0xA0A0A0u);
    check->Pressed();
    check->Released(true);
    EXPECT_FALSE(check->GetCheck());
    m_button->SetCheck(true);  // not a check button
    EXPECT_FALSE(m_button->GetCheck());
}

TEST(HoverButtonFit, WideCaptionsShrinkInProportion) {
    EXPECT_EQ(CHoverButton::FitFontHeight(10, 30, 40, true), 7);
    EXPECT_EQ(CHoverButton::FitFontHeight(10, 30, 40, false), 5);
    EXPECT_EQ(CHoverButton::FitFontHeight(10, 30, 30, false), 10);
    EXPECT_EQ(CHoverButton::FitFontHeight(10, 30, 0, false), 10);
}

}  // namespace
