#pragma once
// The small pictures of the main window's buttons, drawn as shapes so that
// they stay sharp at any size. GUI thread.
#include <wx/dc.h>

enum class FaceIcon { kNone, kCloseLibrary, kAdd, kRemove, kVoiceover, kPlay, kPlaying, kPause, kPaused, kStop };

// Draws the icon centred in the rectangle in one colour.
void DrawFaceIcon(wxDC& dc, FaceIcon icon, const wxRect& rect, const wxColour& colour);
