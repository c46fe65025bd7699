#include "ui/MainEngine.h"

#include "common/MainWindowMessages.h"

void CIdleEngine::SetMainWindow(HWND window) {
    // As the real engine: started, then its state once.
    PostMessage(window, WM_ENGINE_STARTED, 0, 0);
    PostMessage(window, WM_ENGINE_STATE, 16, 0);
}
