#include "ui/IndicatorLight.h"

#include <wx/dcbuffer.h>
#include <wx/dcmemory.h>

#include "ui/ColourTriple.h"

namespace {

constexpr int kBlinkTimerId = 100;

}  // namespace

CIndicatorLight::CIndicatorLight(wxWindow* parent, int id, COLORREF background, const wxPoint& pos)
    : wxControl(parent, id, pos, wxSize(kSize, kSize), wxBORDER_NONE), m_background(background),
      m_timer(this, kBlinkTimerId) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetMinSize(wxSize(kSize, kSize));
    SetMaxSize(wxSize(kSize, kSize));
    Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
        wxAutoBufferedPaintDC dc(this);
        Draw(dc);
    });
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Tick(); }, kBlinkTimerId);
}

CIndicatorLight::~CIndicatorLight() { m_timer.Stop(); }

void CIndicatorLight::SetState(bool on, int blinkState) {
    if (blinkState == 1 || blinkState == 2) m_blink = blinkState;
    m_timer.Stop();
    m_displayed = on ? m_blink : 0;
    Refresh(false);
}

void CIndicatorLight::StartBlinking() { m_timer.Start(kBlinkMs); }

void CIndicatorLight::Tick() {
    m_displayed = m_displayed ? 0 : m_blink;
    Refresh(false);
}

COLORREF CIndicatorLight::LampColour(int state) {
    switch (state) {
        case 1: return 0x00C8FF;  // amber
        case 2: return 0x20D020;  // green
        default: return 0x505050;
    }
}

const wxBitmap& CIndicatorLight::Picture(int state) const {
    wxBitmap& picture = m_cache[static_cast<size_t>(state)];
    if (picture.IsOk()) return picture;
    picture.Create(kSize, kSize, 24);
    wxMemoryDC dc(picture);
    dc.SetBackground(wxBrush(WxColour(m_background)));
    dc.Clear();
    const CColourTriple lamp(LampColour(state));
    dc.SetPen(wxPen(lamp.Darker(96).Wx(), 1));
    dc.SetBrush(wxBrush(lamp.Wx()));
    dc.DrawEllipse(2, 2, kSize - 4, kSize - 4);
    // A small highlight makes it read as a lamp rather than a dot.
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(*wxWHITE));
    dc.DrawEllipse(5, 5, 3, 3);
    dc.SelectObject(wxNullBitmap);
    return picture;
}

void CIndicatorLight::Draw(wxDC& dc) const { dc.DrawBitmap(Picture(m_displayed), 0, 0); }
