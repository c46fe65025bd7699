#pragma once
// Modal message boxes. Under the test environment variable
// VELMORA_MESSAGEBOX_TIMEOUT_MS a box closes itself after that many
// milliseconds with its default answer (OK, or No for a Yes/No box), so that
// unattended runs never wait for a hand on the mouse.
#include "platform/MessageBoxCodes.h"
#include "platform/WindowMessages.h"

// GUI thread. Returns IDOK, IDCANCEL, IDYES or IDNO.
int AfxMessageBox(HWND owner, const char* text, const char* caption, UINT style);
