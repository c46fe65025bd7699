#pragma once
// Finding and closing top-level windows on the X display, as a user would.
#include <string>
#include <vector>

class CXDisplay {
public:
    CXDisplay();  // opens $DISPLAY; IsOpen() false without one
    ~CXDisplay();
    bool IsOpen() const { return m_display != nullptr; }
    // First window whose title contains the text; 0 when none.
    unsigned long FindWindow(const std::string& titlePart);
    // First window whose title contains the text and that belongs to the process; 0 when none.
    unsigned long FindWindowOf(const std::string& titlePart, long pid);
    // Shown windows whose title contains the text and that belong to the process.
    int CountWindowsOf(const std::string& titlePart, long pid);
    // Width and height of a window; false when it is gone.
    bool Size(unsigned long window, int& width, int& height);
    // Asks the window to close (the window manager's close request).
    bool Close(unsigned long window);
    // Gives the window the keyboard, whatever program had it.
    bool Focus(unsigned long window);

private:
    unsigned long Search(unsigned long window, const std::string& titlePart, int depth);
    void Collect(unsigned long window, const std::string& titlePart, long pid, int depth, std::vector<unsigned long>& out);
    void* m_display = nullptr;
};
