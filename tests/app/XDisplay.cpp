#include "XDisplay.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {
Display* D(void* p) { return static_cast<Display*>(p); }

std::string TitleOf(Display* d, Window w) {
    std::string title;
    Atom netName = XInternAtom(d, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(d, w, netName, 0, 1024, False, utf8, &type, &format, &items, &after, &data) == Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), items);
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(d, w, &name) && name) {
            title = name;
            XFree(name);
        }
    }
    return title;
}
long PidOf(Display* d, Window w) {
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_PID", False), 0, 1, False, XA_CARDINAL, &type, &format,
                           &items, &after, &data) == Success &&
        data) {
        if (items == 1 && format == 32) pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
        XFree(data);
    }
    return pid;
}
}  // namespace

// Windows of the program come and go while they are looked at: a query on
// one that has just gone is no failure of the test.
int IgnoreXError(Display*, XErrorEvent*) { return 0; }

CXDisplay::CXDisplay() {
    XSetErrorHandler(&IgnoreXError);
    m_display = XOpenDisplay(nullptr);
}

CXDisplay::~CXDisplay() {
    if (m_display) XCloseDisplay(D(m_display));
}

unsigned long CXDisplay::Search(unsigned long window, const std::string& titlePart, int depth) {
    Display* d = D(m_display);
    XWindowAttributes attributes;
    if (window != DefaultRootWindow(d) && XGetWindowAttributes(d, window, &attributes) &&
        attributes.map_state == IsViewable && TitleOf(d, window).find(titlePart) != std::string::npos) {
        return window;
    }
    if (depth > 3) return 0;
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, window, &root, &parent, &children, &count)) return 0;
    unsigned long found = 0;
    for (unsigned int i = 0; i < count && !found; ++i) found = Search(children[i], titlePart, depth + 1);
    if (children) XFree(children);
    return found;
}

unsigned long CXDisplay::FindWindow(const std::string& titlePart) {
    if (!m_display) return 0;
    XSync(D(m_display), False);
    return Search(DefaultRootWindow(D(m_display)), titlePart, 0);
}

void CXDisplay::Collect(unsigned long window, const std::string& titlePart, long pid, int depth,
                        std::vector<unsigned long>& out) {
    Display* d = D(m_display);
    XWindowAttributes attributes;
    if (window != DefaultRootWindow(d) && XGetWindowAttributes(d, window, &attributes) &&
        attributes.map_state == IsViewable && TitleOf(d, window).find(titlePart) != std::string::npos &&
        PidOf(d, window) == pid) {
        out.push_back(window);
        return;
    }
    if (depth > 3) return;
    Window root, parent, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(d, window, &root, &parent, &children, &count)) return;
    for (unsigned int i = 0; i < count; ++i) Collect(children[i], titlePart, pid, depth + 1, out);
    if (children) XFree(children);
}

unsigned long CXDisplay::FindWindowOf(const std::string& titlePart, long pid) {
    if (!m_display) return 0;
    XSync(D(m_display), False);
    std::vector<unsigned long> found;
    Collect(DefaultRootWindow(D(m_display)), titlePart, pid, 0, found);
    return found.empty() ? 0 : found.front();
}

int CXDisplay::CountWindowsOf(const std::string& titlePart, long pid) {
    if (!m_display) return 0;
    XSync(D(m_display), False);
    std::vector<unsigned long> found;
    Collect(DefaultRootWindow(D(m_display)), titlePart, pid, 0, found);
    return static_cast<int>(found.size());
}

bool CXDisplay::Size(unsigned long window, int& width, int& height) {
    XWindowAttributes attributes;
    if (!m_display || !XGetWindowAttributes(D(m_display), window, &attributes)) return false;
    width = attributes.width;
    height = attributes.height;
    return true;
}

bool CXDisplay::Close(unsigned long window) {
    if (!m_display || !window) return false;
    Display* d = D(m_display);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const bool sent = XSendEvent(d, window, False, NoEventMask, &event) != 0;
    XFlush(d);
    return sent;
}

// At the current time: a program asking through its toolkit gives the time of
// the last input it saw, and the server ignores a request older than the last
// change of focus, so a window whose program saw no input since another took
// the keyboard would never get it back.
bool CXDisplay::Focus(unsigned long window) {
    if (!m_display || !window) return false;
    Display* d = D(m_display);
    XSetInputFocus(d, window, RevertToParent, CurrentTime);
    XSync(d, False);
    return true;
}
