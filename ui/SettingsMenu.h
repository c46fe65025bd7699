#pragma once
// The Settings menu's dialogs as the main window runs them: each opens only
// while no call is up, and after OK the call engine takes the new values.
//
// Threads: GUI thread.
class CMainEngine;
class CPhonebook;

namespace SettingsMenu {
// The result of a Settings command.
enum Outcome { kNotMine, kCancelled, kApplied, kInitFailed };

// command: a MainCommand id; answerTab: the answer tab to open on (0 ISDN,
// 1 Network / IP).
Outcome Run(int command, CMainEngine& engine, CPhonebook& phonebook, int answerTab);
}  // namespace SettingsMenu
