#pragma once
// The main window: constructed and started by the application object, run
// modally, destroyed when the operator closes it. Its state and message
// handling live in CMainDlgLogic; this class is the start-up, the window
// (menus, tab sheet, library panel, status line) and the wiring.
//
// Threads: GUI thread only.
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "audio/MixerControl.h"
#include "common/Phonebook.h"
#include "common/Translator.h"
#include "ui/CpuLoad.h"
#include "ui/MainDlgLogic.h"
#include "ui/MainEngine.h"
#include "ui/MainStartupView.h"
#include "ui/framework/Dialog.h"
#include "ui/framework/NoticeBox.h"

class wxMenuBar;
class wxNotebook;
class wxPanel;
class wxStaticText;
class wxListBox;
class wxSlider;
class CHoverButton;
class CStatusPanel;
class CPhonebookPage;
class CMainDlg;
class CSplashWnd;
class CLibraryBox;

// Where the subsystems that are wired in later plug into the start-up. An
// empty step takes the built-in one or is skipped; a step returning 0 has
// shown its own message and ends the start-up.
struct CMainDlgHooks {
    std::function<std::unique_ptr<CMainEngine>()> makeEngine;
    std::function<std::unique_ptr<CRemoteControl>()> makeRemoteControl;
    std::function<void(CMainDlg&)> showSplash;
    std::function<int(CMainDlg&)> checkCpuSpeed;
    std::function<int(CMainDlg&)> checkIsdnCard;
    std::function<int(CMainDlg&)> initPhonebook;
    std::function<int(CMainDlg&)> initAudioDevices;
    std::function<int(CMainDlg&)> createPages;
    // Runs once on the GUI thread when the window is up (tests drive it from here).
    std::function<void(CMainDlg&)> onShown;
};

// Control ids of the main window, by which code and tests find them.
namespace MainControl {
constexpr int kSheet = 1801;
constexpr int kPicture = 1803;
constexpr int kCpu = 1805;
constexpr int kStatus = 1806;
constexpr int kRates = 1807;
constexpr int kRemaining = 1810;
constexpr int kPosition = 1811;
constexpr int kRemove = 1814;
constexpr int kVoiceover = 1815;
constexpr int kPlay = 1816;
constexpr int kStop = 1817;
constexpr int kPause = 1818;
constexpr int kLibraryList = 1821;
constexpr int kLibraryPanel = 1822;
constexpr int kAdd = 1823;
constexpr int kCloseLibrary = 1824;
constexpr int kFileLevelLabel = 1825;
constexpr int kFileLevel = 1826;
}  // namespace MainControl

class CMainDlg : public CDialog, private CTranslatorWindow, private CMainDlgView, private CMainStartupView {
public:
    // Hooks for every main window built afterwards (GUI thread, before construction).
    static void SetHooks(CMainDlgHooks hooks);

    CMainDlg();
    ~CMainDlg() override;

    // The start-up before the window exists; 0 when a step failed (its
    // message has been shown).
    int Init(const char* programName);

    CTranslator& Translator() { return m_translator; }
    CMainEngine& Engine() { return *m_engine; }
    CPhonebook& Phonebook() { return m_phonebook; }
    CMainDlgLogic& Logic() { return m_logic; }
    wxTopLevelWindow* Window() const { return View(); }
    // The control of a logical id, or null.
    wxWindow* Control(int id) const;
    const std::map<int, wxWindow*>& Controls() const { return m_controls; }
    wxMenuBar* MenuBar() const { return m_menuBar; }
    // The menu item id of a command, and back.
    static int MenuIdOf(int command);
    static int CommandOfMenuId(int id);
    CPhonebookPage* PhonebookPage(int kind) const;
    // The library box; null before the window is built.
    CLibraryBox* LibraryBox() const { return m_libraryBox.get(); }
    // The width the window gains when the library is shown.
    int LibraryWidthChange() const;
    int ActivePageKind() const;
    bool TabsEnabled() const { return m_tabsEnabled; }
    // The colours of a scheme: text, dark, light, mid.
    struct Scheme {
        COLORREF text, dark, light, mid;
    };
    static Scheme SchemeOf(int kind);
    void SetPageColours(int pageOrKind, bool redraw);
    const Scheme& Colours() const { return m_scheme; }
    void ShowSplash() override;
    void CloseSplashNow();  // for an end or a box that cannot wait for the posted request
    bool SplashUp() const { return m_splash != nullptr; }
    HWND SplashHandle() const { return m_splash; }

protected:
    bool IsFrame() const override { return true; }
    void BuildView(wxTopLevelWindow& view) override;
    BOOL OnInitDialog() override;
    void OnOK() override {}  // Enter never closes the main window
    void OnCancel() override;
    void OnDestroy() override;
    void OnTimer(UINT_PTR id) override;
    void OnCommand(WORD id) override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void SavePhonebook();
    void StartRemoteControl();
    void BuildMenus(wxTopLevelWindow& view);
    void BuildLibraryPanel(wxWindow* parent);
    void UpdateDeviceNames();
    void ApplyAlwaysOnTop(bool on);
    void OnOpenPhonebook();
    void OnSavePhonebookAs();
    void ShowAbout();
    void ShowHelp();
    void Remember(int id, wxWindow* window) { m_controls[id] = window; }
    void OpenMixer();

    // CTranslatorWindow
    bool SetItemText(int, const char*) override { return false; }
    int AddComboString(int, const char*) override { return -1; }
    bool SetComboItemData(int, int, intptr_t) override { return false; }
    int SelectComboString(int, const char*) override { return -1; }
    bool GetComboSelection(int, std::string&) override { return false; }
    int MessageBox(const char* text, const char* caption, UINT style) override;

    // CMainStartupView (ShowSplash, CloseSplash and MessageBox above and below)
    void WaitUntil(uint32_t release) override;
    void MarkPlatform() override;
    int AskCpuSpeed() override;
    void UseModes(bool miniIsdn, int trace) override;
    int InitPhonebook(const std::string& fileName) override;
    int LoadPhonebook() override;
    bool FileExists(const std::string& fileName) override;
    int StartEngine(const char* programName, int fastCpu) override;
    void UseLevels(int playLevel, int clipLevel) override;
    std::unique_ptr<CRemoteControl> MakeRemoteControl() override;

    // CMainDlgView
    void ShowStatusLine(const std::string& text) override;
    void ShowLinkRates(const std::string& text) override;
    void ShowCpuLoad(const std::string& text) override;
    void ShowClipTimes(const std::string& position, const std::string& remaining) override;
    void ShowErrorBox(ErrorKind kind, const std::string& text) override;
    void AcceptDroppedFiles(bool accept) override;
    void SetGuiPriority(bool idle) override;
    void ShowMenus(const MainMenuState& menus) override;
    void ShowPlayerControls(const PlayerControls& controls) override;
    void EnableTabs(bool enable) override;
    void SelectPage(int kind) override;
    void ShowLibraryPanel(bool shown) override;
    void ArmTimer(UINT_PTR id, UINT ms) override;
    void StopTimer(UINT_PTR id) override;
    void CloseSplash() override;
    CMainPage* Page(int kind) override;
    void PageSetInputLevel(int level) override;
    bool FindPhonebookEntry(const char* name, int kind, PhonebookEntry& out) override;
    bool LibraryHasSelection() override;
    std::string SelectedClipPath() override;
    void LibrarySelectNext() override;
    int LibraryTakeSelection() override;
    int LibrarySelectEntry(int n) override;
    int LibrarySelectPrevious() override;
    void LibraryBrowseAndImport() override;
    void LibraryRemoveSelected() override;
    BandwidthAnswer RunBandwidthDialog(int limit, int receive, int send) override;

    CTranslator m_translator;
    CPhonebook m_phonebook;
    std::unique_ptr<CMainEngine> m_engine;
    std::unique_ptr<CRemoteControl> m_rip;
    CMainDlgLogic m_logic;
    CCpuLoad m_cpuLoad;
    CMixerControl m_mixer;
    std::string m_winClass;
    bool m_miniIsdn = false;
    bool m_tabsEnabled = true;
    bool m_closing = false;  // the operator closed it; the closing work runs
    int m_clipLevel = 0;
    int m_playLevel = 0;
    int m_lastColourRequest = -1;
    Scheme m_scheme{};
    HWND m_splash = nullptr;  // its handle: the splash may close and delete itself at any time

    std::map<int, wxWindow*> m_controls;
    wxMenuBar* m_menuBar = nullptr;
    wxNotebook* m_sheet = nullptr;
    wxPanel* m_root = nullptr;
    wxWindow* m_libraryGap = nullptr;
    std::map<int, CPhonebookPage*> m_pages;  // by kind
    std::map<int, CHoverButton*> m_buttons;    // by id
    wxStaticText* m_statusLine = nullptr;
    wxStaticText* m_rates = nullptr;
    wxStaticText* m_cpu = nullptr;
    wxStaticText* m_position = nullptr;
    wxStaticText* m_remaining = nullptr;
    CStatusPanel* m_libraryTitle = nullptr;
    CStatusPanel* m_fileLevelLabel = nullptr;
    wxPanel* m_library = nullptr;
    wxListBox* m_libraryList = nullptr;
    std::unique_ptr<CLibraryBox> m_libraryBox;
    wxSlider* m_fileLevel = nullptr;
    wxWindow* m_picture = nullptr;
    CNoticeBox m_engineErrors{"Error...", MB_ICONERROR | MB_SETFOREGROUND};
    CNoticeBox m_connectionErrors{"Error...", MB_ICONERROR | MB_SETFOREGROUND};
};
