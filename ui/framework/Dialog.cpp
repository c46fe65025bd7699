#include "ui/framework/Dialog.h"

#include <wx/dialog.h>
#include <wx/event.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/utils.h>

#include <map>
#include <optional>

#include "ui/framework/GuiPump.h"
#include "ui/framework/WinApp.h"

namespace {

std::map<HWND, wxTopLevelWindow*>& Views() {  // GUI thread only
    static std::map<HWND, wxTopLevelWindow*> views;
    return views;
}

constexpr WORD kIdOk = 1;
constexpr WORD kIdCancel = 2;

// The toolkit's key code as the virtual-key code of the accelerator tables.
WORD VirtualKeyOf(int keyCode) {
    if (keyCode >= WXK_F1 && keyCode <= WXK_F24) return static_cast<WORD>(VK_F1 + (keyCode - WXK_F1));
    if (keyCode >= 'a' && keyCode <= 'z') return static_cast<WORD>(keyCode - 'a' + 'A');
    if ((keyCode >= '0' && keyCode <= '9') || (keyCode >= 'A' && keyCode <= 'Z')) return static_cast<WORD>(keyCode);
    if (keyCode >= WXK_NUMPAD0 && keyCode <= WXK_NUMPAD9) return static_cast<WORD>('0' + keyCode - WXK_NUMPAD0);
    if (keyCode == WXK_ESCAPE) return 0x1B;
    if (keyCode == WXK_RETURN) return 0x0D;
    return 0;
}

}  // namespace

CDialog::CDialog(UINT templateId) : m_templateId(templateId) {}

CDialog::~CDialog() {
    if (m_hWnd) {
        Views().erase(m_hWnd);
        DestroyWindowHandle(m_hWnd);
    }
}

wxWindow* CDialog::ViewOf(HWND hwnd) {
    auto it = Views().find(hwnd);
    return it == Views().end() ? nullptr : it->second;
}

int CDialog::DoModal() {
    m_ended = false;
    m_result = 0;
    // Both on the stack: a modal window never outlives its run.
    std::optional<wxDialog> dialog;
    std::optional<wxFrame> frame;
    wxTopLevelWindow* view;
    if (IsFrame()) {
        view = &frame.emplace(nullptr, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                              wxDEFAULT_FRAME_STYLE & ~(wxRESIZE_BORDER | wxMAXIMIZE_BOX));
    } else {
        view = &dialog.emplace(nullptr, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                               wxDEFAULT_DIALOG_STYLE | wxMINIMIZE_BOX);
    }
    m_view = view;
    m_hWnd = CreateWindowHandle(GuiQueue(), this);
    Views()[m_hWnd] = view;
    view->Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { OnCancel(); });
    view->Bind(wxEVT_BUTTON, [this](wxCommandEvent& e) {
        if (e.GetId() == wxID_CANCEL) {
            OnCancel();
        } else if (e.GetId() == wxID_OK) {
            OnOK();
        } else {
            e.Skip();
        }
    });
    view->Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) {
        bool handled = false;
        OnKey(e.GetKeyCode(), e.ControlDown(), e.AltDown(), e.ShiftDown(), handled);
        if (!handled) e.Skip();
    });
    BuildView(*view);
    OnInitDialog();
    if (!m_ended) RunModalLoop(*view);
    OnDestroy();
    Views().erase(m_hWnd);
    DestroyWindowHandle(m_hWnd);
    m_hWnd = nullptr;
    m_view = nullptr;
    return m_result;
}

void CDialog::EndDialog(int result) {
    m_result = result;
    m_ended = true;
    if (m_loop && m_loop->IsRunning()) m_loop->Exit(result);
}

// Modal as the framework's dialogs are, the other windows disabled until it
// ends, but without the toolkit's input grab: a window opened while it runs
// (a notice box from the network or the engine) must still take clicks.
void CDialog::RunModalLoop(wxTopLevelWindow& view) {
    wxWindowDisabler others(&view);
    view.Show();
    view.Raise();
    wxGUIEventLoop loop;
    m_loop = &loop;
    if (!m_ended) loop.Run();
    m_loop = nullptr;
    HideNow();
}

void CDialog::HideNow() {
    if (!m_view || !m_view->IsShown()) return;
    m_view->Hide();
    // The toolkit sends the hide when it next looks for events; look now, for
    // drawing only: no input, timer or posted message runs in between.
    if (wxEventLoopBase* active = wxEventLoopBase::GetActive()) {
        active->YieldFor(wxEVT_CATEGORY_UI);
    } else {
        wxGUIEventLoop loop;
        wxEventLoopActivator activate(&loop);
        loop.YieldFor(wxEVT_CATEGORY_UI);
    }
}

void CDialog::SetWindowText(const char* text) {
    if (m_view) m_view->SetTitle(wxString::FromUTF8(text ? text : ""));
}

void CDialog::DragAcceptFiles(wxWindow* view, bool accept) {
    if (!view || (view->GetDropTarget() != nullptr) == accept) return;
    view->DragAcceptFiles(accept);
}

void CDialog::OnKey(int keyCode, bool control, bool alt, bool shift, bool& handled) {
    const WORD vk = VirtualKeyOf(keyCode);
    if (!vk) return;
    MSG msg;
    msg.hwnd = m_hWnd;
    msg.message = alt ? WM_SYSKEYDOWN : WM_KEYDOWN;
    msg.wParam = vk;
    msg.keyState = static_cast<BYTE>((control ? FCONTROL : 0) | (alt ? FALT : 0) | (shift ? FSHIFT : 0));
    if (CWinApp* app = AfxGetApp()) handled = app->ProcessMessageFilter(0, &msg) != FALSE;
    if (!handled && vk == 0x1B && !control && !alt) {
        OnCancel();  // Escape closes a dialog, as everywhere
        handled = true;
    }
    if (!handled && vk == 0x0D && !control && !alt) {
        OnOK();
        handled = true;
    }
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            OnCancel();
            return 0;
        case WM_TIMER:
            OnTimer(wParam);
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == kIdCancel) {
                OnCancel();
            } else if (LOWORD(wParam) == kIdOk) {
                OnOK();
            } else {
                OnCommand(LOWORD(wParam));
            }
            return 0;
        default:
            return OnMessage(message, wParam, lParam);
    }
}
