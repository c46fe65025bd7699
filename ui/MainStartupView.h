#pragma once
// What the start-up of the main window asks of the window it prepares: the
// splash, the waits, the dialogs and the objects the window owns. CMainDlg
// implements it; tests implement it without a display.
//
// Threads: GUI thread only.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/WindowMessages.h"

class CRemoteControl;

class CMainStartupView {
public:
    virtual ~CMainStartupView() = default;

    virtual void ShowSplash() = 0;
    // Posts the close request once; nothing when the splash is not up.
    virtual void CloseSplash() = 0;
    // Returns when the multimedia clock reaches `release`, the splash kept painted.
    virtual void WaitUntil(uint32_t release) = 0;
    // Records the system family this platform stands for in the shared state.
    virtual void MarkPlatform() = 0;
    // Runs the processor-speed question; its end code (IDOK for faster).
    virtual int AskCpuSpeed() = 0;
    // Hands the MiniISDN and trace settings to the window and the shared state.
    virtual void UseModes(bool miniIsdn, int trace) = 0;
    virtual int InitPhonebook(const std::string& fileName) = 0;
    virtual int LoadPhonebook() = 0;
    virtual bool FileExists(const std::string& fileName) = 0;
    virtual int StartEngine(const char* programName, int fastCpu) = 0;
    // Hands the stored play and clip levels to the engine.
    virtual void UseLevels(int playLevel, int clipLevel) = 0;
    // Null when the server object cannot be made.
    virtual std::unique_ptr<CRemoteControl> MakeRemoteControl() = 0;
    // The message boxes of the start-up (text, caption, MB_ flags).
    virtual int MessageBox(const char* text, const char* caption, UINT style) = 0;
};
