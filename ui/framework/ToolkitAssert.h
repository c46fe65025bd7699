#pragma once
// What happens when the toolkit finds a fault of ours. Its default shows a
// modal box, which in a running station stops everything behind it and waits
// for a hand on the mouse; here the fault is written to standard error and
// the station goes on. Under VELMORA_TOOLKIT_ASSERTS_FATAL (set by the
// tests) it ends the process at once, so that a test run fails.

// GUI thread, when the toolkit comes up.
void InstallToolkitAssertHandler();
