#pragma once
// The application object and the program's start sequence. One object of a
// class derived from CWinApp exists per process; AfxWinMain runs it.
#include "platform/WindowMessages.h"

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitApplication() { return TRUE; }
    virtual BOOL InitInstance() { return FALSE; }
    virtual int Run();
    virtual int ExitInstance() { return 0; }
    // Every key message goes through here before the window sees it; TRUE
    // when it was handled (an accelerator became a command).
    virtual BOOL ProcessMessageFilter(int code, MSG* msg);

    const char* m_pszAppName = "Velmora";
};

CWinApp* AfxGetApp();

// Brings up the toolkit; FALSE without a display.
BOOL AfxWinInit(int argc, char** argv);
void AfxWinTerm();
// The start sequence: AfxWinInit, InitApplication, InitInstance, then Run
// or ExitInstance, AfxWinTerm. -1 when the first two fail.
int AfxWinMain(int argc, char** argv);
