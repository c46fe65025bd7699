#pragma once
// The main window's start-up before the window exists, step by step: the
// splash, the start delay, the processor-speed question, the phonebook, the
// engine, the audio levels and the pages; and the remote-control server the
// window starts once it is up. A step that fails shows its error line and
// ends the start-up. Plain logic over CMainStartupView.
//
// Threads: GUI thread only.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ui/MainStartupView.h"

class CSettings;
class CTranslator;

// Steps that subsystems wired in later (and tests) put in place of the
// built-in ones. An empty step takes the built-in one or is skipped; a step
// returning 0 has shown its own message and ends the start-up.
struct MainStartupSteps {
    std::function<void()> showSplash;
    std::function<int()> checkCpuSpeed;
    std::function<int()> checkIsdnCard;
    std::function<int()> initPhonebook;
    std::function<int()> initAudioDevices;
    std::function<int()> createPages;
};

class CMainStartup {
public:
    static constexpr int kMaxStartDelaySeconds = 24 * 3600;

    CMainStartup(CMainStartupView& view, CTranslator& translator, const CSettings& settings,
                 MainStartupSteps steps = {});

    // The start-up: 1 lets the window open, 0 ends the program without one.
    // `startTime` is the multimedia-clock time the window was constructed.
    int Run(const char* programName, uint32_t startTime);
    // The remote-control server of [ARIP] PortNumber, initialised on the
    // window; null when none is wanted or it could not be set up (reported).
    std::unique_ptr<CRemoteControl> StartRemoteControl(HWND window);

    const std::string& WinClass() const { return m_winClass; }
    bool MiniIsdn() const { return m_miniIsdn; }

private:
    int CheckCpuSpeed();
    int InitPhonebook();
    int InitAudioDevices();

    CMainStartupView& m_view;
    CTranslator& m_translator;
    const CSettings& m_settings;
    MainStartupSteps m_steps;
    std::string m_winClass;
    bool m_miniIsdn = false;
};
