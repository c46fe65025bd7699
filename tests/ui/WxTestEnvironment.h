#pragma once
// The toolkit, brought up once for the test program's drawing tests. Tests
// that draw skip themselves without a display; a display the toolkit cannot
// start on fails them, as a skip there would pass a run that drew nothing.
#include <gtest/gtest.h>

#include "ui/framework/WinApp.h"

#include <cstdlib>

inline bool WxUp() {
    static const bool up = [] {
        if (!std::getenv("DISPLAY")) return false;
        static char name[] = "ui_tests";
        static char* argv[] = {name, nullptr};
        return AfxWinInit(1, argv) != FALSE;
    }();
    // Fatal, so that the case's body does not run after its set-up's skip.
    if (!up && std::getenv("DISPLAY"))
        [] { FAIL() << "the toolkit did not start on display " << std::getenv("DISPLAY")
                    << " (its reason, if it gave one, is above)"; }();
    return up;
}
