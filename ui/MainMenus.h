#pragma once
// Which menus and player controls of the main window are enabled in each
// call state. Plain data; the window shows what these functions decide.
//
// Call states: 16 idle, 17 failed, 21/22 clip playing/paused without a
// connection, 32 connecting, 48 link up, 49 checking, 50 connected, 58/59
// clip playing/paused during a connection.

#include <string>

struct MainMenuState {
    // Popups.
    bool file = true, view = true, play = true, settings = true, help = true;
    // Items.
    bool openPhonebook = true, savePhonebook = true, helpItem = true;
    bool showLibrary = true, playItem = false, pauseItem = false, stopItem = false, previousNext = false;
};

// File, View, Settings and Help by call state; other states keep them.
void UpdateConnectionMenus(MainMenuState& menus, int state, bool miniIsdn);
// The File Play popup and its items.
void UpdatePlayMenus(MainMenuState& menus, int state, bool miniIsdn, bool libraryShown, bool clipSelected);

struct PlayerControls {
    bool list = false, trackbar = false, closeLibrary = false, add = false, remove = false;
    bool play = false, pause = false, stop = false;
    bool minimizeBox = true;
    bool playShowsActive = false;  // the "playing" face of Play
    bool pauseShowsPaused = false;
};

PlayerControls ComputePlayerControls(int state, bool libraryShown, bool clipSelected, bool noSend);

// "%d:%02d.%d" of minutes, seconds and tenths, after adding 50 ms.
std::string FormatClipTime(int ms);
