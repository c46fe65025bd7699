#include "ui/HoverButton.h"

#include <wx/dcbuffer.h>
#include <wx/dcclient.h>

namespace {

constexpr int kCaptionBand = 16;  // caption band below a picture

}  // namespace

CHoverButton::CHoverButton(wxWindow* parent, int id, const wxString& caption, const wxPoint& pos,
                           const wxSize& size, bool checkStyle)
    : wxControl(parent, id, pos, size, wxBORDER_NONE | wxFULL_REPAINT_ON_RESIZE), m_caption(caption),
      m_checkStyle(checkStyle) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetLabel(caption);
    Bind(wxEVT_PAINT, &CHoverButton::OnPaint, this);
    Bind(wxEVT_MOTION, [this](wxMouseEvent& e) { PointerMoved(e.GetPosition()); });
    Bind(wxEVT_ENTER_WINDOW, [this](wxMouseEvent& e) { PointerMoved(e.GetPosition()); });
    Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent&) {
        if (!m_captured) PointerLeft();
    });
    Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent&) {
        if (!IsEnabled()) return;
        if (!m_captured) {
            CaptureMouse();
            m_captured = true;
        }
        Pressed();
    });
    Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& e) {
        const bool inside = GetClientRect().Contains(e.GetPosition());
        if (m_captured) {
            ReleaseMouse();
            m_captured = false;
        }
        Released(inside);
        if (!inside) PointerLeft();
    });
    Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) {
        m_captured = false;
        m_pressed = false;
        PointerLeft();
    });
}

void CHoverButton::SetColours(COLORREF text, COLORREF hover, COLORREF face) {
    m_text = CColourTriple(text);
    m_hoverColour = CColourTriple(hover);
    m_face = CColourTriple(face);
    Refresh(false);
}

void CHoverButton::SetIcon(FaceIcon icon, bool hasDisabledFace) {
    m_icon = icon;
    m_hasDisabledFace = hasDisabledFace;
    Refresh(false);
}

void CHoverButton::SetCaption(const wxString& caption) {
    m_caption = caption;
    SetLabel(caption);
    Refresh(false);
}

void CHoverButton::SetCaptionFont(const wxString& caption, int height) {
    m_fontHeight = height;
    m_fontWeight = 400;
    SetCaption(caption);
}

void CHoverButton::SetCheck(bool on) {
    if (!m_checkStyle || m_checked == on) return;
    m_checked = on;
    Refresh(false);
}

int CHoverButton::FitFontHeight(int height, int rectWidth, int textWidth, bool captionBand) {
    if (textWidth <= rectWidth || textWidth <= 0) return height;
    return height * rectWidth / textWidth - (captionBand ? 0 : 2);
}

void CHoverButton::PointerMoved(const wxPoint& pos) {
    if (!IsEnabled()) return;
    const bool inside = GetClientRect().Contains(pos);
    if (inside != m_hover) {
        m_hover = inside;
        Refresh(false);
    }
}

void CHoverButton::PointerLeft() {
    if (m_hover) {
        m_hover = false;
        Refresh(false);
    }
}

void CHoverButton::Pressed() {
    m_pressed = true;
    Refresh(false);
}

void CHoverButton::Released(bool inside) {
    const bool was = m_pressed;
    m_pressed = false;
    Refresh(false);
    if (was && inside && IsEnabled()) Click();
}

void CHoverButton::Click() {
    if (m_checkStyle) m_checked = !m_checked;
    wxCommandEvent event(wxEVT_BUTTON, GetId());
    event.SetEventObject(this);
    event.SetInt(GetCheck() ? 1 : 0);
    ProcessWindowEvent(event);
}

wxSize CHoverButton::DoGetBestSize() const {
    wxClientDC dc(const_cast<CHoverButton*>(this));
    dc.SetFont(GetFont());
    const wxSize text = dc.GetTextExtent(m_caption.empty() ? wxString("M") : m_caption);
    return wxSize(text.x + 16, (m_icon == FaceIcon::kNone ? 0 : 24) + text.y + 10);
}

void CHoverButton::Draw(wxDC& dc) const {
    const wxSize size = GetClientSize();
    wxRect rect(0, 0, size.x, size.y);
    const bool disabled = !IsEnabled();
    const bool hover = m_hover && !disabled;
    const bool pressed = !disabled && ((m_checkStyle && m_checked) || m_pressed);
    const int shift = pressed ? 1 : 0;

    // Face and outline.
    const CColourTriple faceDark = m_face.Darker(32);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(pressed ? faceDark.Wx() : hover ? m_hoverColour.Wx() : m_face.Wx()));
    dc.DrawRectangle(rect);
    const wxColour outline = pressed || hover ? m_text.Wx() : disabled ? faceDark.Wx() : m_hoverColour.Darker(24).Wx();
    dc.SetPen(wxPen(outline, 1));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(1 + shift, 1 + shift, size.x - 2, size.y - 2);

    // Picture, then the caption in the band below it (or the whole face).
    const wxColour ink = disabled ? faceDark.Wx() : hover ? m_text.Darker(64).Wx() : m_text.Wx();
    wxRect captionRect = rect;
    if (m_icon != FaceIcon::kNone) {
        wxRect pictureRect = rect;
        if (!m_caption.empty()) {
            captionRect = wxRect(0, size.y - kCaptionBand - 3, size.x, kCaptionBand);
            pictureRect.height = size.y - kCaptionBand - 2;
        }
        pictureRect.Offset(shift, shift);
        const bool showDisabledFace = disabled && m_hasDisabledFace;
        DrawFaceIcon(dc, m_icon, pictureRect, showDisabledFace || !disabled ? ink : m_text.Wx());
    }
    if (!m_caption.empty()) {
        wxFont font = GetFont();
        font.SetPixelSize(wxSize(0, m_fontHeight + 3));
        font.SetWeight(m_fontWeight >= 700 ? wxFONTWEIGHT_BOLD : wxFONTWEIGHT_NORMAL);
        dc.SetFont(font);
        const int width = dc.GetTextExtent(m_caption).x;
        const int fitted = FitFontHeight(m_fontHeight + 3, captionRect.width - 4, width, m_icon != FaceIcon::kNone);
        if (fitted != m_fontHeight + 3) {
            font.SetPixelSize(wxSize(0, fitted > 6 ? fitted : 6));
            dc.SetFont(font);
        }
        dc.SetTextForeground(ink);
        captionRect.Offset(shift, shift);
        dc.DrawLabel(m_caption, captionRect, wxALIGN_CENTER);
    }
}

void CHoverButton::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    Draw(dc);
}
