#include "ui/LevelMeter.h"

#include <wx/dcclient.h>
#include <wx/dcmemory.h>

#include "ui/ColourTriple.h"

namespace {

constexpr int kSegmentWidth = 6, kSegmentHeight = 2, kYStep = 3;
constexpr int kBarStep = 23;

}  // namespace

CLevelMeter::CLevelMeter(wxWindow* parent, int id, const wxPoint& pos, const wxSize& size, int bars,
                         CLevelMeterModel::Clock clock)
    : wxControl(parent, id, pos, size, wxBORDER_NONE), m_model(std::move(clock)) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    m_model.SetSegmentGeometry(kSegmentWidth, kSegmentHeight, 0, kYStep);
    m_model.SetZones(22, 8, 3, 1);
    m_model.SetBarLayout(kBarStep, 0, bars);
    m_model.SetRange(0, 32767, 1.0);
    m_model.Create(bars == 2 ? 8 : 4, bars == 2 ? 3 : 2);
    Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
        wxPaintDC dc(this);
        DrawTo(dc);
    });
    Bind(wxEVT_SIZE, [this](wxSizeEvent& e) {
        m_picture = wxBitmap();
        m_model.RequestFullRedraw();
        e.Skip();
    });
}

wxSize CLevelMeter::DoGetBestSize() const {
    const int bars = m_model.Bars();
    const int width = 4 + (bars / 2) * (2 * kBarStep + kSegmentWidth) + (bars % 2) * kBarStep + 8;
    return wxSize(width, 2 + (m_model.Segments() + 1) * kYStep + 4);
}

void CLevelMeter::SetColours(COLORREF background, COLORREF label) {
    m_background = background;
    m_label = label;
    m_model.RequestFullRedraw();
    Refresh(false);
}

void CLevelMeter::SetLevels(const int* levels, int count) {
    bool repaint = false;
    for (int b = 0; b < count && b < m_model.Bars(); ++b) repaint |= m_model.SetLevel(b, levels[b], b == count - 1);
    if (repaint) Refresh(false);
}

void CLevelMeter::SetActive(bool on) {
    if (m_model.SetActive(on)) Refresh(false);
}

void CLevelMeter::DrawScale(wxDC& dc) {
    wxFont font(wxFontInfo(wxSize(0, 9)).Family(wxFONTFAMILY_SWISS));
    dc.SetFont(font);
    dc.SetTextForeground(WxColour(m_label));
    dc.SetTextBackground(WxColour(m_background));
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(WxColour(m_label)));
    for (int b = 0; b < m_model.Bars(); b += 2) {
        for (int j = 0; j < m_model.Segments(); ++j) {
            if (!m_model.HasScaleLabel(j)) continue;
            const LevelMeterSegment& s = m_model.Segment(b, j);
            const int px = s.x + s.width;
            const int py = s.y + s.height - s.height / 2;
            dc.DrawRectangle(px, py, 2, 1);
            dc.DrawRectangle(px + m_model.BarStepX() - s.width - 2, py, 2, 1);
            const wxString text = wxString::Format("%d", static_cast<int>(s.dbBelow));
            const wxSize extent = dc.GetTextExtent(text);
            dc.DrawText(text, m_model.BarStepX() / 2 + px - extent.x / 2 - 3, py - extent.y / 2);
        }
    }
}

void CLevelMeter::DrawChanges(wxDC& dc) {
    m_lastFills = 0;
    if (m_model.FullRedrawPending()) {
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(wxBrush(WxColour(m_background)));
        const wxSize size = dc.GetSize();
        dc.DrawRectangle(0, 0, size.x, size.y);
        DrawScale(dc);
    }
    dc.SetPen(*wxTRANSPARENT_PEN);
    for (int b = 0; b < m_model.Bars(); ++b) {
        for (int j = 0; j < m_model.Segments(); ++j) {
            if (!m_model.NeedsFill(b, j)) continue;
            const LevelMeterSegment& s = m_model.Segment(b, j);
            const ZoneColours& zone = kZones[s.zone - 1];
            dc.SetBrush(wxBrush(WxColour(m_model.ShownLit(b, j) ? zone.lit : zone.unlit)));
            dc.DrawRectangle(s.x, s.y, s.width, s.height);
            m_model.MarkDrawn(b, j);
            ++m_lastFills;
        }
    }
    m_model.EndPaint();
}

void CLevelMeter::DrawTo(wxDC& dc) {
    const wxSize size = GetClientSize();
    if (size.x <= 0 || size.y <= 0) return;
    if (!m_picture.IsOk() || m_picture.GetWidth() != size.x || m_picture.GetHeight() != size.y) {
        m_picture = wxBitmap(size.x, size.y, 24);
        m_model.RequestFullRedraw();
    }
    {
        wxMemoryDC memory(m_picture);
        DrawChanges(memory);
    }
    dc.DrawBitmap(m_picture, 0, 0);
}
