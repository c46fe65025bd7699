// The settings, answer, device and number dialogs on the X display (one
// window at a time: the clicks must land on them): every
// control in place (also with 30 % longer texts), real clicks on the
// controls, OK storing exactly the dialog's keys and Cancel storing none.
// Screenshots of each dialog and tab go to ui-screens/.
#include <gtest/gtest.h>

#include <wx/choice.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/textctrl.h>

#include <cstdlib>

#include "DialogDriver.h"
#include "ui/WxTestEnvironment.h"
#include "common/Phonebook.h"
#include "common/Settings.h"
#include "support/IniKeys.h"
#include "support/TempDir.h"
#include "ui/AnswerSettingsDlg.h"
#include "ui/AudioSettingsDlg.h"
#include "ui/DeviceSource.h"
#include "ui/GlobalSettingsDlg.h"
#include "ui/NumberRequestDlg.h"
#include "ui/SelectDeviceDlg.h"
#include "ui/SocksDlg.h"

using namespace DialogDriver;

namespace {

class CListedDevices : public CDeviceSource {
public:
    std::vector<DeviceName> WaveDevices(int direction) override {
        return {{0, direction ? "Studio Desk" : "Studio Desk Out"}, {1, "null"}};
    }
    std::vector<MixerLineName> WaveInputLines(int device) override {
        if (device == 0) return {{0, 3, "Recording"}};
        return {};
    }
    std::vector<DeviceName> Endpoints(int direction) override {
        return {{0, direction ? "Monitor of Null Output" : "Null Output"}};
    }
    std::optional<std::vector<DeviceName>> AsioDrivers() override { return std::vector<DeviceName>{{0, "JACK"}}; }
    std::optional<std::vector<std::string>> AsioChannels(int, int direction) override {
        if (direction == 1) return std::vector<std::string>{"In 1", "In 2", "In 3", "In 4"};
        return std::vector<std::string>{"Out 1", "Out 2"};
    }
    bool AsioHasControlPanel(int) override { return false; }
    bool ShowAsioControlPanel(int) override { return false; }
};

struct SettingsDialogsTest : ::testing::Test {
    void SetUp() override {
        if (!WxUp()) GTEST_SKIP() << "no display";
        setenv("VELMORA_SETTINGS_FILE", m_settings.GetPath().c_str(), 1);
        setenv("VELMORA_MESSAGEBOX_TIMEOUT_MS", "300", 1);
    }
    void TearDown() override {
        unsetenv("VELMORA_SETTINGS_FILE");
        unsetenv("VELMORA_MESSAGEBOX_TIMEOUT_MS");
    }
    // Geometry as built and with longer texts, and a screenshot of each.
    static void Look(wxTopLevelWindow* view, const std::string& name) {
        {
            SCOPED_TRACE(name);
            CheckGeometry(view);
        }
        Screenshot(view, name);
    }
    static void LookLonger(wxTopLevelWindow* view, const std::string& name) {
        StretchTexts(view);
        Relayout(view);
        SCOPED_TRACE(name + " with longer texts");
        CheckGeometry(view);
        Screenshot(view, name + "-long");
    }
    template <typename T>
    static T* Find(wxWindow* view, int id) {
        auto* w = dynamic_cast<T*>(view->FindWindow(id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }

    CTempDir m_dir{"settings-dialogs"};
    CSettings m_settings{m_dir / "Velmora.Ini"};
};

TEST_F(SettingsDialogsTest, AnswerSettingsTabsClicksAndOk) {
    CAnswerSettingsDlg dialog;
    ASSERT_EQ(dialog.CreatePages(1), 1);
    const int result = Drive(dialog, [&](wxTopLevelWindow* view) {
        auto* tabs = Find<wxNotebook>(view, CAnswerSettingsDlg::kTabs);
        ASSERT_NE(tabs, nullptr);
        EXPECT_EQ(tabs->GetSelection(), 1);
        Look(view, "answer-settings-ip");
        auto* coding = Find<wxChoice>(view, 3212);
        ASSERT_NE(coding, nullptr);
        EXPECT_FALSE(coding->IsEnabled());  // same settings as the call
        Click(view->FindWindow(3209));
        ASSERT_TRUE(WaitUntil([&] { return coding->IsEnabled(); }));
        EXPECT_TRUE(Find<wxWindow>(view, 3206)->IsEnabled());  // joint stereo for Layer III
        tabs->SetSelection(0);
        Settle();
        Look(view, "answer-settings-isdn");
        Click(view->FindWindow(2208));  // G.722
        ASSERT_TRUE(WaitUntil([&] { return !view->FindWindow(2209)->IsEnabled(); }));
        EXPECT_FALSE(view->FindWindow(2212)->IsEnabled());
        EXPECT_TRUE(view->FindWindow(2201)->IsEnabled());
        Click(view->FindWindow(1));
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(m_settings.GetTCPAnswerSameSettings(), 0);
    EXPECT_EQ(m_settings.GetISDNAnswerCodingType(), 8);
    const auto keys = IniKeys(m_settings.GetPath());
    EXPECT_EQ(keys.size(), 14u);  // seven of each page
}

TEST_F(SettingsDialogsTest, AnswerSettingsLongerTextsAndCancel) {
    CAnswerSettingsDlg dialog;
    ASSERT_EQ(dialog.CreatePages(0), 1);
    const int result = Drive(dialog, [&](wxTopLevelWindow* view) {
        auto* tabs = Find<wxNotebook>(view, CAnswerSettingsDlg::kTabs);
        ASSERT_NE(tabs, nullptr);
        EXPECT_EQ(tabs->GetSelection(), 0);
        Click(view->FindWindow(2203));  // no calls: everything below greys out
        ASSERT_TRUE(WaitUntil([&] { return !view->FindWindow(2201)->IsEnabled(); }));
        LookLonger(view, "answer-settings-isdn");
        tabs->SetSelection(1);
        Relayout(view);
        LookLonger(view, "answer-settings-ip");
        Click(view->FindWindow(2));
    });
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(IniKeys(m_settings.GetPath()).empty());
}

TEST_F(SettingsDialogsTest, AudioSettingsSlidersAndOk) {
    CAudioSettingsDlg dialog;
    const int result = Drive(dialog, [&](wxTopLevelWindow* view) {
        Look(view, "audio-settings");
        auto* time = Find<wxStaticText>(view, 1137);
        ASSERT_NE(time, nullptr);
        EXPECT_EQ(time->GetLabel(), " 10 ms");
        Click(view->FindWindow(1143));
        LookLonger(view, "audio-settings");
        Click(view->FindWindow(1));
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(m_settings.GetAudioEnableSRC(), 0);
    EXPECT_EQ(IniKeys(m_settings.GetPath()).size(), 7u);
}

TEST_F(SettingsDialogsTest, SocksRefusesAnEmptyAddressThenCancelStoresNothing) {
    CSocksDlg dialog;
    const int result = Drive(dialog, [&](wxTopLevelWindow* view) {
        EXPECT_FALSE(view->FindWindow(1403)->IsEnabled());
        Look(view, "socks-settings");
        Click(view->FindWindow(1413));
        ASSERT_TRUE(WaitUntil([&] { return view->FindWindow(1403)->IsEnabled(); }));
        EXPECT_FALSE(view->FindWindow(1405)->IsEnabled());  // SOCKS 4: no login
        Click(view->FindWindow(1402));
        ASSERT_TRUE(WaitUntil([&] { return view->FindWindow(1405)->IsEnabled(); }));
        EXPECT_FALSE(view->FindWindow(1406)->IsEnabled());
        Click(view->FindWindow(1));  // empty address: refused, the box closes itself
        Settle();
        EXPECT_TRUE(view->IsShown());
        LookLonger(view, "socks-settings");
        Click(view->FindWindow(2));
    });
    EXPECT_EQ(result, 2);
    EXPECT_TRUE(IniKeys(m_settings.GetPath()).empty());
}

TEST_F(SettingsDialogsTest, GlobalSettingsOk) {
    CPhonebook book;
    CGlobalSettingsDlg dialog;
    dialog.SetPhonebook(&book);
    const int result = Drive(dialog, [&](wxTopLevelWindow* view) {
        EXPECT_FALSE(view->FindWindow(1216)->IsEnabled());
        Click(view->FindWindow(1215));
        ASSERT_TRUE(WaitUntil([&] { return view->FindWindow(1216)->IsEnabled(); }));
        Look(view, "global-settings");
        LookLonger(view, "global-settings");
        Click(view->FindWindow(1));
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(m_settings.GetMainAutoDial(), 1);
    EXPECT_EQ(m_settings.GetMainAutoDialType(), 16);
}

TEST_F(SettingsDialogsTest, DeviceSelectionStoresTheClickedEntry) {
    CListedDevices devices;
    CSelectDeviceDlg dialog(devices, m_settings);
    dialog.SetInputMode();
    const int result = Drive(dialog, [&](wxTopLevelWindow* view) {
        EXPECT_EQ(view->GetTitle(), "Please select the input device");
        auto* list = Find<wxListCtrl>(view, CSelectDeviceDlg::kList);
        ASSERT_NE(list, nullptr);
        ASSERT_EQ(list->GetItemCount(), 5);
        EXPECT_EQ(list->GetItemText(1, 2), "JACK (In 3)");
        Look(view, "select-device-input");
        // A real click on the second row.
        wxRect row;
        ASSERT_TRUE(list->GetItemRect(1, row));
        wxUIActionSimulator sim;
        const wxPoint at = list->ClientToScreen(wxPoint(row.x + 30, row.y + row.height / 2));
        sim.MouseMove(at);
        Settle();
        sim.MouseClick();
        ASSERT_TRUE(WaitUntil([&] { return dialog.Logic().Selection() == 1; }));
        EXPECT_FALSE(view->FindWindow(CSelectDeviceDlg::kProperties)->IsEnabled());
        EXPECT_NE(view->FindWindow(CSelectDeviceDlg::kProperties)->GetToolTipText(), "");
        LookLonger(view, "select-device-input");
        Click(view->FindWindow(1));
    });
    EXPECT_EQ(result, 1);
    const std::map<std::string, std::string> expected = {
        {"Audio/Interface", "2"}, {"ASIO/Card", "0"}, {"ASIO/Output", "2"}, {"ASIO/Input", "2"}};
    EXPECT_EQ(IniKeys(m_settings.GetPath()), expected);
}

TEST_F(SettingsDialogsTest, NumberRequestForMpeg) {
    CNumberRequestDlg dialog;
    dialog.SetKind(32);
    const int result = Drive(dialog, [&](wxTopLevelWindow* view) {
        EXPECT_EQ(view->GetTitle(), "MPEG connection numbers");
        Look(view, "number-request-mpeg");
        Click(view->FindWindow(1));  // no number: refused
        Settle();
        EXPECT_TRUE(view->IsShown());
        Find<wxTextCtrl>(view, 1171)->ChangeValue("0301234567");
        LookLonger(view, "number-request-mpeg");
        Click(view->FindWindow(1));
    });
    EXPECT_EQ(result, 1);
    char second[32];
    dialog.GetNumber(1, second, sizeof second);
    EXPECT_STREQ(second, "0301234567");
    EXPECT_EQ(m_settings.GetMiniISDNMp2Number(0), "0301234567");
}
}  // namespace
