#include "ui/MainStartup.h"

#include "common/Settings.h"
#include "common/Translator.h"
#include "platform/MessageBoxCodes.h"
#include "ui/CpuSpeedLogic.h"
#include "ui/MainEngine.h"

CMainStartup::CMainStartup(CMainStartupView& view, CTranslator& translator, const CSettings& settings,
                           MainStartupSteps steps)
    : m_view(view), m_translator(translator), m_settings(settings), m_steps(std::move(steps)) {}

int CMainStartup::Run(const char* programName, uint32_t startTime) {
    m_winClass = m_settings.GetMainWinClass();
    if (!m_settings.GetMainNoSplash()) {
        if (m_steps.showSplash) {
            m_steps.showSplash();
        } else {
            m_view.ShowSplash();
        }
    }
    // The delay counts from construction, not from the end of the splash.
    int delay = m_settings.GetMainStartDelay();
    delay = delay < 0 ? 0 : delay > kMaxStartDelaySeconds ? kMaxStartDelaySeconds : delay;
    m_view.WaitUntil(startTime + static_cast<uint32_t>(delay) * 1000u);
    m_view.MarkPlatform();

    if (!CheckCpuSpeed()) return 0;
    if (m_steps.checkIsdnCard && !m_steps.checkIsdnCard()) return 0;
    m_miniIsdn = m_settings.GetMiniISDNEnabled() != 0;
    m_view.UseModes(m_miniIsdn, m_settings.GetOptionsTrace());
    if (!InitPhonebook()) return 0;
    if (!m_view.StartEngine(programName, m_settings.GetMainFastCPU())) {
        m_translator.ShowError(4, "Unable to init Codec object.");
        return 0;
    }
    if (!InitAudioDevices()) return 0;
    if (m_steps.createPages && !m_steps.createPages()) return 0;
    return 1;
}

int CMainStartup::CheckCpuSpeed() {
    if (m_steps.checkCpuSpeed) return m_steps.checkCpuSpeed();
    const int fast = m_settings.GetMainFastCPU();
    if (fast == 0 || fast == 1) return 1;
    m_view.CloseSplash();  // the question never hides behind it
    m_settings.SetMainFastCPU(CCpuSpeedLogic::FastCpuOf(m_view.AskCpuSpeed()));
    return 1;
}

int CMainStartup::InitPhonebook() {
    if (m_steps.initPhonebook) return m_steps.initPhonebook();
    const std::string file = m_settings.GetMainPhoneFile();
    if (!m_view.InitPhonebook(file)) {
        m_translator.ShowError(6, "Unable to init Phonebook object.");
        return 0;
    }
    // A first start has no phonebook yet: that is no error. A file that is
    // there but cannot be read is reported, and the station runs on without it.
    if (!m_view.LoadPhonebook() && m_view.FileExists(file)) {
        const std::string text = std::string(m_translator.GetText(7, "Unable to open Phonebookfile:")) + "\n\n" + file;
        m_view.MessageBox(text.c_str(), "Error...", MB_ICONERROR | MB_SETFOREGROUND);
    }
    return 1;
}

int CMainStartup::InitAudioDevices() {
    if (m_steps.initAudioDevices) return m_steps.initAudioDevices();
    m_view.UseLevels(m_settings.GetPlayLevel(), m_settings.GetLibraryLevel());
    return 1;
}

std::unique_ptr<CRemoteControl> CMainStartup::StartRemoteControl(HWND window) {
    const int port = m_settings.GetARIPPortNumber() & 0xFFFF;
    if (port == 0) return nullptr;
    std::unique_ptr<CRemoteControl> server = m_view.MakeRemoteControl();
    if (!server) {
        m_translator.ShowError(120, "Unable to create RIP object.");
        return nullptr;
    }
    if (!server->Init(window, port)) {
        m_translator.ShowError(121, "Unable to init RIP object.");
        return nullptr;
    }
    return server;
}
