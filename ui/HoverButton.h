#pragma once
// The program's button: flat face, lit up while the pointer is over it, an
// optional picture above an optional caption, and an optional check style
// (stays pressed while checked). Clicking sends wxEVT_BUTTON with its id.
// Draw() paints into any DC, so tests look at its pixels.
//
// Threads: GUI thread only.
#include <wx/control.h>

#include "platform/WinTypes.h"
#include "ui/ColourTriple.h"
#include "ui/FaceIcons.h"

class CHoverButton : public wxControl {
public:
    CHoverButton(wxWindow* parent, int id, const wxString& caption, const wxPoint& pos, const wxSize& size,
                 bool checkStyle = false);

    void SetColours(COLORREF text, COLORREF hover, COLORREF face);
    // The picture and whether a disabled face of it exists.
    void SetIcon(FaceIcon icon, bool hasDisabledFace);
    void SetCaption(const wxString& caption);
    // A fixed caption height in pixels (a band at the bottom when there is a picture).
    void SetCaptionFont(const wxString& caption, int height);
    void SetCheck(bool on);
    bool GetCheck() const { return m_checkStyle && m_checked; }
    bool IsHovered() const { return m_hover; }
    bool IsCaptured() const { return m_captured; }

    // Paints the button as it looks now.
    virtual void Draw(wxDC& dc) const;
    // The caption's font height after fitting a text of textWidth pixels into
    // rectWidth: shrinks in proportion, two pixels more without a band.
    static int FitFontHeight(int height, int rectWidth, int textWidth, bool captionBand);

    // Pointer handling, public so tests can drive it without a pointer.
    void PointerMoved(const wxPoint& pos);
    void PointerLeft();
    void Pressed();
    void Released(bool inside);

    wxSize DoGetBestSize() const override;
    bool AcceptsFocus() const override { return false; }

protected:
    bool IsPressedNow() const { return !IsEnabled() ? false : (m_checkStyle && m_checked) || m_pressed; }
    void Click();

    wxString m_caption;
    int m_fontHeight = 10;
    int m_fontWeight = 700;
    CColourTriple m_text{0};
    CColourTriple m_face{0xC0C0C0};

private:
    void OnPaint(wxPaintEvent& event);

    bool m_checkStyle;
    bool m_checked = false;
    bool m_hover = false;
    bool m_pressed = false;
    bool m_captured = false;
    FaceIcon m_icon = FaceIcon::kNone;
    bool m_hasDisabledFace = false;
    CColourTriple m_hoverColour{0xC0C0C0};
};
