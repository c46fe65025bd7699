#pragma once
// A modal dialog: a window handle on the GUI queue, a toolkit window built
// by the subclass, and the framework's virtual handlers. Construct, then
// DoModal; the handlers run on the GUI thread.
#include "platform/WindowMessages.h"

class wxGUIEventLoop;
class wxTopLevelWindow;
class wxWindow;

class CDialog : public CMessageTarget {
public:
    explicit CDialog(UINT templateId);
    ~CDialog() override;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Builds the window, runs OnInitDialog and the modal loop; returns the
    // value given to EndDialog.
    int DoModal();
    void EndDialog(int result);
    // True once EndDialog was called in this run.
    bool Ended() const { return m_ended; }
    HWND GetSafeHwnd() const { return m_hWnd; }
    UINT TemplateId() const { return m_templateId; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The toolkit window behind a handle of a running dialog, or null.
    static wxWindow* ViewOf(HWND hwnd);
    // Windows' DragAcceptFiles: may be repeated (accepting twice, as a call
    // state 16 after 17 does, is no error). The toolkit refuses a second drop
    // target with an assertion box that holds the GUI thread, so only a
    // change reaches it. A null view is ignored.
    static void DragAcceptFiles(wxWindow* view, bool accept);

protected:
    // A window with a menu bar is a frame, run modally by a loop of its own.
    virtual bool IsFrame() const { return false; }
    virtual void BuildView(wxTopLevelWindow& view) { (void)view; }
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(1); }
    virtual void OnCancel() { EndDialog(2); }
    virtual void OnDestroy() {}
    virtual void OnTimer(UINT_PTR id) { (void)id; }
    virtual void OnCommand(WORD id) { (void)id; }
    // Every other message; its result goes back to a sender.
    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
        (void)message;
        (void)wParam;
        (void)lParam;
        return 0;
    }
    wxTopLevelWindow* View() const { return m_view; }
    void SetWindowText(const char* text);
    // Takes the window off the screen at once, before any closing work: the
    // display hears of it now, not when the program next waits for events.
    void HideNow();

private:
    void OnKey(int keyCode, bool control, bool alt, bool shift, bool& handled);
    void RunModalLoop(wxTopLevelWindow& view);

    UINT m_templateId;
    HWND m_hWnd = nullptr;
    wxTopLevelWindow* m_view = nullptr;
    wxGUIEventLoop* m_loop = nullptr;  // the window's modal loop
    int m_result = 0;
    bool m_ended = false;
};
