#pragma once
// Paints a control into a memory bitmap and reads its pixels as COLORREFs.
#include <wx/bitmap.h>
#include <wx/dcmemory.h>
#include <wx/image.h>

#include "platform/WinTypes.h"

template <typename Control>
wxImage PaintToImage(const Control& control, int width, int height) {
    wxBitmap bitmap(width, height, 24);
    {
        wxMemoryDC dc(bitmap);
        control.Draw(dc);
    }
    return bitmap.ConvertToImage();
}

inline COLORREF PixelAt(const wxImage& image, int x, int y) {
    return static_cast<COLORREF>(image.GetRed(x, y) | image.GetGreen(x, y) << 8 | image.GetBlue(x, y) << 16);
}

// How many pixels carry the colour.
inline int CountPixels(const wxImage& image, COLORREF c) {
    int n = 0;
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x) n += PixelAt(image, x, y) == c;
    return n;
}
