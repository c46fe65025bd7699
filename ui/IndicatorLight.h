#pragma once
// A 16 x 16 light: off, or lit in one of two colours (1 amber: trying,
// 2 green: flowing), steady or blinking between off and its colour every
// 250 ms. Each state is drawn once into a cached picture; Draw() paints into
// any DC, so tests look at its pixels.
//
// Threads: GUI thread only.
#include <wx/control.h>
#include <wx/bitmap.h>
#include <wx/timer.h>

#include <array>

#include "platform/WinTypes.h"

class CIndicatorLight : public wxControl {
public:
    static constexpr int kSize = 16;
    static constexpr int kBlinkMs = 250;

    CIndicatorLight(wxWindow* parent, int id, COLORREF background, const wxPoint& pos = wxDefaultPosition);
    ~CIndicatorLight() override;

    // Blink states other than 1 and 2 keep the previous one. Stops blinking.
    void SetState(bool on, int blinkState);
    void StartBlinking();
    // One blink step: the light toggles between off and its blink state.
    void Tick();

    int DisplayedState() const { return m_displayed; }
    int BlinkState() const { return m_blink; }
    bool IsBlinking() const { return m_timer.IsRunning(); }

    void Draw(wxDC& dc) const;
    // The colour of the lamp's centre in a state (0 off, 1, 2).
    static COLORREF LampColour(int state);

    wxSize DoGetBestSize() const override { return wxSize(kSize, kSize); }
    bool AcceptsFocus() const override { return false; }

private:
    const wxBitmap& Picture(int state) const;

    COLORREF m_background;
    int m_displayed = 0;
    int m_blink = 1;
    wxTimer m_timer;
    mutable std::array<wxBitmap, 3> m_cache;
};
