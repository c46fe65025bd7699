#include "ui/IndicatorLight.h"

#include <gtest/gtest.h>

#include <wx/frame.h>

#include "PixelProbe.h"
#include "WxTestEnvironment.h"

namespace {

constexpr COLORREF kBackground = 0x7A5A3A;
constexpr int kSide = CIndicatorLight::kSize;

struct IndicatorLightTest : ::testing::Test {
    wxFrame* m_frame = nullptr;
    CIndicatorLight* m_light = nullptr;
    void SetUp() override {
        if (!WxUp()) GTEST_SKIP() << "no display";
        m_frame = new wxFrame(nullptr, wxID_ANY, "test");
        m_light = new CIndicatorLight(m_frame, 3024, kBackground);
    }
    void TearDown() override {
        if (m_frame) m_frame->Destroy();
    }
    // The lamp's colour at its lower right, off the highlight.
    COLORREF Lamp() const { return PixelAt(PaintToImage(*m_light, kSide, kSide), 10, 10); }
    COLORREF Corner() const { return PixelAt(PaintToImage(*m_light, kSide, kSide), 0, 0); }
};

TEST_F(IndicatorLightTest, OffAndTheTwoColoursOnItsBackground) {
    EXPECT_EQ(m_light->GetSize(), wxSize(kSide, kSide));
    EXPECT_EQ(m_light->DisplayedState(), 0);
    EXPECT_EQ(Lamp(), CIndicatorLight::LampColour(0));
    EXPECT_EQ(Corner(), kBackground);
    m_light->SetState(true, 1);
    EXPECT_EQ(Lamp(), CIndicatorLight::LampColour(1));
    m_light->SetState(true, 2);
    EXPECT_EQ(Lamp(), CIndicatorLight::LampColour(2));
    EXPECT_EQ(Corner(), kBackground);
    m_light->SetState(false, 2);
    EXPECT_EQ(Lamp(), CIndicatorLight::LampColour(0));
    // Three distinct faces.
    EXPECT_NE(CIndicatorLight::LampColour(0), CIndicatorLight::LampColour(1));
    EXPECT_NE(CIndicatorLight::LampColour(1), CIndicatorLight::LampColour(2));
}

TEST_F(IndicatorLightTest, AnUnknownBlinkStateKeepsThePreviousOne) {
    m_light->SetState(true, 2);
    m_light->SetState(true, 3);
    EXPECT_EQ(m_light->BlinkState(), 2);
    EXPECT_EQ(m_light->DisplayedState(), 2);
    m_light->SetState(true, 0);
    EXPECT_EQ(m_light->BlinkState(), 2);
}

TEST_F(IndicatorLightTest, BlinkingTogglesUntilAStateIsSet) {
    m_light->SetState(true, 1);
    m_light->StartBlinking();
    EXPECT_TRUE(m_light->IsBlinking());
    m_light->Tick();
    EXPECT_EQ(m_light->DisplayedState(), 0);
    EXPECT_EQ(Lamp(), CIndicatorLight::LampColour(0));
    m_light->Tick();
    EXPECT_EQ(m_light->DisplayedState(), 1);
    EXPECT_EQ(Lamp(), CIndicatorLight::LampColour(1));
    m_light->SetState(true, 2);  // steady again
    EXPECT_FALSE(m_light->IsBlinking());
    EXPECT_EQ(m_light->DisplayedState(), 2);
}

}  // namespace
