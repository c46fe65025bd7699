#pragma once
// The application object: publishes the shared state, loads the language,
// builds and runs the main window. Its InitInstance always answers FALSE,
// so the process ends when the main window has closed.
#include "common/SharedState.h"
#include "ui/framework/WinApp.h"

class CCodecApp : public CWinApp {
public:
    CCodecApp();
    ~CCodecApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;
    BOOL ProcessMessageFilter(int code, MSG* msg) override;

    SharedState& State() { return m_state; }

private:
    SharedState m_state;
};
