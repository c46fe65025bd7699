#include "ui/MainMenus.h"

#include <cstdio>

void UpdateConnectionMenus(MainMenuState& menus, int state, bool miniIsdn) {
    switch (state) {
        case 16:
            menus.file = menus.help = true;
            menus.view = menus.settings = !miniIsdn;
            menus.openPhonebook = menus.savePhonebook = menus.helpItem = !miniIsdn;
            break;
        case 32:
        case 48:
        case 50: menus.file = menus.view = menus.settings = menus.help = false; break;
        default: break;
    }
}

void UpdatePlayMenus(MainMenuState& menus, int state, bool miniIsdn, bool libraryShown, bool clipSelected) {
    if (miniIsdn) {
        menus.play = false;
        return;
    }
    if (!libraryShown) {
        const bool connected = state == 50 || state == 58 || state == 59;
        menus.play = !connected;
        if (!connected) menus.playItem = menus.pauseItem = menus.stopItem = menus.previousNext = false;
        return;
    }
    menus.play = true;
    switch (state) {
        case 16:
        case 50:
            menus.showLibrary = state == 16;
            menus.playItem = menus.previousNext = clipSelected;
            menus.pauseItem = menus.stopItem = false;
            break;
        case 21:
        case 58:
            menus.showLibrary = menus.playItem = false;
            menus.pauseItem = menus.stopItem = true;
            break;
        case 22:
        case 59:
            menus.showLibrary = false;
            menus.playItem = menus.pauseItem = menus.stopItem = true;
            break;
        default: break;
    }
}

PlayerControls ComputePlayerControls(int state, bool libraryShown, bool clipSelected, bool noSend) {
    const bool idle = state == 16 || state == 21 || state == 22;
    const bool connected = state == 50 || state == 58 || state == 59;
    const bool clipActive = state == 21 || state == 22 || state == 58 || state == 59;
    const bool paused = state == 22 || state == 59;
    PlayerControls c;
    c.list = c.trackbar = libraryShown;
    c.closeLibrary = c.add = libraryShown && idle && !clipActive;
    c.remove = libraryShown && idle && clipSelected && !clipActive;
    c.play = libraryShown && clipSelected && (idle || connected) && !noSend;
    c.pause = c.stop = libraryShown && clipActive;
    c.minimizeBox = !connected;
    c.playShowsActive = clipActive;
    c.pauseShowsPaused = paused;
    return c;
}

std::string FormatClipTime(int ms) {
    const int t = (ms < 0 ? 0 : ms) + 50;
    const int minutes = t / 60000;
    const int seconds = t / 1000 - 60 * minutes;
    const int tenths = (t % 1000) / 100;
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d.%d", minutes, seconds, tenths);
    return text;
}
