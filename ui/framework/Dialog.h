#pragma once
// A modal dialog: a window handle on the GUI queue, a toolkit window built
// by the subclass, and the framework's virtual handlers. Construct, then
// DoModal; the handlers run on the GUI thread.
#include "platform/WindowMessages.h"

class wxDialog;
class wxGUIEventLoop;
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
    HWND GetSafeHwnd() const { return m_hWnd; }
    UINT TemplateId() const { return m_templateId; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The toolkit window behind a handle of a running dialog, or null.
    static wxWindow* ViewOf(HWND hwnd);

protected:
    virtual void BuildView(wxDialog& view) { (void)view; }
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
    wxDialog* View() const { return m_view; }
    void SetWindowText(const char* text);
    // Files dropped on the window reach it or not. The toolkit takes file
    // dropping as the window's one drop target and faults a second accept
    // while the first stands, so only a change is passed on.
    void DragAcceptFiles(bool accept);

private:
    void OnKey(int keyCode, bool control, bool alt, bool shift, bool& handled);
    void RunModalLoop(wxDialog& view);

    UINT m_templateId;
    HWND m_hWnd = nullptr;
    wxDialog* m_view = nullptr;
    int m_result = 0;
    bool m_ended = false;
    bool m_acceptsFiles = false;
    wxGUIEventLoop* m_loop = nullptr;
};
