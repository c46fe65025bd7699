#pragma once
// Lighter shades of a colour, for the pages, the status panel and the device
// dialog. Any thread.
#include "platform/WinTypes.h"

// Each channel c becomes c + (255 - c) x percent / 100, truncated; percent
// outside 0..100 is clamped, so a channel never leaves 0..255.
COLORREF LightenColor(COLORREF color, double percent);
