#include "ui/FaceIcons.h"

#include <algorithm>

namespace {

void Triangle(wxDC& dc, int x, int y, int size) {
    const wxPoint points[3] = {{x, y}, {x + size * 7 / 8, y + size / 2}, {x, y + size}};
    dc.DrawPolygon(3, points);
}

}  // namespace

void DrawFaceIcon(wxDC& dc, FaceIcon icon, const wxRect& rect, const wxColour& colour) {
    if (icon == FaceIcon::kNone) return;
    const int size = std::max(6, std::min(rect.width, rect.height) * 3 / 5);
    const int x = rect.x + (rect.width - size) / 2;
    const int y = rect.y + (rect.height - size) / 2;
    const int bar = std::max(2, size / 4);
    dc.SetPen(wxPen(colour, 1));
    dc.SetBrush(wxBrush(colour));
    switch (icon) {
        case FaceIcon::kPlay: Triangle(dc, x + size / 8, y, size); break;
        case FaceIcon::kPlaying:  // play with a ring: the clip runs
            Triangle(dc, x + size / 4, y + size / 6, size * 2 / 3);
            dc.SetBrush(*wxTRANSPARENT_BRUSH);
            dc.SetPen(wxPen(colour, 2));
            dc.DrawEllipse(x - 1, y - 1, size + 2, size + 2);
            break;
        case FaceIcon::kPause:
        case FaceIcon::kPaused:
            dc.DrawRectangle(x + size / 8, y, bar, size);
            dc.DrawRectangle(x + size - size / 8 - bar, y, bar, size);
            if (icon == FaceIcon::kPaused) {
                dc.SetBrush(*wxTRANSPARENT_BRUSH);
                dc.DrawRectangle(x - 2, y - 2, size + 4, size + 4);
            }
            break;
        case FaceIcon::kStop: dc.DrawRectangle(x + 1, y + 1, size - 2, size - 2); break;
        case FaceIcon::kAdd:
            dc.DrawRectangle(x, y + (size - bar) / 2, size, bar);
            dc.DrawRectangle(x + (size - bar) / 2, y, bar, size);
            break;
        case FaceIcon::kRemove: dc.DrawRectangle(x, y + (size - bar) / 2, size, bar); break;
        case FaceIcon::kCloseLibrary: {
            dc.SetPen(wxPen(colour, std::max(2, size / 5)));
            dc.DrawLine(x, y, x + size, y + size);
            dc.DrawLine(x + size, y, x, y + size);
            break;
        }
        case FaceIcon::kVoiceover: {  // a microphone
            const int w = size / 2;
            dc.DrawRoundedRectangle(x + (size - w) / 2, y, w, size * 2 / 3, w / 2);
            dc.SetBrush(*wxTRANSPARENT_BRUSH);
            dc.SetPen(wxPen(colour, 2));
            dc.DrawArc(x + size, y + size / 3, x, y + size / 3, x + size / 2, y + size / 3);
            dc.DrawLine(x + size / 2, y + size * 5 / 6, x + size / 2, y + size);
            break;
        }
        case FaceIcon::kNone: break;
    }
}
