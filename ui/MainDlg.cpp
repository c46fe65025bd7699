#include "ui/MainDlg.h"

#include <filesystem>

#include <wx/dialog.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "common/Settings.h"
#include "common/SharedState.h"
#include "platform/Clock.h"
#include "platform/ThreadPriority.h"
#include "platform/WaveApi.h"
#include "ui/AudioSetupCheck.h"
#include "ui/CallEngineMainEngine.h"
#include "ui/Resources.h"
#include "ui/RipRemoteControl.h"
#include "ui/StartupSettings.h"
#include "ui/framework/GuiPump.h"
#include "ui/framework/MessageBox.h"

namespace {

CMainDlgHooks& Hooks() {
    static CMainDlgHooks hooks;
    return hooks;
}

std::unique_ptr<CMainEngine> MakeEngine() {
    if (Hooks().makeEngine) {
        if (auto engine = Hooks().makeEngine()) return engine;
    }
    return std::make_unique<CCallEngineMainEngine>();
}

constexpr int kMaxStartDelaySeconds = 24 * 3600;
constexpr char kDefaultPhoneFile[] = "My Phonebook.Pb";

}  // namespace

void CMainDlg::SetHooks(CMainDlgHooks hooks) { Hooks() = std::move(hooks); }

CMainDlg::CMainDlg()
    : CDialog(IDD_MAIN_DIALOG), m_engine(MakeEngine()), m_logic(*m_engine, m_translator, *this) {
    if (g_sharedState) {
        g_sharedState->startTime = timeGetTime();
        g_sharedState->accelerators = LoadMainAccelerators();
    }
    m_translator.AttachWindow(this);
}

CMainDlg::~CMainDlg() {
    m_logic.SetRemoteControl(nullptr);
    m_rip.reset();
    m_engine.reset();
    if (g_sharedState) {
        // Nobody may translate keys through a table or window that is gone.
        DestroyAcceleratorTable(static_cast<HACCEL>(g_sharedState->accelerators));
        g_sharedState->accelerators = nullptr;
        g_sharedState->mainWindow = nullptr;
    }
}

int CMainDlg::Init(const char* programName) {
    m_winClass = StartupSettings::GetMainWinClass();
    if (!StartupSettings::GetMainNoSplash() && Hooks().showSplash) Hooks().showSplash(*this);

    int delay = StartupSettings::GetMainStartDelay();
    delay = delay < 0 ? 0 : delay > kMaxStartDelaySeconds ? kMaxStartDelaySeconds : delay;
    const uint32_t start = g_sharedState ? g_sharedState->startTime : timeGetTime();
    const uint32_t release = start + static_cast<uint32_t>(delay) * 1000u;
    if (g_sharedState) g_sharedState->startupReleaseTime = release;
    while (static_cast<int32_t>(timeGetTime() - release) < 0) Sleep(10);

    // This platform stands where the newest system family stood: the NT
    // line with endpoint audio devices.
    if (g_sharedState) {
        g_sharedState->ntPlatform = 1;
        g_sharedState->endpointFlag = 1;
    }
    if (Hooks().checkCpuSpeed && !Hooks().checkCpuSpeed(*this)) return 0;
    if (Hooks().checkIsdnCard && !Hooks().checkIsdnCard(*this)) return 0;
    if (g_sharedState) {
        g_sharedState->traceValue = StartupSettings::GetOptionsTrace();
        g_sharedState->miniIsdn = StartupSettings::GetMiniISDNEnabled();
    }
    if (Hooks().initPhonebook ? !Hooks().initPhonebook(*this) : !InitPhonebook()) return 0;
    if (!m_engine->Start(programName, StartupSettings::GetMainFastCPU())) {
        m_translator.ShowError(4, "Unable to init Codec object.");
        return 0;
    }
    if (Hooks().initAudioDevices && !Hooks().initAudioDevices(*this)) return 0;
    if (Hooks().createPages && !Hooks().createPages(*this)) return 0;
    return 1;
}

void CMainDlg::BuildView(wxDialog& view) {
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    auto* face = new wxPanel(&view, wxID_ANY, wxDefaultPosition, wxSize(560, 260));
    sizer->Add(face, 1, wxEXPAND);
    m_statusLine = new wxStaticText(&view, wxID_ANY, wxEmptyString);
    sizer->Add(m_statusLine, 0, wxEXPAND | wxALL, 4);
    view.SetSizerAndFit(sizer);
}

BOOL CMainDlg::OnInitDialog() {
    // First of all: the audio devices and the key filter read the handle from here.
    if (g_sharedState) g_sharedState->mainWindow = GetSafeHwnd();
    SetWindowText(kMainCaption);
    m_engine->SetMainWindow(GetSafeHwnd());
    StartRemoteControl();
    m_logic.SetSetupWarning(DescribeAudioSetupProblem(CSettings(), waveInGetNumDevs(), waveOutGetNumDevs()));
    if (View()) View()->CentreOnScreen();
    return TRUE;
}

int CMainDlg::InitPhonebook() {
    const std::string file = CSettings().GetMainPhoneFile();
    if (!m_phonebook.Init(file.c_str())) {
        m_translator.ShowError(6, "Unable to init Phonebook object.");
        return 0;
    }
    // A first start has no phonebook yet: that is no error. A file that is
    // there but cannot be read is reported, and the station runs on without it.
    if (!m_phonebook.Load(true) && std::filesystem::exists(file)) {
        const std::string text = std::string(m_translator.GetText(7, "Unable to open Phonebookfile:")) + "\n\n" + file;
        MessageBox(text.c_str(), "Error...", MB_ICONERROR | MB_SETFOREGROUND);
    }
    return 1;
}

void CMainDlg::SavePhonebook() {
    if (m_phonebook.Save()) return;
    // A read-only or vanished file: keep the entries in the default file instead.
    CSettings().SetMainPhoneFile(kDefaultPhoneFile);
    m_phonebook.SetFileName(kDefaultPhoneFile);
    m_phonebook.Save();
}

void CMainDlg::StartRemoteControl() {
    const int port = StartupSettings::GetARIPPortNumber() & 0xFFFF;
    if (port == 0) return;
    m_rip = Hooks().makeRemoteControl ? Hooks().makeRemoteControl() : std::make_unique<CRipRemoteControl>();
    if (!m_rip) {
        AfxMessageBox(GetSafeHwnd(), "Unable to create RIP object.", "Error...", MB_ICONERROR | MB_SETFOREGROUND);
        return;
    }
    if (!m_rip->Init(GetSafeHwnd(), port)) {
        AfxMessageBox(GetSafeHwnd(), "Unable to init RIP object.", "Error...", MB_ICONERROR | MB_SETFOREGROUND);
        m_rip.reset();
        return;
    }
    m_rip->SendState(m_logic.CallState());
    m_rip->SetAvailableTransports(m_engine->GetAvailableTransports());
    m_logic.SetRemoteControl(m_rip.get());
    SetTimer(GetSafeHwnd(), kRemoteControlTimer, 200);
}

void CMainDlg::OnCancel() {
    if (m_engine->IsConnectionActive()) {
        if (!m_translator.ConfirmSectionText(
                2, 24, "Closing will also stop the connection. Close and break the connection?")) {
            return;
        }
        m_engine->Disconnect();
        Sleep(2000);
    }
    EndDialog(2);
}

void CMainDlg::OnDestroy() {
    // The boxes belong to the window: they go with it.
    m_engineErrors.Close();
    m_connectionErrors.Close();
    SavePhonebook();
    KillTimer(GetSafeHwnd(), kRemoteControlTimer);
}

void CMainDlg::OnTimer(UINT_PTR id) {
    if (id == kRemoteControlTimer && m_rip) m_rip->Poll();
}

LRESULT CMainDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    m_logic.HandleMessage(message, wParam, lParam, result);
    return result;
}

int CMainDlg::MessageBox(const char* text, const char* caption, UINT style) {
    return AfxMessageBox(GetSafeHwnd(), text, caption, style);
}

void CMainDlg::ShowStatusLine(const std::string& text) {
    m_statusText = text;
    if (m_statusLine) m_statusLine->SetLabel(wxString::FromUTF8(text.c_str()));
}

void CMainDlg::ShowErrorBox(ErrorKind kind, const std::string& text) {
    (kind == kEngineError ? m_engineErrors : m_connectionErrors).Show(GetSafeHwnd(), text);
}

void CMainDlg::SetGuiPriority(bool idle) {
    // While audio flows the window yields to the engine's worker.
    SetThreadPriority(GetCurrentThread(), idle ? THREAD_PRIORITY_IDLE : THREAD_PRIORITY_NORMAL);
}

void CMainDlg::AcceptDroppedFiles(bool accept) {
    DragAcceptFiles(accept);
}
