#include "ui/ResourceBitmaps.h"

#include <wx/dcmemory.h>
#include <wx/image.h>

#include <cstdlib>

#include "ui/ColourTriple.h"

namespace {

constexpr int kSide = 20;

// A telephone handset lying across the picture.
void Handset(wxDC& dc, const wxColour& colour) {
    dc.SetPen(wxPen(colour, 1));
    dc.SetBrush(wxBrush(colour));
    dc.DrawRoundedRectangle(2, 5, 16, 4, 2);
    dc.DrawRoundedRectangle(1, 7, 5, 6, 2);
    dc.DrawRoundedRectangle(14, 7, 5, 6, 2);
}

void Draw(wxDC& dc, int id) {
    switch (id) {
        case 146: Handset(dc, WxColour(0x202020)); break;  // Phone
        case 115: Handset(dc, WxColour(0x0000C8)); break;  // Hang up
        case 147: {  // G.722: a wave
            const wxPoint wave[] = {{1, 10}, {4, 4}, {7, 16}, {10, 4}, {13, 16}, {16, 4}, {19, 10}};
            dc.SetPen(wxPen(WxColour(0xA04000), 2));
            dc.DrawLines(7, wave);
            break;
        }
        case 148:  // MP2: a note
            dc.SetPen(wxPen(WxColour(0x006000), 2));
            dc.SetBrush(wxBrush(WxColour(0x006000)));
            dc.DrawEllipse(3, 12, 7, 5);
            dc.DrawLine(9, 14, 9, 3);
            dc.DrawLine(9, 3, 16, 6);
            break;
        case 130:  // browse: a folder
            dc.SetPen(wxPen(WxColour(0x004080), 1));
            dc.SetBrush(wxBrush(WxColour(0x40C0F0)));
            dc.DrawRectangle(2, 4, 7, 3);
            dc.DrawRectangle(2, 6, 16, 11);
            break;
        default: break;
    }
}

}  // namespace

wxBitmap LoadResourceBitmap(int id) {
    if (id != 115 && id != 130 && (id < 146 || id > 148)) return wxBitmap();
    wxBitmap bitmap(kSide, kSide, 24);
    wxMemoryDC dc(bitmap);
    dc.SetBackground(wxBrush(WxColour(kBitmapTransparent)));
    dc.Clear();
    Draw(dc, id);
    dc.SelectObject(wxNullBitmap);
    // Smoothed edges blend into the grey; what stays close to it becomes it,
    // so that leaving the grey out leaves no grey seam.
    wxImage image = bitmap.ConvertToImage();
    const wxColour grey = WxColour(kBitmapTransparent);
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const int d = std::abs(image.GetRed(x, y) - grey.Red()) + std::abs(image.GetGreen(x, y) - grey.Green()) +
                          std::abs(image.GetBlue(x, y) - grey.Blue());
            if (d < 48) image.SetRGB(x, y, grey.Red(), grey.Green(), grey.Blue());
        }
    }
    return wxBitmap(image, 24);
}
