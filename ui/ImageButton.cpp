#include "ui/ImageButton.h"

#include <wx/dcclient.h>

#include "common/Translator.h"
#include "ui/ResourceBitmaps.h"

namespace {

// Kind 1 and 2 take their captions from lines 0 and 1 of section 0.
wxString CaptionOf(int kind, const wxString& caption) {
    if (kind != 1 && kind != 2) return caption;
    CTranslator translator;
    return wxString::FromUTF8(translator.GetSectionText(0, kind - 1, kind == 1 ? "OK" : "Cancel"));
}

}  // namespace

CImageButton::CImageButton(wxWindow* parent, int id, int kind, const wxString& caption, const wxPoint& pos,
                           const wxSize& size, bool checkStyle)
    : CHoverButton(parent, id, CaptionOf(kind, caption), pos, size, checkStyle) {
    Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& e) {
        m_focus = true;
        Refresh(false);
        e.Skip();
    });
    Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& e) {
        m_focus = false;
        Refresh(false);
        e.Skip();
    });
    Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
        if (e.GetKeyCode() == WXK_SPACE && IsEnabled()) Click();
        else e.Skip();
    });
}

void CImageButton::SetImageColours(COLORREF text, COLORREF face, COLORREF pressed, int weight) {
    m_text = CColourTriple(text);
    m_face = CColourTriple(face);
    m_pressedColour = CColourTriple(pressed);
    m_fontWeight = weight;
    Refresh(false);
}

bool CImageButton::SetBitmap(int resourceId, COLORREF transparent) {
    wxBitmap bitmap = LoadResourceBitmap(resourceId);
    if (!bitmap.IsOk()) return false;
    bitmap.SetMask(new wxMask(bitmap, WxColour(transparent)));
    m_bitmap = bitmap;
    InvalidateBestSize();
    Refresh(false);
    return true;
}

int CImageButton::FitFontHeight(int height, int rectWidth, int textWidth) {
    if (textWidth <= rectWidth || textWidth <= 0) return height;
    return height * rectWidth / textWidth + 1;
}

wxSize CImageButton::DoGetBestSize() const {
    wxSize size = CHoverButton::DoGetBestSize();
    if (m_bitmap.IsOk()) size.x += m_bitmap.GetWidth() + 4;
    return size;
}

void CImageButton::Draw(wxDC& dc) const {
    const wxSize size = GetClientSize();
    const bool disabled = !IsEnabled();
    const bool pressed = IsPressedNow();
    const int shift = pressed ? 1 : 0;

    // The frame: raised, or sunk while pressed. Edges are filled one-pixel
    // rectangles: lines would be smoothed across two pixels.
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(pressed ? m_pressedColour.Wx() : m_face.Wx()));
    dc.DrawRectangle(0, 0, size.x, size.y);
    const wxColour light = *wxWHITE, shade = m_face.Darker(64).Wx(), dark = *wxBLACK;
    dc.SetBrush(wxBrush(pressed ? dark : light));
    dc.DrawRectangle(0, 0, size.x - 1, 1);
    dc.DrawRectangle(0, 0, 1, size.y - 1);
    dc.SetBrush(wxBrush(pressed ? light : dark));
    dc.DrawRectangle(0, size.y - 1, size.x, 1);
    dc.DrawRectangle(size.x - 1, 0, 1, size.y);
    if (!pressed) {
        dc.SetBrush(wxBrush(shade));
        dc.DrawRectangle(1, size.y - 2, size.x - 2, 1);
        dc.DrawRectangle(size.x - 2, 1, 1, size.y - 2);
    }

    // The picture left of a caption, or centred alone.
    wxRect captionRect(2, 2, size.x - 4, size.y - 4);
    if (m_bitmap.IsOk()) {
        const int w = m_bitmap.GetWidth(), h = m_bitmap.GetHeight();
        const int x = m_caption.empty() ? (size.x - w) / 2 : 4;
        dc.DrawBitmap(m_bitmap, x + shift, (size.y - h) / 2 + shift, true);
        if (!m_caption.empty()) {
            captionRect.x = x + w + 2;
            captionRect.width = size.x - captionRect.x - 2;
        }
    }
    if (!m_caption.empty()) {
        wxFont font = GetFont();
        font.SetPixelSize(wxSize(0, m_fontHeight + 3));
        font.SetWeight(m_fontWeight >= 700 ? wxFONTWEIGHT_BOLD : wxFONTWEIGHT_NORMAL);
        dc.SetFont(font);
        const int fitted = FitFontHeight(m_fontHeight + 3, captionRect.width, dc.GetTextExtent(m_caption).x);
        if (fitted != m_fontHeight + 3) {
            font.SetPixelSize(wxSize(0, fitted > 6 ? fitted : 6));
            dc.SetFont(font);
        }
        dc.SetTextForeground(m_text.Wx());
        captionRect.Offset(shift, shift);
        dc.DrawLabel(m_caption, captionRect, wxALIGN_CENTER);
    }
    dc.SetPen(*wxTRANSPARENT_PEN);
    if (m_focus && !disabled) {  // dotted: every other pixel of the frame
        dc.SetBrush(wxBrush(m_text.Wx()));
        const int left = 3 + shift, top = 3 + shift, right = size.x - 4 + shift, bottom = size.y - 4 + shift;
        for (int x = left; x <= right; x += 2) {
            dc.DrawRectangle(x, top, 1, 1);
            dc.DrawRectangle(x, bottom, 1, 1);
        }
        for (int y = top; y <= bottom; y += 2) {
            dc.DrawRectangle(left, y, 1, 1);
            dc.DrawRectangle(right, y, 1, 1);
        }
    }
    if (disabled) {  // a diagonal cross hatch, 8 pixels apart
        dc.SetBrush(wxBrush(m_pressedColour.Wx()));
        for (int y = 0; y < size.y; ++y)
            for (int x = 0; x < size.x; ++x)
                if ((x + y) % 8 == 0 || (x - y + 8 * size.y) % 8 == 0) dc.DrawRectangle(x, y, 1, 1);
    }
}
