// One picture of the custom controls in each of their faces, written to
// ui-screens/custom-controls.png for anyone to look at; the faces' pixels
// are checked by each control's own tests.
#include <gtest/gtest.h>

#include <wx/dcmemory.h>
#include <wx/frame.h>

#include <filesystem>

#include "WxTestEnvironment.h"
#include "ui/HoverButton.h"
#include "ui/ImageButton.h"
#include "ui/IndicatorLight.h"
#include "ui/ResourceBitmaps.h"

namespace {

TEST(CustomControlsSheet, EveryFaceInOnePicture) {
    if (!WxUp()) GTEST_SKIP() << "no display";
    auto* frame = new wxFrame(nullptr, wxID_ANY, "controls");
    constexpr int kW = 100, kH = 32, kGap = 8;
    wxBitmap sheet(4 * (kW + kGap) + kGap, 3 * (kH + kGap) + kGap, 24);
    wxMemoryDC dc(sheet);
    dc.SetBackground(wxBrush(wxColour(0xDD, 0xDD, 0xDD)));
    dc.Clear();
    const auto put = [&](const auto& control, int column, int row, int w, int h) {
        wxBitmap face(w, h, 24);
        {
            wxMemoryDC faceDc(face);
            control.Draw(faceDc);
        }
        dc.DrawBitmap(face, kGap + column * (kW + kGap), kGap + row * (kH + kGap));
    };
    // Row 0: image buttons normal, pressed, focused, disabled.
    const int quick[] = {146, 147, 148, 115};
    const char* captions[] = {"Phone", "G.722", "MP2", "Hang up"};
    for (int i = 0; i < 4; ++i) {
        auto* b = new CImageButton(frame, 2024 + i, 0, captions[i], wxPoint(0, 0), wxSize(kW, kH));
        b->SetImageColours(0x000000, 0xE8E8E8, 0xDDDDDD, 700);
        b->SetBitmap(quick[i], kBitmapTransparent);
        if (i == 1) b->Pressed();
        if (i == 2) {
            wxFocusEvent gained(wxEVT_SET_FOCUS, b->GetId());
            b->GetEventHandler()->ProcessEvent(gained);
        }
        if (i == 3) b->Disable();
        put(*b, i, 0, kW, kH);
    }
    // Row 1: hover buttons normal, hovered, pressed, disabled.
    for (int i = 0; i < 4; ++i) {
        auto* b = new CHoverButton(frame, 1816, "Play", wxPoint(0, 0), wxSize(kW, kH));
        b->SetColours(0x000000, 0x80FFFF, 0xE8E8E8);
        if (i == 1) b->PointerMoved(wxPoint(5, 5));
        if (i == 2) b->Pressed();
        if (i == 3) b->Disable();
        put(*b, i, 1, kW, kH);
    }
    // Row 2: the light off, amber, green.
    for (int i = 0; i < 3; ++i) {
        auto* light = new CIndicatorLight(frame, 3024, 0xDDDDDD);
        light->SetState(i != 0, i == 0 ? 1 : i);
        put(*light, i, 2, CIndicatorLight::kSize, CIndicatorLight::kSize);
    }
    dc.SelectObject(wxNullBitmap);
    const std::filesystem::path dir = std::filesystem::path(VELMORA_BINARY_DIR) / "ui-screens";
    std::filesystem::create_directories(dir);
    EXPECT_TRUE(sheet.SaveFile((dir / "custom-controls.png").string(), wxBITMAP_TYPE_PNG));
    frame->Destroy();
}

}  // namespace
