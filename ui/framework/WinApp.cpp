#include "ui/framework/WinApp.h"

#include <wx/app.h>
#include <wx/init.h>
#include <wx/log.h>

#include "ui/framework/GuiPump.h"
#include "ui/framework/ToolkitAssert.h"

namespace {

CWinApp* g_app = nullptr;

// The toolkit's own application object; ours does the work.
class CWxApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

bool g_wxUp = false;

}  // namespace

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

int CWinApp::Run() {
    // A dialog-based program runs its window inside InitInstance; nothing is left to run.
    return ExitInstance();
}

BOOL CWinApp::ProcessMessageFilter(int, MSG*) { return FALSE; }

CWinApp* AfxGetApp() { return g_app; }

BOOL AfxWinInit(int argc, char** argv) {
    if (g_wxUp) return TRUE;
    InstallToolkitAssertHandler();
    wxApp::SetInstance(new CWxApp);
    // Until the toolkit is up no window can show why it would not start, and
    // the default target would keep the reason unseen: say it on stderr. A
    // start that succeeds deletes this target itself.
    wxLog::SetActiveTarget(new wxLogStderr);
    int wxArgc = argc;
    if (!wxEntryStart(wxArgc, argv)) {
        delete wxLog::SetActiveTarget(nullptr);
        return FALSE;
    }
    if (!wxTheApp || !wxTheApp->CallOnInit()) {
        wxEntryCleanup();
        return FALSE;
    }
    g_wxUp = true;
    GuiQueue();
    BindGuiQueue();
    return TRUE;
}

void AfxWinTerm() {
    if (!g_wxUp) return;
    UnbindGuiQueue();
    if (wxTheApp) wxTheApp->OnExit();
    wxEntryCleanup();
    g_wxUp = false;
}

int AfxWinMain(int argc, char** argv) {
    int result = -1;
    CWinApp* app = AfxGetApp();
    if (app && AfxWinInit(argc, argv) && app->InitApplication()) {
        result = app->InitInstance() ? app->Run() : app->ExitInstance();
    }
    AfxWinTerm();
    return result;
}
