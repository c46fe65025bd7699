#pragma once
// The toolkit, brought up once for the test program's drawing tests. Tests
// that draw skip themselves without a display.
#include "ui/framework/WinApp.h"

#include <cstdlib>

inline bool WxUp() {
    static const bool up = [] {
        if (!std::getenv("DISPLAY")) return false;
        static char name[] = "ui_tests";
        static char* argv[] = {name, nullptr};
        return AfxWinInit(1, argv) != FALSE;
    }();
    return up;
}
