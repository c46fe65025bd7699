#pragma once
// The four colours every dialog receives from its opener before it is shown.
#include "platform/WinTypes.h"

struct DialogColours {
    COLORREF buttonText;  // buttons and labels
    COLORREF otherText;
    COLORREF face;        // edit boxes and button faces
    COLORREF background;
};

// What the main window passes to every dialog it opens.
constexpr DialogColours kStandardDialogColours = {0x444444, 0x000000, 0xE8E8E8, 0xDDDDDD};
