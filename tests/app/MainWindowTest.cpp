// The main window of the program on an X display, driven as an operator
// drives it: keys and clicks through the toolkit's input simulator. Each case
// runs the whole start-up in a child process (the toolkit starts once per
// process) with a scripted call engine where a call must be placed, and
// writes its screenshots to ui-screens/ in the build tree.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/menu.h>
#include <wx/notebook.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>
#include <string>
#include <vector>

#include "XDisplay.h"
#include "common/MainWindowMessages.h"
#include "common/Settings.h"
#include "common/SharedState.h"
#include "ui/CodecApp.h"
#include "ui/HoverButton.h"
#include "ui/LevelMeter.h"
#include "ui/MainDlg.h"
#include "ui/pages/PhonebookPage.h"
#include "ui/SplashWnd.h"
#include "ui/StatusPanel.h"
#include "ui/destinations/DestinationDlg.h"
#include "ui/framework/GuiPump.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kPatience = std::chrono::seconds(20);

// Lets the toolkit and the window's queue run until the condition holds.
bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds patience = kPatience) {
    const auto deadline = Clock::now() + patience;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        if (wxEventLoopBase::GetActive()) {
            wxEventLoopBase::GetActive()->YieldFor(wxEVT_CATEGORY_ALL);
            PumpGuiQueue();  // the script may run inside the queue's own dispatch
        } else {
            PumpToolkitEvents();  // start-up: no loop runs yet
        }
        wxMilliSleep(5);
    }
    return true;
}

void Settle() {
    const auto until = Clock::now() + std::chrono::milliseconds(300);
    WaitUntil([&] { return Clock::now() > until; });
}

fs::path ScreensDir() {
    const fs::path dir = fs::path(VELMORA_BINARY_DIR) / "ui-screens";
    fs::create_directories(dir);
    return dir;
}

// The window as the screen shows it, menu bar included.
void Screenshot(wxWindow* window, const std::string& name) {
    Settle();
    const wxRect r = window->GetScreenRect();
    const std::string cmd = "import -silent -window root -crop " + std::to_string(r.width) + "x" +
                            std::to_string(r.height) + "+" + std::to_string(r.x) + "+" + std::to_string(r.y) +
                            " +repage '" + (ScreensDir() / (name + ".png")).string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

void Click(wxWindow* window) {
    wxUIActionSimulator sim;
    const wxRect r = window->GetScreenRect();
    sim.MouseMove(r.x + r.width / 2, r.y + r.height / 2);
    Settle();
    sim.MouseClick();
}

void Key(int key, int modifiers = wxMOD_NONE) {
    wxUIActionSimulator sim;
    sim.Char(key, modifiers);
}

wxTopLevelWindow* FindTopLevel(const wxString& title) {
    for (wxWindow* w : wxTopLevelWindows) {
        auto* top = dynamic_cast<wxTopLevelWindow*>(w);
        if (top && top->IsShown() && top->GetTitle().Contains(title)) return top;
    }
    return nullptr;
}

// Every control the window names: shown, inside the client area, no overlap
// with a sibling, its text not cut.
void CheckGeometry(CMainDlg& dlg) {
    wxTopLevelWindow* frame = dlg.Window();
    const wxRect client(frame->ClientToScreen(wxPoint(0, 0)), frame->GetClientSize());
    std::vector<std::pair<int, wxWindow*>> shown;
    for (const auto& [id, w] : dlg.Controls()) {
        SCOPED_TRACE(id);
        if (!w->IsShownOnScreen()) continue;  // inside the hidden library panel
        const wxRect r = w->GetScreenRect();
        EXPECT_GT(r.width, 0);
        EXPECT_GT(r.height, 0);
        EXPECT_TRUE(client.Contains(r)) << "control " << id << " at " << r.x << "," << r.y << " " << r.width << "x"
                                        << r.height << " outside the client area";
        shown.emplace_back(id, w);
        wxClientDC dc(w);
        dc.SetFont(w->GetFont());
        if (auto* text = dynamic_cast<wxStaticText*>(w)) {
            EXPECT_LE(dc.GetTextExtent(text->GetLabel()).x, w->GetClientSize().x) << "text cut: " << text->GetLabel();
        } else if (auto* panel = dynamic_cast<CStatusPanel*>(w)) {
            EXPECT_LE(dc.GetTextExtent(panel->Text()).x + 8, w->GetClientSize().x) << "text cut: " << panel->Text();
        }
    }
    for (size_t i = 0; i < shown.size(); ++i) {
        for (size_t j = i + 1; j < shown.size(); ++j) {
            if (shown[i].second->GetParent() != shown[j].second->GetParent()) continue;
            EXPECT_FALSE(shown[i].second->GetScreenRect().Intersects(shown[j].second->GetScreenRect()))
                << shown[i].first << " overlaps " << shown[j].first;
        }
    }
    // Every page's status lines are whole too.
    {
        if (CPhonebookPage* page = dlg.PhonebookPage(dlg.ActivePageKind())) {
            for (wxWindow* child : page->GetChildren()) {
                if (auto* text = dynamic_cast<wxStaticText*>(child)) {
                    wxClientDC dc(text);
                    dc.SetFont(text->GetFont());
                    if (text->GetLabel().size() < 40) {
                        EXPECT_LE(dc.GetTextExtent(text->GetLabel()).x, text->GetClientSize().x) << text->GetLabel();
                    }
                }
            }
        }
    }
}

// A call engine whose calls follow a script: Connect reports connecting,
// link up and either connected or, with a bandwidth check, checking and a
// low-bandwidth report with the rates it is given.
class CScriptedEngine : public CIdleEngine {
public:
    static inline std::vector<std::string> s_calls;
    static inline int s_receive = 100000, s_send = 90000;
    static inline bool s_check = false;
    static inline std::atomic<int> s_levelPhase{0};

    void SetMainWindow(HWND window) override {
        m_window = window;
        CIdleEngine::SetMainWindow(window);
    }
    int Connect(const PhonebookEntry& entry) override {
        s_calls.push_back("Connect");
        m_entry = entry;
        m_active = 1;
        const int kind = entry.connection.kind;
        PostMessage(m_window, WM_ENGINE_STATE, 32, kind);
        PostMessage(m_window, WM_ENGINE_STATE, 48, kind);
        PostMessage(m_window, WM_ENGINE_INCOMING, 0, kind);
        if (s_check) {
            PostMessage(m_window, WM_ENGINE_STATE, 49, kind);
            PostMessage(m_window, WM_ENGINE_LOW_BANDWIDTH, 0, kind);
        } else {
            Connected();
        }
        return 1;
    }
    void Disconnect() override {
        s_calls.push_back("Disconnect");
        if (!m_active) return;
        m_active = 0;
        PostMessage(m_window, WM_ENGINE_STATE, 16, m_entry.connection.kind);
    }
    void ContinueWithBandwidth() override {
        s_calls.push_back("Continue");
        Connected();
    }
    void TestBandwidthAgain() override { s_calls.push_back("TestAgain"); }
    int IsConnectionActive() override { return m_active; }
    int GetAvailableTransports() override { return 0x10 | 0x20 | 0x80; }
    void GetConnectionInfo(ConnectionInfo& out) override { out = m_entry.connection; }
    void GetRemoteIdentity(StationIdentity& out) override {
        out = StationIdentity();
        std::snprintf(out.stationName, sizeof out.stationName, "%s", "Studio B");
        std::snprintf(out.productName, sizeof out.productName, "%s", "Velmora");
    }
    void GetDecoderFormat(AudioFormat& out) override { out = m_entry.format; }
    void GetEncoderFormat(AudioFormat& out) override { out = m_entry.format; }
    void GetBandwidth(int* receive, int* send) override {
        *receive = s_receive;
        *send = s_send;
    }
    void GetLevels(int side, int* left, int* right) override {
        const int phase = ++s_levelPhase;
        *left = side ? 9000 + (phase % 7) * 1500 : 16000;
        *right = side ? 6000 : 22000 + (phase % 5) * 1200;
    }
    void GetStatusPercentages(int* receive, int* send) override {
        *receive = m_active ? 98 : -1;
        *send = m_active ? 100 : -1;
    }

private:
    void Connected() {
        const int kind = m_entry.connection.kind;
        PostMessage(m_window, WM_ENGINE_STATE, 50, kind);
        PostMessage(m_window, WM_ENGINE_DECODER_FORMAT, 0, kind);
        PostMessage(m_window, WM_ENGINE_ENCODER_FORMAT, 0, kind);
        PostMessage(m_window, WM_ENGINE_RX_INDICATOR, 32, kind);
        PostMessage(m_window, WM_ENGINE_TX_INDICATOR, 32, kind);
        PostMessage(m_window, WM_ENGINE_REMOTE_IDENTITY, 0, 0);
    }
    HWND m_window = nullptr;
    PhonebookEntry m_entry;
    int m_active = 0;
};

PhonebookEntry Destination(const char* name, int kind, const char* address, int sender = 0) {
    PhonebookEntry e;
    std::snprintf(e.name, sizeof e.name, "%s", name);
    e.connection.kind = kind;
    std::snprintf(e.connection.address, sizeof e.connection.address, "%s", address);
    e.connection.port = kind == 128 ? 5005 : 5003;
    e.connection.flag = sender;
    e.format.codingType = 32;
    e.format.bitRate = 128000;
    e.format.sampleRate = 48000;
    e.format.deviceMode = 20;
    return e;
}

// Dials a phonebook entry the way the auto-dial does, and waits for the state.
bool Dial(CMainDlg& dlg, const PhonebookEntry& e, int state) {
    if (!dlg.Phonebook().FindEntry(e.name, e.connection.kind)) dlg.Phonebook().AddEntry(e);
    dlg.Logic().SetAutoDial(1, e.name, e.connection.kind);
    PostMessage(dlg.GetSafeHwnd(), WM_CONNECT_REQUEST, 32, 0);
    return WaitUntil([&] { return dlg.Logic().CallState() == state; });
}

struct MainWindowTest : ::testing::Test {
    CXDisplay m_x;
    fs::path m_dir;
    void SetUp() override {
        if (!m_x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
        m_dir = fs::temp_directory_path() / ("velmora_window_" + std::to_string(getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        if (!m_dir.empty()) fs::remove_all(m_dir);
    }
    // Runs the program in a child with the given settings and hooks; the
    // script runs once the window is up and must close it. 0 when every
    // check in the child held.
    int Run(const std::string& ini, CMainDlgHooks hooks, bool scriptedEngine = true) {
        const pid_t child = fork();
        if (child == 0) {
            if (chdir(m_dir.c_str()) != 0) _exit(97);
            std::ofstream("Velmora.Ini") << ini;
            setenv("VELMORA_MESSAGEBOX_TIMEOUT_MS", "15000", 1);
            wxSetAssertHandler([](const wxString& file, int line, const wxString&, const wxString& cond,
                                  const wxString& msg) {
                ADD_FAILURE() << "toolkit assertion " << file << ":" << line << " " << cond << " " << msg;
            });
            if (scriptedEngine) hooks.makeEngine = [] { return std::unique_ptr<CMainEngine>(new CScriptedEngine); };
            // Whatever the script did, the window closes after it: an
            // assertion that ends the script early must not leave it open.
            hooks.onShown = [script = hooks.onShown](CMainDlg& dlg) {
                if (script) script(dlg);
                if (!dlg.Window() || !dlg.Window()->IsShown()) return;
                dlg.Engine().Disconnect();
                WaitUntil([&] { return !dlg.Engine().IsConnectionActive() && dlg.Logic().CallState() == 16; },
                          std::chrono::seconds(5));
                dlg.Window()->Close();
            };
            CMainDlg::SetHooks(hooks);
            int result;
            {
                CCodecApp app;
                char name[] = "Velmora";
                char* argv[] = {name, nullptr};
                result = AfxWinMain(1, argv);
            }
            _exit(::testing::Test::HasFailure() ? 1 : result == 0 ? 0 : 2);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(120);
        int status = 0;
        while (waitpid(child, &status, WNOHANG) != child) {
            if (Clock::now() > deadline) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }
};

const char kPlainIni[] = "[Main]\nNoSplash=1\nFastCPU=1\nXPos=140\nYPos=90\nLibrary=1\nPage=1\n";

TEST_F(MainWindowTest, OpensWhereItWasWithEveryControlInPlaceAndNothingCut) {
    CMainDlgHooks hooks;
    hooks.onShown = [](CMainDlg& dlg) {
        wxTopLevelWindow* frame = dlg.Window();
        ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen() && dlg.Logic().CallState() == 16; }));
        Settle();
        EXPECT_TRUE(frame->GetTitle().StartsWith("Velmora Transvoria V1.5b ("));
        const wxPoint where = frame->GetPosition();
        EXPECT_EQ(where.x, 140);
        EXPECT_EQ(where.y, 90);
        ASSERT_NE(dlg.MenuBar(), nullptr);
        EXPECT_EQ(dlg.MenuBar()->GetMenuCount(), 5u);
        EXPECT_EQ(dlg.MenuBar()->GetMenuLabelText(2), "File Play");
        auto* sheet = dynamic_cast<wxNotebook*>(dlg.Control(MainControl::kSheet));
        ASSERT_NE(sheet, nullptr);
        ASSERT_EQ(sheet->GetPageCount(), 3u);
        EXPECT_EQ(sheet->GetPageText(0), "ISDN");
        EXPECT_EQ(sheet->GetPageText(1), "Network / IP");
        EXPECT_EQ(sheet->GetPageText(2), "Multicast Network");
        EXPECT_EQ(dlg.ActivePageKind(), 16);
        EXPECT_TRUE(dlg.MenuBar()->IsChecked(CMainDlg::MenuIdOf(MainCommand::kViewNetwork)));
        for (int id : {1801, 1803, 1805, 1806, 1807, 1810, 1811, 1814, 1815, 1816, 1817, 1818, 1821, 1822, 1823, 1824,
                       1825, 1826}) {
            EXPECT_NE(dlg.Control(id), nullptr) << id;
        }
        // No sound interface is chosen in these settings, and the operator is told so.
        EXPECT_EQ(static_cast<wxStaticText*>(dlg.Control(MainControl::kStatus))->GetLabel(),
                  " Idle   (No sound interface chosen)");
        // The whole window fits a 1280 x 800 screen with the library open.
        EXPECT_LE(frame->GetSize().x, 1280);
        EXPECT_LE(frame->GetSize().y, 800);
        CheckGeometry(dlg);
        Screenshot(frame, "main-idle-network");
        EXPECT_TRUE(WaitUntil([&] {
            return static_cast<wxStaticText*>(dlg.Control(MainControl::kCpu))->GetLabel().StartsWith("CPU: ");
        }));
        frame->Close();
    };
    EXPECT_EQ(Run(kPlainIni, hooks), 0);
    // What the window keeps for the next start.
    CSettings settings((m_dir / "Velmora.Ini").string());
    EXPECT_EQ(settings.GetMainXPos(), 140);
    EXPECT_EQ(settings.GetMainYPos(), 90);
    EXPECT_EQ(settings.GetMainPage(), 1);
    EXPECT_EQ(settings.GetMainLibrary(), 1);
}

TEST_F(MainWindowTest, F2ShowsAndHidesTheLibraryChangingTheWidthByItsPanel) {
    CMainDlgHooks hooks;
    hooks.onShown = [](CMainDlg& dlg) {
        wxTopLevelWindow* frame = dlg.Window();
        ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen() && dlg.Logic().CallState() == 16; }));
        Settle();
        const int width = frame->GetSize().x;
        const int change = dlg.LibraryWidthChange();
        EXPECT_GT(change, 200);
        frame->Raise();
        Key(WXK_F2);
        ASSERT_TRUE(WaitUntil([&] { return !dlg.Logic().LibraryShown(); }));
        EXPECT_TRUE(WaitUntil([&] { return frame->GetSize().x == width - change; })) << frame->GetSize().x;
        EXPECT_FALSE(dlg.Control(MainControl::kLibraryPanel)->IsShown());
        EXPECT_FALSE(dlg.MenuBar()->IsChecked(CMainDlg::MenuIdOf(MainCommand::kShowLibrary)));
        CheckGeometry(dlg);
        Screenshot(frame, "main-library-hidden");
        Click(dlg.Control(MainControl::kPicture));  // the operator's hand back on the window
        Key(WXK_F2);
        ASSERT_TRUE(WaitUntil([&] { return dlg.Logic().LibraryShown(); }));
        EXPECT_TRUE(WaitUntil([&] { return frame->GetSize().x == width; })) << frame->GetSize().x;
        // The close button of the panel does the same.
        Click(dlg.Control(MainControl::kCloseLibrary));
        EXPECT_TRUE(WaitUntil([&] { return !dlg.Logic().LibraryShown() && frame->GetSize().x == width - change; }));
        frame->Close();
    };
    EXPECT_EQ(Run(kPlainIni, hooks), 0);
    EXPECT_EQ(CSettings((m_dir / "Velmora.Ini").string()).GetMainLibrary(), 0);
}

// Each colour scheme, idle and in a call, as the operator sees it.
TEST_F(MainWindowTest, SchemesIdleAndConnected) {
    CMainDlgHooks hooks;
    hooks.onShown = [](CMainDlg& dlg) {
        wxTopLevelWindow* frame = dlg.Window();
        ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen() && dlg.Logic().CallState() == 16; }));
        const struct {
            int kind;
            int key;
            const char* name;
            const char* address;
            int sender;
        } schemes[] = {{32, '1', "isdn", "0301234567", 0}, {16, '2', "network", "studio-b.example", 0},
                       {128, '3', "multicast", "239.192.0.7", 1}};
        for (const auto& s : schemes) {
            SCOPED_TRACE(s.name);
            frame->Raise();
            Key(s.key, wxMOD_ALT);
            ASSERT_TRUE(WaitUntil([&] { return dlg.ActivePageKind() == s.kind; }));
            EXPECT_EQ(dlg.Colours().light, CMainDlg::SchemeOf(s.kind).light);
            Screenshot(frame, std::string("main-idle-") + s.name);
            ASSERT_TRUE(Dial(dlg, Destination("Far studio", s.kind, s.address, s.sender), 50));
            CLevelMeter* meter = dlg.PhonebookPage(s.kind)->Meter();
            EXPECT_TRUE(WaitUntil([&] { return meter->Model().IsActive() && meter->Model().Level(0) > 0; }));
            // Menus closed during the call, the tabs too.
            EXPECT_FALSE(dlg.MenuBar()->IsEnabledTop(0));
            EXPECT_FALSE(dlg.TabsEnabled());
            const wxString status = static_cast<wxStaticText*>(dlg.Control(MainControl::kStatus))->GetLabel();
            EXPECT_TRUE(WaitUntil([&] {
                return static_cast<wxStaticText*>(dlg.Control(MainControl::kStatus))->GetLabel().Contains("Connected") ||
                       s.kind == 128;
            })) << status;
            CheckGeometry(dlg);
            Screenshot(frame, std::string("main-connected-") + s.name);
            PostMessage(dlg.GetSafeHwnd(), WM_STOP_REQUEST, 0, 0);
            ASSERT_TRUE(WaitUntil([&] { return dlg.Logic().CallState() == 16; }));
            EXPECT_TRUE(dlg.MenuBar()->IsEnabledTop(0));
        }
        frame->Close();
    };
    EXPECT_EQ(Run(kPlainIni, hooks), 0);
}

// Escape during a call asks first; "No" keeps the window and the call.
TEST_F(MainWindowTest, EscapeDuringACallAsksAndStaysOnNo) {
    CMainDlgHooks hooks;
    hooks.onShown = [](CMainDlg& dlg) {
        wxTopLevelWindow* frame = dlg.Window();
        ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen() && dlg.Logic().CallState() == 16; }));
        ASSERT_TRUE(Dial(dlg, Destination("Far studio", 16, "10.1.2.3"), 50));
        CScriptedEngine::s_calls.clear();
        bool asked = false;
        wxTimer answer;
        answer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            wxTopLevelWindow* box = FindTopLevel("Confirm?");
            if (!box) return;
            answer.Stop();
            asked = true;
            Screenshot(box, "main-close-question");
            if (auto* no = dynamic_cast<wxButton*>(box->FindWindow(wxID_NO))) Click(no);
        });
        answer.Start(100);
        frame->Raise();
        Key(WXK_ESCAPE);
        ASSERT_TRUE(WaitUntil([&] { return asked && !FindTopLevel("Confirm?"); }));
        answer.Stop();
        Settle();
        EXPECT_TRUE(frame->IsShown());
        EXPECT_EQ(dlg.Logic().CallState(), 50);
        EXPECT_TRUE(CScriptedEngine::s_calls.empty());  // no hang-up
        // Enter never closes the window.
        Key(WXK_RETURN);
        Settle();
        EXPECT_TRUE(frame->IsShown());
        PostMessage(dlg.GetSafeHwnd(), WM_STOP_REQUEST, 0, 0);
        ASSERT_TRUE(WaitUntil([&] { return dlg.Logic().CallState() == 16; }));
        Key(WXK_ESCAPE);  // idle: closes without a question
    };
    EXPECT_EQ(Run(kPlainIni, hooks), 0);
}

// The three answers of the bandwidth warning, each on a call whose check
// found too little.
TEST_F(MainWindowTest, BandwidthWarningAnswers) {
    CMainDlgHooks hooks;
    hooks.onShown = [](CMainDlg& dlg) {
        wxTopLevelWindow* frame = dlg.Window();
        ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen() && dlg.Logic().CallState() == 16; }));
        CScriptedEngine::s_check = true;
        CScriptedEngine::s_receive = 140000;
        CScriptedEngine::s_send = 96000;
        const struct {
            int button;
            const char* expected;
            int state;
        } answers[] = {{1152, "Continue", 50}, {1151, "TestAgain", 49}, {3, "Disconnect", 16}};
        int shot = 0;
        for (const auto& a : answers) {
            SCOPED_TRACE(a.expected);
            CScriptedEngine::s_calls.clear();
            bool seen = false;
            wxTimer driver;
            driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
                wxTopLevelWindow* box = FindTopLevel("Unsufficient Bandwidth on connection");
                if (!box) return;
                driver.Stop();
                seen = true;
                auto* provided = dynamic_cast<wxStaticText*>(box->FindWindow(1154));
                auto* needed = dynamic_cast<wxStaticText*>(box->FindWindow(1153));
                EXPECT_TRUE(provided && provided->GetLabel() == "RX: 140 kbps, TX: 96 kbps");
                EXPECT_TRUE(needed && needed->GetLabel() == "140 kbps (incl protocol overhead)");
                for (int id : {1152, 1151, 3, 1153, 1154, 1155, 1156, 1157, 5072, 5073, 5074, 5075}) {
                    wxWindow* w = box->FindWindow(id);
                    EXPECT_TRUE(w && w->IsShownOnScreen()) << id;
                    if (w) {
                        EXPECT_TRUE(box->GetScreenRect().Contains(w->GetScreenRect())) << id;
                    }
                }
                if (shot++ == 0) Screenshot(box, "bandwidth-warning");
                Click(box->FindWindow(a.button));
            });
            driver.Start(100);
            PhonebookEntry e = Destination("Thin line", 16, "10.9.9.9");
            if (!dlg.Phonebook().FindEntry(e.name, 16)) dlg.Phonebook().AddEntry(e);
            dlg.Logic().SetAutoDial(1, e.name, 16);
            PostMessage(dlg.GetSafeHwnd(), WM_CONNECT_REQUEST, 32, 0);
            ASSERT_TRUE(WaitUntil([&] { return seen && !FindTopLevel("Unsufficient Bandwidth"); }));
            driver.Stop();
            ASSERT_TRUE(WaitUntil([&] { return dlg.Logic().CallState() == a.state; })) << dlg.Logic().CallState();
            ASSERT_FALSE(CScriptedEngine::s_calls.empty());
            EXPECT_EQ(CScriptedEngine::s_calls.back(), a.expected);
            if (dlg.Logic().CallState() != 16) {
                PostMessage(dlg.GetSafeHwnd(), WM_STOP_REQUEST, 0, 0);
                ASSERT_TRUE(WaitUntil([&] { return dlg.Logic().CallState() == 16; }));
            }
        }
        frame->Close();
    };
    EXPECT_EQ(Run(kPlainIni, hooks), 0);
}

// A first start: the splash, then the processor question (OK disabled until
// an answer is chosen), then the window; the answer is kept.
TEST_F(MainWindowTest, FirstStartShowsSplashAndAsksTheCpuSpeedOnce) {
    static bool splashSeen = false, asked = false, okWasDisabled = false;
    static wxTimer* driver = nullptr;
    CMainDlgHooks hooks;
    hooks.showSplash = [](CMainDlg& dlg) {
        dlg.ShowSplash();
        splashSeen = CSplashWnd::CountUp() == 1;
        if (wxTopLevelWindow* splash = FindTopLevel("Velmora start-up")) Screenshot(splash, "splash");
        driver = new wxTimer;
        driver->Bind(wxEVT_TIMER, [](wxTimerEvent&) {
            wxTopLevelWindow* box = FindTopLevel("CPU Speed");
            if (!box || asked) return;
            asked = true;
            EXPECT_TRUE(WaitUntil([] { return CSplashWnd::CountUp() == 0; }));  // the question closed the splash
            auto* slower = dynamic_cast<wxRadioButton*>(box->FindWindow(1181));
            auto* faster = dynamic_cast<wxRadioButton*>(box->FindWindow(1182));
            wxWindow* ok = box->FindWindow(1183);
            ASSERT_TRUE(slower && faster && ok);
            EXPECT_TRUE(WaitUntil([&] { return !ok->IsEnabled(); }));
            okWasDisabled = !ok->IsEnabled();
            EXPECT_FALSE(slower->GetValue());
            EXPECT_FALSE(faster->GetValue());
            Screenshot(box, "cpu-speed");
            Key(WXK_ESCAPE);  // does nothing
            Key(WXK_RETURN);
            Settle();
            EXPECT_TRUE(box->IsShown());
            Click(faster);
            EXPECT_TRUE(WaitUntil([&] { return ok->IsEnabled(); }));
            Click(ok);
        });
        driver->Start(100);
    };
    hooks.onShown = [](CMainDlg& dlg) {
        driver->Stop();
        delete driver;
        driver = nullptr;
        EXPECT_TRUE(splashSeen);
        EXPECT_TRUE(asked);
        EXPECT_TRUE(okWasDisabled);
        EXPECT_EQ(CSettings().GetMainFastCPU(), 1);
        EXPECT_TRUE(WaitUntil([&] { return dlg.Window()->IsShownOnScreen(); }));
        dlg.Window()->Close();
    };
    EXPECT_EQ(Run("[Main]\nXPos=100\nYPos=100\n", hooks), 0);
    EXPECT_EQ(CSettings((m_dir / "Velmora.Ini").string()).GetMainFastCPU(), 1);
}

// A splash that took itself down (its own time ran out on a slow start) is
// only a handle to the window: the first status tick's close request fails
// harmlessly instead of reaching a deleted splash.
TEST_F(MainWindowTest, SplashThatClosedItselfIsForgottenSafely) {
    CMainDlgHooks hooks;
    hooks.showSplash = [](CMainDlg& dlg) {
        dlg.ShowSplash();
        ASSERT_EQ(CSplashWnd::CountUp(), 1);
        SendMessage(dlg.SplashHandle(), WM_TIMER, CSplashWnd::kSelfCloseTimer, 0);
        EXPECT_EQ(CSplashWnd::CountUp(), 0);
        EXPECT_TRUE(dlg.SplashUp());  // the window does not know yet
    };
    hooks.onShown = [](CMainDlg& dlg) {
        EXPECT_TRUE(WaitUntil([&] { return !dlg.SplashUp(); }));
        EXPECT_EQ(CSplashWnd::CountUp(), 0);
        dlg.Window()->Close();
    };
    EXPECT_EQ(Run("[Main]\nFastCPU=1\n", hooks), 0);
}

// The splash goes by itself with the window's first status tick.
TEST_F(MainWindowTest, SplashComesAndGoesAndAboutOpensAndCloses) {
    CMainDlgHooks hooks;
    hooks.onShown = [](CMainDlg& dlg) {
        wxTopLevelWindow* frame = dlg.Window();
        EXPECT_TRUE(WaitUntil([] { return CSplashWnd::CountUp() == 0; }));
        EXPECT_FALSE(dlg.SplashUp());
        bool shown = false;
        wxTimer driver;
        driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
            wxDialog* about = nullptr;
            for (wxWindow* w : wxTopLevelWindows) {
                auto* d = dynamic_cast<wxDialog*>(w);
                if (d && d->IsShown() && d->GetTitle() == "Velmora Transvoria") about = d;
            }
            if (!about) return;
            driver.Stop();
            shown = true;
            EXPECT_NE(about->FindWindow(1102), nullptr);
            auto* version = dynamic_cast<wxStaticText*>(about->FindWindow(1103));
            EXPECT_TRUE(version && version->GetLabel() == "V1.5b (20-Jan-2010)");
            Screenshot(about, "about");
            Click(about->FindWindow(wxID_OK));
        });
        driver.Start(100);
        PostMessage(dlg.GetSafeHwnd(), WM_COMMAND, MainCommand::kAbout, 0);
        EXPECT_TRUE(WaitUntil([&] { return shown; }));
        EXPECT_TRUE(WaitUntil([&] {
            for (wxWindow* w : wxTopLevelWindows) {
                if (w != frame && w->IsShown()) return false;
            }
            return true;
        }));
        driver.Stop();
        frame->Close();
    };
    EXPECT_EQ(Run("[Main]\nFastCPU=0\n", hooks), 0);
}

}  // namespace

namespace {

// Controls of a page or dialog: shown, inside the window, no sibling overlap.
void CheckControls(wxWindow* window, const std::map<int, wxWindow*>& controls) {
    const wxRect inside(window->ClientToScreen(wxPoint(0, 0)), window->GetClientSize());
    std::vector<std::pair<int, wxWindow*>> shown;
    for (const auto& [id, w] : controls) {
        if (!w->IsShown()) continue;
        EXPECT_TRUE(w->IsShownOnScreen()) << id;
        const wxRect r = w->GetScreenRect();
        EXPECT_TRUE(inside.Contains(r)) << "control " << id << " at " << r.x << "," << r.y << " " << r.width << "x"
                                        << r.height << " outside its window";
        shown.emplace_back(id, w);
    }
    for (size_t i = 0; i < shown.size(); ++i)
        for (size_t j = i + 1; j < shown.size(); ++j)
            EXPECT_FALSE(shown[i].second->GetScreenRect().Intersects(shown[j].second->GetScreenRect()))
                << shown[i].first << " overlaps " << shown[j].first;
}

}  // namespace

// Each page and each destination dialog: every control shown, inside its
// window and clear of its siblings; Cancel stores nothing.
TEST_F(MainWindowTest, EveryPageAndDestinationDialogLaysOutItsControls) {
    CMainDlgHooks hooks;
    hooks.onShown = [](CMainDlg& dlg) {
        wxTopLevelWindow* frame = dlg.Window();
        ASSERT_TRUE(WaitUntil([&] { return frame->IsShownOnScreen() && dlg.Logic().CallState() == 16; }));
        const struct {
            int kind, key, add;
            const char* name;
            const char* caption;
        } pages[] = {{32, '1', 2035, "isdn", "ISDN Destination"},
                     {16, '2', 3001, "network", "Network / IP Destination"},
                     {128, '3', 4003, "multicast", "Multicast Destination"}};
        for (const auto& p : pages) {
            SCOPED_TRACE(p.name);
            frame->Raise();
            Key(p.key, wxMOD_ALT);
            ASSERT_TRUE(WaitUntil([&] { return dlg.ActivePageKind() == p.kind; }));
            CPhonebookPage* page = dlg.PhonebookPage(p.kind);
            CheckControls(page, page->Controls());
            Screenshot(frame, std::string("page-") + p.name + "-idle");
            const int entries = dlg.Phonebook().GetCount();
            int step = 0;
            bool busy = false;  // a click inside lets the toolkit run this timer again
            wxTimer driver;
            driver.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
                auto* box = dynamic_cast<CDestinationDlg*>(FindTopLevel(p.caption));
                if (busy || !box || !box->IsShownOnScreen()) return;
                busy = true;
                // The multicast sender offers its format; the ISDN dialog's
                // two channels open the second number.
                const int choice = p.kind == 128 ? 4105 : p.kind == 32 ? 2103 : 0;
                const int opened = p.kind == 128 ? 4112 : p.kind == 32 ? 2105 : 0;
                switch (step) {
                case 0:
                    CheckControls(box, box->Controls());
                    Screenshot(box, std::string("dialog-") + p.name);
                    if (choice) Click(box->Control(choice));
                    ++step;
                    break;
                case 1:
                    if (opened && !box->Control(opened)->IsEnabled()) break;
                    if (p.kind == 128) {
                        EXPECT_FALSE(box->Control(4107)->IsEnabled());
                        Screenshot(box, "dialog-multicast-sender");
                    }
                    ++step;
                    Click(box->Control(wxID_CANCEL));
                    break;
                default: break;
                }
                busy = false;
            });
            driver.Start(200);
            Click(page->Control(p.add));
            ASSERT_TRUE(WaitUntil([&] { return step > 1 && !FindTopLevel(p.caption); }, std::chrono::seconds(60)))
                << "stuck at step " << step;
            driver.Stop();
            EXPECT_EQ(dlg.Phonebook().GetCount(), entries);
        }
        frame->Close();
    };
    EXPECT_EQ(Run(kPlainIni, hooks), 0);
}
