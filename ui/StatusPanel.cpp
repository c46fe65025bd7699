#include "ui/StatusPanel.h"

#include <wx/dcbuffer.h>
#include <wx/dcclient.h>

#include "common/Color.h"
#include "ui/ColourTriple.h"

CStatusPanel::CStatusPanel(wxWindow* parent, int id, const wxString& text, const wxPoint& pos, const wxSize& size,
                           long align)
    : wxControl(parent, id, pos, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE), m_text(text), m_align(align) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetLabel(text);
    Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
        wxAutoBufferedPaintDC dc(this);
        Draw(dc);
    });
}

void CStatusPanel::SetAll(const wxString* text, COLORREF textColour, COLORREF background, int weight) {
    if (text) {
        m_text = *text;
        SetLabel(*text);
    }
    m_textColour = textColour;
    m_background = background;
    m_weight = weight;
    Refresh(false);
}

void CStatusPanel::SetText(const wxString& text) {
    m_text = text;
    SetLabel(text);
    Refresh(false);
}

void CStatusPanel::SetGradient(bool on) {
    m_gradient = on;
    Refresh(false);
}

wxSize CStatusPanel::DoGetBestSize() const {
    wxClientDC dc(const_cast<CStatusPanel*>(this));
    dc.SetFont(GetFont());
    const wxSize text = dc.GetTextExtent(m_text.empty() ? wxString("M") : m_text);
    return wxSize(text.x + 8, text.y + 6);
}

void CStatusPanel::Draw(wxDC& dc) const {
    const wxSize size = GetClientSize();
    if (m_background < kNoBackground) {
        if (m_gradient && size.x > 0) {
            // Left edge the colour itself, right edge nearly white.
            for (int x = 0; x < size.x; ++x) {
                const double percent = 100.0 - (size.x - x) * 100.0 / size.x;
                dc.SetPen(wxPen(WxColour(LightenColor(m_background, percent)), 1));
                dc.DrawLine(x, 0, x, size.y);
            }
        } else {
            dc.SetPen(*wxTRANSPARENT_PEN);
            dc.SetBrush(wxBrush(WxColour(m_background)));
            dc.DrawRectangle(0, 0, size.x, size.y);
        }
    } else if (wxWindow* parent = GetParent()) {
        // No background of its own: the parent's shows through.
        dc.SetPen(*wxTRANSPARENT_PEN);
        dc.SetBrush(wxBrush(parent->GetBackgroundColour()));
        dc.DrawRectangle(0, 0, size.x, size.y);
    }
    wxFont font = GetFont();
    font.SetWeight(m_weight >= 700 ? wxFONTWEIGHT_BOLD : wxFONTWEIGHT_NORMAL);
    dc.SetFont(font);
    dc.SetTextForeground(WxColour(m_textColour));
    dc.DrawLabel(m_text, wxRect(4, 0, size.x - 8, size.y), m_align | wxALIGN_CENTER_VERTICAL);
}
