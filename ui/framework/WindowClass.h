#pragma once
// Named window classes of this process. The program registers its dialog
// class at start-up and removes it after the main window has closed.
#include "platform/WinTypes.h"

// GUI thread. FALSE when the name is empty or already registered.
BOOL RegisterWindowClass(const char* className);
BOOL UnregisterWindowClass(const char* className);
BOOL IsWindowClassRegistered(const char* className);
