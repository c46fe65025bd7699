#pragma once
// The GUI thread's message queue and its binding to the toolkit's event loop:
// posted messages and due timers are dispatched from inside whatever loop
// runs (the modal loop of a dialog included).
#include "platform/WindowMessages.h"

// GUI thread (first call makes the queue; the thread that makes it owns it).
CMessageQueue& GuiQueue();
// GUI thread, after the toolkit is up / before it goes down.
void BindGuiQueue();
void UnbindGuiQueue();
// GUI thread: dispatches what is waiting now (also used by tests).
void PumpGuiQueue();
// GUI thread, while no loop runs (start-up waits): handles what the
// toolkit and the queue have waiting, so windows already shown stay alive.
void PumpToolkitEvents();
