#include "ui/MainMenus.h"

#include <gtest/gtest.h>

namespace {

constexpr int kStates[] = {16, 17, 21, 22, 32, 48, 49, 50, 58, 59};

TEST(MainMenusTest, PopupsByCallState) {
    for (int state : kStates) {
        SCOPED_TRACE(state);
        MainMenuState menus;
        menus.file = menus.view = menus.settings = menus.help = false;  // left as they were by other states
        UpdateConnectionMenus(menus, state, false);
        const bool open = state == 16;
        const bool closed = state == 32 || state == 48 || state == 50;
        if (open) {
            EXPECT_TRUE(menus.file && menus.view && menus.settings && menus.help);
        }
        if (!open && !closed) {
            EXPECT_FALSE(menus.file || menus.view || menus.settings || menus.help);
        }
        MainMenuState lit;
        UpdateConnectionMenus(lit, state, false);
        if (closed) {
            EXPECT_FALSE(lit.file || lit.view || lit.settings || lit.help);
        }
        if (!open && !closed) {
            EXPECT_TRUE(lit.file && lit.view && lit.settings && lit.help);
        }
    }
    MainMenuState mini;
    UpdateConnectionMenus(mini, 16, true);
    EXPECT_TRUE(mini.file && mini.help);
    EXPECT_FALSE(mini.view || mini.settings || mini.openPhonebook || mini.savePhonebook || mini.helpItem);
}

TEST(MainMenusTest, PlayMenuWithTheLibraryShown) {
    struct Row {
        int state;
        bool show, play, pause, stop;
    };
    const Row rows[] = {{16, true, true, false, false},  {50, false, true, false, false},
                        {21, false, false, true, true}, {58, false, false, true, true},
                        {22, false, true, true, true},  {59, false, true, true, true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.state);
        MainMenuState m;
        UpdatePlayMenus(m, r.state, false, true, true);
        EXPECT_TRUE(m.play);
        EXPECT_EQ(m.showLibrary, r.show);
        EXPECT_EQ(m.playItem, r.play);
        EXPECT_EQ(m.pauseItem, r.pause);
        EXPECT_EQ(m.stopItem, r.stop);
    }
    MainMenuState noClip;
    UpdatePlayMenus(noClip, 16, false, true, false);
    EXPECT_FALSE(noClip.playItem || noClip.previousNext);
    // Previous and Next stay as they were while a clip plays.
    MainMenuState playing;
    playing.previousNext = true;
    UpdatePlayMenus(playing, 58, false, true, true);
    EXPECT_TRUE(playing.previousNext);
}

TEST(MainMenusTest, PlayMenuWithTheLibraryHiddenAndInMiniIsdn) {
    for (int state : kStates) {
        SCOPED_TRACE(state);
        MainMenuState m;
        m.playItem = m.pauseItem = m.stopItem = m.previousNext = true;
        UpdatePlayMenus(m, state, false, false, true);
        const bool connected = state == 50 || state == 58 || state == 59;
        EXPECT_EQ(m.play, !connected);
        if (!connected) {
            EXPECT_FALSE(m.playItem || m.pauseItem || m.stopItem || m.previousNext);
        }
        MainMenuState mini;
        UpdatePlayMenus(mini, state, true, true, true);
        EXPECT_FALSE(mini.play);
    }
}

TEST(MainMenusTest, PlayerControlsOverEveryState) {
    for (int state : kStates) {
        for (int shown = 0; shown < 2; ++shown) {
            for (int clip = 0; clip < 2; ++clip) {
                for (int noSend = 0; noSend < 2; ++noSend) {
                    SCOPED_TRACE(testing::Message() << state << " " << shown << clip << noSend);
                    const PlayerControls c = ComputePlayerControls(state, shown, clip, noSend);
                    const bool idle = state == 16 || state == 21 || state == 22;
                    const bool connected = state == 50 || state == 58 || state == 59;
                    const bool active = state == 21 || state == 22 || state == 58 || state == 59;
                    EXPECT_EQ(c.list, shown != 0);
                    EXPECT_EQ(c.trackbar, shown != 0);
                    EXPECT_EQ(c.add, shown && idle && !active);
                    EXPECT_EQ(c.closeLibrary, c.add);
                    EXPECT_EQ(c.remove, shown && idle && clip && !active);
                    EXPECT_EQ(c.play, shown && clip && (idle || connected) && !noSend);
                    EXPECT_EQ(c.pause, shown && active);
                    EXPECT_EQ(c.stop, c.pause);
                    EXPECT_EQ(c.minimizeBox, !connected);
                    EXPECT_EQ(c.playShowsActive, active);
                    EXPECT_EQ(c.pauseShowsPaused, state == 22 || state == 59);
                }
            }
        }
    }
    // A receive-only call keeps Play disabled.
    EXPECT_FALSE(ComputePlayerControls(50, true, true, true).play);
}

TEST(MainMenusTest, ClipTimes) {
    EXPECT_EQ(FormatClipTime(0), "0:00.0");
    EXPECT_EQ(FormatClipTime(949), "0:00.9");
    EXPECT_EQ(FormatClipTime(950), "0:01.0");
    EXPECT_EQ(FormatClipTime(61250), "1:01.3");
    EXPECT_EQ(FormatClipTime(3599950), "60:00.0");
    EXPECT_EQ(FormatClipTime(-20), "0:00.0");
}

}  // namespace
