#pragma once
// Finding and closing top-level windows on the X display, as a user would.
#include <string>

class CXDisplay {
public:
    CXDisplay();  // opens $DISPLAY; IsOpen() false without one
    ~CXDisplay();
    bool IsOpen() const { return m_display != nullptr; }
    // First window whose title contains the text; 0 when none.
    unsigned long FindWindow(const std::string& titlePart);
    // Asks the window to close (the window manager's close request).
    bool Close(unsigned long window);

private:
    unsigned long Search(unsigned long window, const std::string& titlePart, int depth);
    void* m_display = nullptr;
};
