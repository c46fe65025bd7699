#pragma once
// The dialogs' plain push button with a picture: a raised face that sinks
// while pressed (filled with the pressed colour), a picture drawn with its
// transparent colour left out, a dotted focus frame, and a cross hatch in the
// pressed colour over the whole button while disabled. Kind 1 is the OK and
// kind 2 the Cancel button of a dialog, captioned from the language file.
// Pointer, click and check style are the hover button's.
//
// Threads: GUI thread only.
#include "ui/HoverButton.h"

class CImageButton : public CHoverButton {
public:
    CImageButton(wxWindow* parent, int id, int kind, const wxString& caption, const wxPoint& pos,
                 const wxSize& size, bool checkStyle = false);

    void SetImageColours(COLORREF text, COLORREF face, COLORREF pressed, int weight);
    // The picture of a resource number; false when there is none.
    bool SetBitmap(int resourceId, COLORREF transparent);
    bool HasFocusFrame() const { return m_focus; }

    void Draw(wxDC& dc) const override;
    // Fitting for this button: in proportion, one pixel more.
    static int FitFontHeight(int height, int rectWidth, int textWidth);

    wxSize DoGetBestSize() const override;
    bool AcceptsFocus() const override { return true; }

private:
    CColourTriple m_pressedColour{0x808080};
    wxBitmap m_bitmap;
    bool m_focus = false;
};
