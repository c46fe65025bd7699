#pragma once
// The small pictures the dialogs load by resource number (the ISDN quick
// buttons, the browse button), drawn by code on the transparent grey
// 0xC0C0C0 so that they stay our own. GUI thread.
#include <wx/bitmap.h>

#include "platform/WinTypes.h"

constexpr COLORREF kBitmapTransparent = 0xC0C0C0;

// The picture of a resource number; an invalid bitmap for an unknown one.
wxBitmap LoadResourceBitmap(int id);
