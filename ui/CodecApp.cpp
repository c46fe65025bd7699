#include "ui/CodecApp.h"

#include <memory>

#include "common/Translator.h"
#include "ui/MainDlg.h"
#include "ui/Resources.h"
#include "ui/framework/WindowClass.h"

CCodecApp::CCodecApp() = default;

CCodecApp::~CCodecApp() {
    if (g_sharedState == &m_state) g_sharedState = nullptr;
}

BOOL CCodecApp::InitInstance() {
    // A fresh record, whatever was set before the start (its counter cannot be assigned).
    std::destroy_at(&m_state);
    std::construct_at(&m_state);
    g_sharedState = &m_state;
    if (!RegisterWindowClass(kMainWindowClass)) return FALSE;
    {
        CTranslator translator;  // keeps the language tables for the whole run
        translator.LoadLanguage();  // a missing or bad file leaves English
        {
            CMainDlg dialog;
            if (dialog.Init(m_pszAppName)) {
                dialog.DoModal();
                UnregisterWindowClass(kMainWindowClass);
            }
        }
    }
    return FALSE;
}

int CCodecApp::ExitInstance() { return 0; }

BOOL CCodecApp::ProcessMessageFilter(int code, MSG* msg) {
    if (g_sharedState && g_sharedState->mainWindow && g_sharedState->accelerators &&
        TranslateAccelerator(static_cast<HWND>(g_sharedState->mainWindow),
                             static_cast<HACCEL>(g_sharedState->accelerators), msg)) {
        return TRUE;
    }
    return CWinApp::ProcessMessageFilter(code, msg);
}
