#include "ui/MainDlg.h"

#include <wx/filedlg.h>
#include <wx/utils.h>
#include <wx/frame.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/notebook.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/dcbuffer.h>

#include <cstring>
#include <filesystem>

#include "common/MainWindowMessages.h"
#include "common/Settings.h"
#include "common/SharedState.h"
#include "platform/Clock.h"
#include "platform/ThreadPriority.h"
#include "platform/WaveApi.h"
#include "ui/AboutDlg.h"
#include "ui/BandwidthDlg.h"
#include "ui/HelpFile.h"
#include "ui/AudioSetupCheck.h"
#include "ui/CallEngineMainEngine.h"
#include "ui/ColourTriple.h"
#include "ui/CpuSpeedDlg.h"
#include "ui/HoverButton.h"
#include "ui/LibraryBox.h"
#include "ui/MainStartup.h"
#include "ui/Resources.h"
#include "ui/SettingsMenu.h"
#include "ui/RipRemoteControl.h"
#include "ui/SplashWnd.h"
#include "ui/StatusPanel.h"
#include "ui/pages/PhonebookPage.h"
#include "ui/framework/GuiPump.h"
#include "ui/framework/MessageBox.h"

namespace {

CMainDlgHooks& Hooks() {
    static CMainDlgHooks hooks;
    return hooks;
}

std::unique_ptr<CMainEngine> MakeEngine() {
    if (Hooks().makeEngine) {
        if (auto engine = Hooks().makeEngine()) return engine;
    }
    return std::make_unique<CCallEngineMainEngine>();
}

constexpr char kDefaultPhoneFile[] = "My Phonebook.Pb";
constexpr int kMenuSection = CTranslator::kMenuSection << 16;
constexpr int kLibraryWidth = 260;
constexpr int kShownFirst = WM_USER + 90;  // posted to itself once the window runs

int PageIndexOfKind(int kind, bool miniIsdn) {
    switch (kind) {
        case 32: return 0;
        case 16: return miniIsdn ? -1 : 1;
        case 128: return miniIsdn ? -1 : 2;
        default: return -1;
    }
}

int KindOfSetting(int page) {
    switch (page) {
        case 1:
        case 16: return 16;
        case 2:
        case 128: return 128;
        default: return 32;
    }
}

int ViewCommandOfKind(int kind) {
    return kind == 16 ? MainCommand::kViewNetwork : kind == 128 ? MainCommand::kViewMulticast : MainCommand::kViewIsdn;
}

// The banner at the left of the sheet: the scheme's dark colour with the
// program's name running upwards.
class CFacePicture : public wxControl {
public:
    CFacePicture(wxWindow* parent, int id) : wxControl(parent, id, wxDefaultPosition, wxSize(72, -1), wxBORDER_NONE) {
        SetBackgroundStyle(wxBG_STYLE_PAINT);
        Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
            wxAutoBufferedPaintDC dc(this);
            const wxSize size = GetClientSize();
            dc.GradientFillLinear(wxRect(0, 0, size.x, size.y), m_dark, m_mid, wxSOUTH);
            wxFont font(wxFontInfo(20).Family(wxFONTFAMILY_SWISS).Bold());
            dc.SetFont(font);
            dc.SetTextForeground(m_light);
            const wxSize text = dc.GetTextExtent("Velmora");
            dc.DrawRotatedText("Velmora", (size.x - text.y) / 2, size.y - 16, 90);
            dc.SetPen(*wxTRANSPARENT_PEN);
            const wxColour bars[] = {wxColour(0x44, 0xFF, 0x44), wxColour(0xFF, 0xFF, 0x44), wxColour(0xFF, 0x44, 0x44)};
            for (int i = 0; i < 3; ++i) {
                dc.SetBrush(wxBrush(bars[i]));
                dc.DrawRectangle(18 + i * 13, 40 - i * 8, 9, 14 + i * 8);
            }
        });
    }
    void SetColours(const wxColour& dark, const wxColour& light, const wxColour& mid) {
        m_dark = dark;
        m_light = light;
        m_mid = mid;
        Refresh(false);
    }
    bool AcceptsFocus() const override { return false; }

private:
    wxColour m_dark, m_light, m_mid;
};

}  // namespace

void CMainDlg::SetHooks(CMainDlgHooks hooks) { Hooks() = std::move(hooks); }

// The toolkit takes menu ids below 0x7FFF: the 40000 commands move down by 20000.
int CMainDlg::MenuIdOf(int command) { return command >= 40000 ? command - 20000 : command; }
int CMainDlg::CommandOfMenuId(int id) { return id >= 20000 && id < 30000 ? id + 20000 : id; }

CMainDlg::CMainDlg()
    : CDialog(IDD_MAIN_DIALOG), m_engine(MakeEngine()), m_logic(*m_engine, m_translator, *this) {
    if (g_sharedState) {
        g_sharedState->startTime = timeGetTime();
        g_sharedState->accelerators = LoadMainAccelerators();
    }
    m_translator.AttachWindow(this);
    m_logic.SetCpuSampler([this] { return m_cpuLoad.SampleSystem(); });
}

CMainDlg::~CMainDlg() {
    CloseSplashNow();  // the start-up ended before its close request
    m_logic.SetRemoteControl(nullptr);
    m_rip.reset();
    m_engine.reset();
    if (g_sharedState) {
        // Nobody may translate keys through a table or window that is gone.
        DestroyAcceleratorTable(static_cast<HACCEL>(g_sharedState->accelerators));
        g_sharedState->accelerators = nullptr;
        g_sharedState->mainWindow = nullptr;
    }
}

void CMainDlg::ShowSplash() {
    if (m_splash) return;
    if (CSplashWnd* splash = CSplashWnd::Show()) m_splash = splash->Handle();
}

void CMainDlg::CloseSplash() {
    if (!m_splash) return;
    PostMessage(m_splash, CSplashWnd::kCloseRequest, 0, 0);  // fails harmlessly when it closed itself
    m_splash = nullptr;  // forgotten: only the first request reaches it
}

void CMainDlg::CloseSplashNow() {
    if (!m_splash) return;
    SendMessage(m_splash, CSplashWnd::kCloseRequest, 0, 0);
    m_splash = nullptr;
}

int CMainDlg::Init(const char* programName) {
    const CMainDlgHooks& hooks = Hooks();
    MainStartupSteps steps;
    auto bind = [this](const std::function<int(CMainDlg&)>& hook) {
        return hook ? std::function<int()>([this, hook] { return hook(*this); }) : std::function<int()>();
    };
    if (hooks.showSplash) steps.showSplash = [this] { Hooks().showSplash(*this); };
    steps.checkCpuSpeed = bind(hooks.checkCpuSpeed);
    steps.checkIsdnCard = bind(hooks.checkIsdnCard);
    steps.initPhonebook = bind(hooks.initPhonebook);
    steps.initAudioDevices = bind(hooks.initAudioDevices);
    steps.createPages = bind(hooks.createPages);
    const CSettings settings;
    CMainStartup startup(*this, m_translator, settings, std::move(steps));
    const int result = startup.Run(programName, g_sharedState ? g_sharedState->startTime : timeGetTime());
    m_winClass = startup.WinClass();
    return result;
}

// CMainStartupView

void CMainDlg::WaitUntil(uint32_t release) {
    if (g_sharedState) g_sharedState->startupReleaseTime = release;
    while (static_cast<int32_t>(timeGetTime() - release) < 0) {
        if (m_splash) PumpToolkitEvents();  // the splash stays painted
        Sleep(10);
    }
}

void CMainDlg::MarkPlatform() {
    // This platform stands where the newest system family stood: the NT
    // line with endpoint audio devices.
    if (!g_sharedState) return;
    g_sharedState->ntPlatform = 1;
    g_sharedState->endpointFlag = 1;
}

int CMainDlg::AskCpuSpeed() {
    CCpuSpeedDlg dialog;
    dialog.SetColours(kStandardDialogColours);
    return static_cast<int>(dialog.DoModal());
}

void CMainDlg::UseModes(bool miniIsdn, int trace) {
    m_miniIsdn = miniIsdn;
    if (g_sharedState) {
        g_sharedState->traceValue = trace;
        g_sharedState->miniIsdn = miniIsdn;
    }
    m_logic.SetMiniIsdn(miniIsdn);
}

int CMainDlg::InitPhonebook(const std::string& fileName) { return m_phonebook.Init(fileName.c_str()); }
int CMainDlg::LoadPhonebook() { return m_phonebook.Load(true); }

bool CMainDlg::FileExists(const std::string& fileName) {
    std::error_code ec;
    return std::filesystem::exists(fileName, ec);
}

int CMainDlg::StartEngine(const char* programName, int fastCpu) { return m_engine->Start(programName, fastCpu); }

void CMainDlg::UseLevels(int playLevel, int clipLevel) {
    m_playLevel = playLevel;
    m_clipLevel = clipLevel;
    m_engine->SetPlayLevel(m_playLevel);
    m_engine->SetClipLevel(m_clipLevel);
}

std::unique_ptr<CRemoteControl> CMainDlg::MakeRemoteControl() {
    return Hooks().makeRemoteControl ? Hooks().makeRemoteControl() : std::make_unique<CRipRemoteControl>();
}

CMainDlg::Scheme CMainDlg::SchemeOf(int kind) {
    switch (kind) {
        case 16: return {0x556644, 0x113311, 0xCCEEBB, 0xBBCCAA};
        case 128: return {0x556644, 0x003300, 0xBBEECC, 0xAACCBB};
        default: return {0x775555, 0x552222, 0xEED5D5, 0xDDBBBB};
    }
}

void CMainDlg::SetPageColours(int pageOrKind, bool redraw) {
    // The first call always acts; later ones only on a new value, except
    // that a redraw is never skipped (the colours are right from the first paint).
    if (pageOrKind == m_lastColourRequest && !redraw) return;
    m_lastColourRequest = pageOrKind;
    m_scheme = SchemeOf(KindOfSetting(pageOrKind));
    const wxColour text = WxColour(m_scheme.text), dark = WxColour(m_scheme.dark), light = WxColour(m_scheme.light),
                   mid = WxColour(m_scheme.mid);
    // The banner paints from the window's first show, also when no page is
    // ever switched to (MiniISDN has one page only): it has no colours of its own.
    if (m_picture) static_cast<CFacePicture*>(m_picture)->SetColours(dark, light, mid);
    if (!redraw || !View()) return;
    m_root->SetBackgroundColour(mid);
    m_library->SetBackgroundColour(mid);
    m_libraryTitle->SetAll(nullptr, m_scheme.text, m_scheme.light, 700);
    m_fileLevelLabel->SetAll(nullptr, m_scheme.text, CStatusPanel::kNoBackground, 400);
    for (auto& [id, button] : m_buttons) button->SetColours(m_scheme.dark, m_scheme.mid, m_scheme.light);
    for (wxStaticText* t : {m_statusLine, m_rates, m_cpu, m_position, m_remaining}) t->SetForegroundColour(text);
    m_libraryList->SetBackgroundColour(light);
    m_libraryList->SetForegroundColour(text);
    View()->Refresh();
}

void CMainDlg::BuildMenus(wxTopLevelWindow& view) {
    auto text = [this](int line, const char* english) {
        return wxString::FromUTF8(m_translator.GetText(kMenuSection | line, english));
    };
    m_menuBar = new wxMenuBar;
    auto* file = new wxMenu;
    file->Append(MenuIdOf(MainCommand::kOpenPhonebook), text(6, "&Open phonebook...") + "\tCtrl+O");
    file->Append(MenuIdOf(MainCommand::kSavePhonebookAs), text(7, "&Save phonebook As...") + "\tCtrl+S");
    file->AppendSeparator();
    file->Append(MenuIdOf(MainCommand::kExit), text(8, "E&xit"));
    auto* viewMenu = new wxMenu;
    viewMenu->AppendCheckItem(MenuIdOf(MainCommand::kViewIsdn), text(9, "&ISDN") + "\tAlt+1");
    viewMenu->AppendCheckItem(MenuIdOf(MainCommand::kViewNetwork), text(10, "&Network / IP") + "\tAlt+2");
    viewMenu->AppendCheckItem(MenuIdOf(MainCommand::kViewMulticast), text(11, "&Multicast") + "\tAlt+3");
    viewMenu->AppendSeparator();
    // No system menu here: "Always on Top" lives in the View menu.
    viewMenu->AppendCheckItem(MenuIdOf(MainCommand::kAlwaysOnTop), text(0, "Always on Top"));
    auto* play = new wxMenu;
    play->AppendCheckItem(MenuIdOf(MainCommand::kShowLibrary), text(12, "Show Audio &Library") + "\tF2");
    play->AppendSeparator();
    play->Append(MenuIdOf(MainCommand::kPlay), text(13, "&Play") + "\tF5");
    play->Append(MenuIdOf(MainCommand::kPause), text(14, "P&ause") + "\tF6");
    play->Append(MenuIdOf(MainCommand::kStop), text(15, "&Stop") + "\tF7");
    play->AppendSeparator();
    play->Append(MenuIdOf(MainCommand::kPrevious), text(16, "P&revious Item") + "\tF9");
    play->Append(MenuIdOf(MainCommand::kNext), text(17, "&Next Item") + "\tF10");
    auto* settings = new wxMenu;
    settings->Append(MenuIdOf(MainCommand::kGlobalSettings), text(18, "&Global settings..."));
    settings->Append(MenuIdOf(MainCommand::kAudioSettings), text(19, "&Audio settings..."));
    settings->Append(MenuIdOf(MainCommand::kAnswerSettings), text(20, "A&nswer settings..."));
    settings->Append(MenuIdOf(MainCommand::kSocksSettings), text(21, "&SOCKS proxy server settings..."));
    auto* help = new wxMenu;
    help->Append(MenuIdOf(MainCommand::kHelp), text(23, "&Help...") + "\tF1");
    help->Append(MenuIdOf(MainCommand::kAbout), text(24, "&About..."));
    m_menuBar->Append(file, text(1, "&File"));
    m_menuBar->Append(viewMenu, text(2, "&View"));
    m_menuBar->Append(play, text(3, "File &Play"));
    m_menuBar->Append(settings, text(4, "&Settings"));
    m_menuBar->Append(help, text(5, "&Help"));
    if (auto* frame = dynamic_cast<wxFrame*>(&view)) frame->SetMenuBar(m_menuBar);
    view.Bind(wxEVT_MENU, [this](wxCommandEvent& e) {
        // Through the queue, as every command: a menu's own loop may still run.
        PostMessage(GetSafeHwnd(), WM_COMMAND, static_cast<WPARAM>(CommandOfMenuId(e.GetId())), 0);
    });
}

void CMainDlg::BuildLibraryPanel(wxWindow* parent) {
    m_library = new wxPanel(parent, MainControl::kLibraryPanel, wxDefaultPosition, wxSize(kLibraryWidth, -1));
    m_library->SetMinSize(wxSize(kLibraryWidth, -1));
    Remember(MainControl::kLibraryPanel, m_library);
    auto* column = new wxBoxSizer(wxVERTICAL);
    auto* header = new wxBoxSizer(wxHORIZONTAL);
    m_libraryTitle = new CStatusPanel(m_library, wxID_ANY, "Audio Library", wxDefaultPosition, wxSize(-1, 28));
    header->Add(m_libraryTitle, 1, wxEXPAND);
    auto addButton = [this](int id, const wxString& caption, FaceIcon icon, const wxSize& size, bool check = false) {
        auto* button = new CHoverButton(m_library, id, caption, wxDefaultPosition, size, check);
        button->SetIcon(icon, true);
        if (!caption.empty()) button->SetCaptionFont(caption, 13);
        button->SetMinSize(size);
        m_buttons[id] = button;
        Remember(id, button);
        button->Bind(wxEVT_BUTTON, [this, id](wxCommandEvent&) { PostMessage(GetSafeHwnd(), WM_COMMAND, id, 0); });
        return button;
    };
    header->Add(addButton(MainControl::kCloseLibrary, "", FaceIcon::kCloseLibrary, wxSize(28, 28)), 0, wxLEFT, 4);
    column->Add(header, 0, wxEXPAND | wxALL, 8);

    m_libraryList = new wxListBox(m_library, MainControl::kLibraryList, wxDefaultPosition, wxSize(-1, 150));
    Remember(MainControl::kLibraryList, m_libraryList);
    m_libraryList->Bind(wxEVT_LISTBOX, [this](wxCommandEvent&) {
        PostMessage(GetSafeHwnd(), WM_COMMAND, MainCommand::kLibraryList, 0);
    });
    m_libraryBox = std::make_unique<CLibraryBox>();
    m_library->Bind(wxEVT_DROP_FILES, [this](wxDropFilesEvent& e) {
        std::vector<std::string> names;
        for (int i = 0; i < e.GetNumberOfFiles(); ++i) names.push_back(e.GetFiles()[i].utf8_string());
        m_libraryBox->ImportDropped(names);
    });
    column->Add(m_libraryList, 1, wxEXPAND | wxLEFT | wxRIGHT, 8);

    auto* times = new wxBoxSizer(wxHORIZONTAL);
    m_position = new wxStaticText(m_library, MainControl::kPosition, "0:00.0", wxDefaultPosition, wxSize(90, -1));
    m_remaining = new wxStaticText(m_library, MainControl::kRemaining, "0:00.0", wxDefaultPosition, wxSize(90, -1),
                                   wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    for (wxStaticText* t : {m_position, m_remaining}) t->SetFont(t->GetFont().Bold());
    Remember(MainControl::kPosition, m_position);
    Remember(MainControl::kRemaining, m_remaining);
    times->Add(m_position, 0);
    times->AddStretchSpacer();
    times->Add(m_remaining, 0);
    column->Add(times, 0, wxEXPAND | wxALL, 8);

    const wxSize wide(74, 52);
    auto* edit = new wxBoxSizer(wxHORIZONTAL);
    edit->Add(addButton(MainControl::kAdd, m_translator.GetText(2, "Add"), FaceIcon::kAdd, wide), 1, wxRIGHT, 6);
    edit->Add(addButton(MainControl::kRemove, m_translator.GetText(6, "Remove"), FaceIcon::kRemove, wide), 1, wxRIGHT, 6);
    edit->Add(addButton(MainControl::kVoiceover, m_translator.GetText(18, "Voiceover"), FaceIcon::kVoiceover, wide, true), 1);
    column->Add(edit, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
    auto* transport = new wxBoxSizer(wxHORIZONTAL);
    transport->Add(addButton(MainControl::kPlay, m_translator.GetText(7, "Play"), FaceIcon::kPlay, wide), 1, wxRIGHT, 6);
    transport->Add(addButton(MainControl::kPause, m_translator.GetText(8, "Pause"), FaceIcon::kPause, wide), 1, wxRIGHT, 6);
    transport->Add(addButton(MainControl::kStop, m_translator.GetText(9, "Stop"), FaceIcon::kStop, wide), 1);
    column->Add(transport, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);

    auto* level = new wxBoxSizer(wxHORIZONTAL);
    m_fileLevelLabel = new CStatusPanel(m_library, MainControl::kFileLevelLabel,
                                        m_translator.GetSectionText(10, 0, "File Level"), wxDefaultPosition, wxSize(80, 26));
    Remember(MainControl::kFileLevelLabel, m_fileLevelLabel);
    m_fileLevel = new wxSlider(m_library, MainControl::kFileLevel, -m_clipLevel, 0, 30);
    m_fileLevel->SetTickFreq(6);
    Remember(MainControl::kFileLevel, m_fileLevel);
    m_fileLevel->Bind(wxEVT_SLIDER, [this](wxCommandEvent&) {
        m_clipLevel = -m_fileLevel->GetValue();
        m_engine->SetClipLevel(m_clipLevel);
    });
    level->Add(m_fileLevelLabel, 0, wxALIGN_CENTER_VERTICAL);
    level->Add(m_fileLevel, 1, wxALIGN_CENTER_VERTICAL | wxLEFT, 4);
    column->Add(level, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
    m_library->SetSizer(column);
}

void CMainDlg::BuildView(wxTopLevelWindow& view) {
    view.SetTitle(kMainCaption);
    BuildMenus(view);
    m_root = new wxPanel(&view, wxID_ANY);
    auto* rows = new wxBoxSizer(wxVERTICAL);
    auto* top = new wxBoxSizer(wxHORIZONTAL);

    m_picture = new CFacePicture(m_root, MainControl::kPicture);
    Remember(MainControl::kPicture, m_picture);
    top->Add(m_picture, 0, wxEXPAND | wxRIGHT, 10);

    m_sheet = new wxNotebook(m_root, MainControl::kSheet, wxDefaultPosition, wxSize(560, 300));
    Remember(MainControl::kSheet, m_sheet);
    const struct {
        int kind, line;
        const char* title;
    } pages[] = {{32, 15, "ISDN"}, {16, 16, "Network / IP"}, {128, 17, "Multicast Network"}};
    for (const auto& p : pages) {
        if (m_miniIsdn && p.kind != 32) continue;
        const wxString title = wxString::FromUTF8(m_translator.GetText(p.line, p.title));
        auto* page = new CPhonebookPage(m_sheet, p.kind, GetSafeHwnd(), &m_phonebook, m_miniIsdn);
        page->SetTransports(m_engine->GetAvailableTransports());
        m_sheet->AddPage(page, title);
        m_pages[p.kind] = page;
    }
    // The pages set the sheet's size: every control of the tallest one shows.
    wxSize sheetSize = m_sheet->GetBestSize();
    sheetSize.IncTo(m_sheet->GetMinSize());
    m_sheet->SetMinSize(sheetSize);
    m_sheet->Bind(wxEVT_NOTEBOOK_PAGE_CHANGING, [this](wxBookCtrlEvent& e) {
        if (!m_tabsEnabled) e.Veto();
    });
    m_sheet->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, [this](wxBookCtrlEvent& e) {
        if (auto* page = dynamic_cast<CPhonebookPage*>(m_sheet->GetPage(static_cast<size_t>(e.GetSelection())))) {
            PostMessage(GetSafeHwnd(), WM_PAGE_SHOWN, 0, page->Kind());
        }
    });
    top->Add(m_sheet, 1, wxEXPAND);
    m_libraryGap = new wxWindow(m_root, wxID_ANY, wxDefaultPosition, wxSize(kLibraryWidth / 20, 1));
    top->Add(m_libraryGap, 0);
    BuildLibraryPanel(m_root);
    top->Add(m_library, 0, wxEXPAND);
    rows->Add(top, 1, wxEXPAND | wxALL, 10);

    auto* status = new wxBoxSizer(wxHORIZONTAL);
    m_statusLine = new wxStaticText(m_root, MainControl::kStatus, " ", wxDefaultPosition, wxSize(240, -1),
                                    wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    m_rates = new wxStaticText(m_root, MainControl::kRates, "", wxDefaultPosition, wxSize(180, -1), wxST_NO_AUTORESIZE);
    m_cpu = new wxStaticText(m_root, MainControl::kCpu, "CPU: 0%", wxDefaultPosition, wxSize(90, -1),
                             wxST_NO_AUTORESIZE | wxALIGN_RIGHT);
    Remember(MainControl::kStatus, m_statusLine);
    Remember(MainControl::kRates, m_rates);
    Remember(MainControl::kCpu, m_cpu);
    status->Add(m_statusLine, 1, wxALIGN_CENTER_VERTICAL);
    status->Add(m_rates, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 10);
    status->Add(m_cpu, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 10);
    rows->Add(status, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 10);
    m_root->SetSizer(rows);

    auto* frameSizer = new wxBoxSizer(wxVERTICAL);
    frameSizer->Add(m_root, 1, wxEXPAND);
    view.SetSizerAndFit(frameSizer);

    // Tool tips only with the built-in English.
    if (m_translator.IsDefaultLanguage()) {
        const struct {
            int id;
            const char* tip;
        } tips[] = {{MainControl::kCpu, "Amount of CPU time used by the system"},
                    {MainControl::kStatus, "Application status and connection information"},
                    {MainControl::kRates, "Additional connection information"},
                    {MainControl::kRemaining, "Remaining file play time"},
                    {MainControl::kPosition, "Current file play position"},
                    {MainControl::kRemove, "Remove audio from the library"},
                    {MainControl::kVoiceover, "Voiceover mode: leave the mic ON during file play"},
                    {MainControl::kPlay, "Play the selected audio from the library"},
                    {MainControl::kStop, "Stop playing the audio from the library"},
                    {MainControl::kPause, "Pause the playing from the library"},
                    {MainControl::kAdd, "Add audio to the library"},
                    {MainControl::kCloseLibrary, "Close the audio library panel"},
                    {MainControl::kFileLevel, "Playback/transmit level of the library audio"}};
        for (const auto& t : tips) {
            if (wxWindow* w = Control(t.id)) w->SetToolTip(t.tip);
        }
    }
}

BOOL CMainDlg::OnInitDialog() {
    CSettings settings;
    const int page = settings.GetMainPage();
    SetPageColours(page, false);
    // First of all: the audio devices and the key filter read the handle from here.
    if (g_sharedState) g_sharedState->mainWindow = GetSafeHwnd();
    ApplyAlwaysOnTop(settings.GetMainOnTop() != 0);
    SetWindowText(kMainCaption);
    View()->Move(settings.GetMainXPos(), settings.GetMainYPos());
    m_logic.SetVoiceover(settings.GetLibraryMicOn() != 0);
    if (auto it = m_buttons.find(MainControl::kVoiceover); it != m_buttons.end()) it->second->SetCheck(m_logic.Voiceover());
    m_engine->SetMainWindow(GetSafeHwnd());
    UpdateDeviceNames();
    SelectPage(KindOfSetting(page));
    const bool library = !m_miniIsdn && settings.GetMainLibrary() != 0;
    if (!m_libraryBox->Init(GetSafeHwnd(), m_libraryList)) m_translator.ShowError(18, "Unable to init LibraryBox object.");
    m_logic.SetLibraryShown(true);  // the window is built with the panel
    if (!library) {
        m_logic.SetLibraryShown(false);
        ShowLibraryPanel(false);
    }
    m_logic.UpdatePlayerControls();
    ArmTimer(kStatusTimer, 1000);
    ArmTimer(kLevelTimer, 30);
    OpenMixer();
    StartRemoteControl();
    m_logic.SetSetupWarning(DescribeAudioSetupProblem(CSettings(), waveInGetNumDevs(), waveOutGetNumDevs()));
    m_logic.SetAutoDial(settings.GetMainAutoDial(), settings.GetMainAutoDialName(), settings.GetMainAutoDialType());
    PostMessage(GetSafeHwnd(), kShownFirst, 0, 0);
    return TRUE;
}

void CMainDlg::ApplyAlwaysOnTop(bool on) {
    if (m_menuBar) m_menuBar->Check(MenuIdOf(MainCommand::kAlwaysOnTop), on);
    if (!View()) return;
    const long style = View()->GetWindowStyleFlag();
    View()->SetWindowStyleFlag(on ? style | wxSTAY_ON_TOP : style & ~wxSTAY_ON_TOP);
}

void CMainDlg::UpdateDeviceNames() {
    // Device names come with the device families; the pages hear the interface in use.
    const int interfaceKind = CSettings().GetAudioInterface();
    const std::string input = interfaceKind == 1 ? "WAVE input" : interfaceKind == 2 ? "ASIO input" : interfaceKind == 3 ? "Endpoint input" : "";
    const std::string output = interfaceKind == 1 ? "WAVE output" : interfaceKind == 2 ? "ASIO output" : interfaceKind == 3 ? "Endpoint output" : "";
    for (auto& [kind, page] : m_pages) page->SetDeviceNames(input, output, -1);
}

// The mixer's volume runs 0..65535; the pages show percent.
void CMainDlg::PageSetInputLevel(int level) {
    const int percent = static_cast<int>((static_cast<int64_t>(level) * 100 + 32767) / 65535);
    for (auto& [kind, page] : m_pages) page->SetInputLevel(percent);
}

// On the WAVE interface the mixer of the input device tells this window of
// level changes made anywhere; without one the window runs on without it.
void CMainDlg::OpenMixer() {
    const CSettings settings;
    m_logic.SetMixer(nullptr, -1);
    if (settings.GetAudioInterface() != INTERFACE_WAVE) return;
    if (!m_mixer.Open(settings.GetRecCard(), 1, GetSafeHwnd())) return;
    m_logic.SetMixer(&m_mixer, m_mixer.GetControlId(settings.GetRecInput(), kMixerVolume));
}

void CMainDlg::SavePhonebook() {
    if (m_phonebook.Save()) return;
    // A read-only or vanished file: keep the entries in the default file instead.
    CSettings().SetMainPhoneFile(kDefaultPhoneFile);
    m_phonebook.SetFileName(kDefaultPhoneFile);
    m_phonebook.Save();
}

void CMainDlg::StartRemoteControl() {
    const CSettings settings;
    m_rip = CMainStartup(*this, m_translator, settings).StartRemoteControl(GetSafeHwnd());
    if (!m_rip) return;
    m_rip->SendState(m_logic.CallState());
    m_rip->SetAvailableTransports(m_engine->GetAvailableTransports());
    m_logic.SetRemoteControl(m_rip.get());
    ArmTimer(kRemoteControlTimer, 200);
}

void CMainDlg::OnCancel() {
    if (m_closing) return;
    const bool active = m_engine->IsConnectionActive() != 0;
    if (active && !m_translator.ConfirmSectionText(
                      2, 24, "Closing will also stop the connection. Close and break the connection?")) {
        return;
    }
    // The operator sees the window go at once; the hang-up and the engine's
    // stop run after it.
    m_closing = true;
    HideNow();
    if (active) {
        m_engine->Disconnect();
        Sleep(2000);
    }
    EndDialog(2);
}

void CMainDlg::OnDestroy() {
    CSettings settings;
    if (View()) {
        const wxPoint where = View()->GetPosition();
        settings.SetMainXPos(where.x);
        settings.SetMainYPos(where.y);
    }
    settings.SetPlayLevel(m_playLevel);
    settings.SetLibraryLevel(m_clipLevel);
    settings.SetLibraryMicOn(m_logic.Voiceover() ? 1 : 0);
    settings.SetMainPage(m_sheet ? m_sheet->GetSelection() : 0);
    settings.SetMainLibrary(m_logic.LibraryShown() ? 1 : 0);
    m_logic.SetMixer(nullptr, -1);
    m_mixer.Close();  // its watcher posts nothing after this
    m_libraryBox.reset();  // saves its selection; its progress dialog goes while the window stands
    // The boxes belong to the window: they go with it.
    m_engineErrors.Close();
    m_connectionErrors.Close();
    SavePhonebook();
    for (UINT_PTR id : {kRemoteControlTimer, kHangUpRepeatTimer, kStatusTimer, kLevelTimer, kReconnectTimer}) StopTimer(id);
}

void CMainDlg::OnTimer(UINT_PTR id) {
    if (id == kRemoteControlTimer) {
        if (!m_rip) return;
        StopTimer(kRemoteControlTimer);  // a poll never overlaps the next
        m_rip->Poll();
        if (m_rip) ArmTimer(kRemoteControlTimer, 200);
        return;
    }
    m_logic.HandleTimer(id);
}

void CMainDlg::OnCommand(WORD id) {
    if (m_logic.HandleCommand(id)) return;
    switch (id) {
        case MainCommand::kAbout: ShowAbout(); break;
        case MainCommand::kHelp: ShowHelp(); break;
        case MainCommand::kAlwaysOnTop: {
            const bool on = !(View()->GetWindowStyleFlag() & wxSTAY_ON_TOP);
            CSettings().SetMainOnTop(on ? 1 : 0);
            ApplyAlwaysOnTop(on);
            break;
        }
        case MainCommand::kOpenPhonebook:
            if (!m_miniIsdn) OnOpenPhonebook();
            break;
        case MainCommand::kSavePhonebookAs:
            if (!m_miniIsdn) OnSavePhonebookAs();
            break;
        case MainCommand::kGlobalSettings:
        case MainCommand::kAudioSettings:
        case MainCommand::kAnswerSettings:
        case MainCommand::kSocksSettings: {
            if (!m_logic.IsIdle()) break;
            const int answerTab = ActivePageKind() == 16 ? 1 : 0;
            const SettingsMenu::Outcome outcome = SettingsMenu::Run(id, *m_engine, m_phonebook, answerTab);
            if (outcome == SettingsMenu::kInitFailed)
                m_translator.ShowError(19, "Unable to init the Answer settings dialog!");
            if (outcome == SettingsMenu::kApplied && id == MainCommand::kGlobalSettings) {
                m_libraryBox->ReloadLocation();
                m_logic.UpdatePlayerControls();
            }
            break;
        }
        default: break;
    }
}

void CMainDlg::ShowAbout() {
    CAboutDlg about;
    about.SetColours(kStandardDialogColours);
    about.DoModal();
}

void CMainDlg::ShowHelp() {
    std::error_code ec;
    const CHelpFile help(std::filesystem::current_path(ec).string());
    const CHelpFile::Outcome outcome =
        help.Open([](const std::string& path) { return wxLaunchDefaultApplication(wxString::FromUTF8(path)); });
    if (outcome != CHelpFile::kOpened) MessageBox(help.Explain(outcome).c_str(), "Help", MB_OK | MB_ICONINFORMATION);
}

void CMainDlg::OnOpenPhonebook() {
    const std::filesystem::path folder = std::filesystem::current_path();
    wxFileDialog dialog(View(), "Open phonebook", "", "", "Phonebook file (*.Pb)|*.Pb", wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    const bool chosen = dialog.ShowModal() == wxID_OK;
    std::error_code ec;
    std::filesystem::current_path(folder, ec);
    if (!chosen) return;
    const std::string name = dialog.GetPath().utf8_string();
    if (!CPhonebook::IsPhonebookFile(name.c_str())) {
        m_translator.ShowError(9, "The selected file is not a valid phonebook file");
        return;
    }
    CSettings().SetMainPhoneFile(name.c_str());
    m_phonebook.SetFileName(name.c_str());
    if (!m_phonebook.Load(true)) {
        const std::string text = std::string(m_translator.GetText(7, "Unable to open Phonebookfile:")) + "\n\n" + name;
        MessageBox(text.c_str(), "Error...", MB_ICONERROR | MB_SETFOREGROUND);
    }
    for (auto& [kind, page] : m_pages) page->RefillList();
}

void CMainDlg::OnSavePhonebookAs() {
    const std::filesystem::path folder = std::filesystem::current_path();
    wxFileDialog dialog(View(), "Save phonebook As", "", "", "Phonebook file (*.Pb)|*.Pb", wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    const bool chosen = dialog.ShowModal() == wxID_OK;
    std::error_code ec;
    std::filesystem::current_path(folder, ec);
    if (!chosen) return;
    std::string name = dialog.GetPath().utf8_string();
    if (std::filesystem::path(name).filename().string().find('.') == std::string::npos) name += ".Pb";
    CSettings().SetMainPhoneFile(name.c_str());
    m_phonebook.SetFileName(name.c_str());
    if (!m_phonebook.Save()) {
        const std::string text = std::string(m_translator.GetText(8, "Unable to write Phonebookfile:")) + "\n\n" + name;
        MessageBox(text.c_str(), "Error...", MB_ICONERROR | MB_SETFOREGROUND);
    }
}

LRESULT CMainDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kShownFirst) {
        // Now that the menu bar has its real height, the window fits its face.
        if (View()) View()->GetSizer()->SetSizeHints(View());
        m_logic.StartAutoDial();
        if (Hooks().onShown) Hooks().onShown(*this);
        return 0;
    }
    LRESULT result = 0;
    m_logic.HandleMessage(message, wParam, lParam, result);
    return result;
}

int CMainDlg::MessageBox(const char* text, const char* caption, UINT style) {
    // A start-up message never hides behind the splash.
    CloseSplashNow();
    return AfxMessageBox(GetSafeHwnd(), text, caption, style);
}

wxWindow* CMainDlg::Control(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

CPhonebookPage* CMainDlg::PhonebookPage(int kind) const {
    auto it = m_pages.find(kind);
    return it == m_pages.end() ? nullptr : it->second;
}

int CMainDlg::LibraryWidthChange() const {
    const int w = m_library ? m_library->GetSize().x : kLibraryWidth;
    return w + w / 20;
}

int CMainDlg::ActivePageKind() const {
    if (!m_sheet || m_sheet->GetSelection() == wxNOT_FOUND) return 0;
    auto* page = dynamic_cast<CPhonebookPage*>(m_sheet->GetPage(static_cast<size_t>(m_sheet->GetSelection())));
    return page ? page->Kind() : 0;
}

// CMainDlgView

void CMainDlg::ShowStatusLine(const std::string& text) {
    if (m_statusLine) m_statusLine->SetLabel(wxString::FromUTF8(text.c_str()));
    if (m_statusLine && m_translator.IsDefaultLanguage()) m_statusLine->SetToolTip(wxString::FromUTF8(text.c_str()));
}

void CMainDlg::ShowLinkRates(const std::string& text) {
    if (m_rates) m_rates->SetLabel(wxString::FromUTF8(text.c_str()));
}

void CMainDlg::ShowCpuLoad(const std::string& text) {
    if (m_cpu) m_cpu->SetLabel(wxString::FromUTF8(text.c_str()));
}

void CMainDlg::ShowClipTimes(const std::string& position, const std::string& remaining) {
    if (m_position) m_position->SetLabel(position);
    if (m_remaining) m_remaining->SetLabel(remaining);
}

void CMainDlg::ShowErrorBox(ErrorKind kind, const std::string& text) {
    (kind == kEngineError ? m_engineErrors : m_connectionErrors).Show(GetSafeHwnd(), text);
}

void CMainDlg::SetGuiPriority(bool idle) {
    // While audio flows the window yields to the engine's worker.
    SetThreadPriority(GetCurrentThread(), idle ? THREAD_PRIORITY_IDLE : THREAD_PRIORITY_NORMAL);
}

void CMainDlg::AcceptDroppedFiles(bool accept) {
    CDialog::DragAcceptFiles(m_library, accept);
    if (m_libraryBox) m_libraryBox->Logic().SetDragEnabled(accept);
}

void CMainDlg::ShowMenus(const MainMenuState& m) {
    if (!m_menuBar) return;
    const bool tops[] = {m.file, m.view, m.play, m.settings, m.help};
    for (size_t i = 0; i < 5; ++i) m_menuBar->EnableTop(i, tops[i]);
    m_menuBar->Enable(MenuIdOf(MainCommand::kOpenPhonebook), m.openPhonebook);
    m_menuBar->Enable(MenuIdOf(MainCommand::kSavePhonebookAs), m.savePhonebook);
    m_menuBar->Enable(MenuIdOf(MainCommand::kHelp), m.helpItem);
    m_menuBar->Enable(MenuIdOf(MainCommand::kShowLibrary), m.showLibrary);
    m_menuBar->Enable(MenuIdOf(MainCommand::kPlay), m.playItem);
    m_menuBar->Enable(MenuIdOf(MainCommand::kPause), m.pauseItem);
    m_menuBar->Enable(MenuIdOf(MainCommand::kStop), m.stopItem);
    m_menuBar->Enable(MenuIdOf(MainCommand::kPrevious), m.previousNext);
    m_menuBar->Enable(MenuIdOf(MainCommand::kNext), m.previousNext);
    if (!m_miniIsdn) {
        m_menuBar->Enable(MenuIdOf(MainCommand::kViewNetwork), true);
        m_menuBar->Enable(MenuIdOf(MainCommand::kViewMulticast), true);
    } else {
        m_menuBar->Enable(MenuIdOf(MainCommand::kViewNetwork), false);
        m_menuBar->Enable(MenuIdOf(MainCommand::kViewMulticast), false);
    }
}

void CMainDlg::ShowPlayerControls(const PlayerControls& c) {
    auto enable = [this](int id, bool on) {
        if (wxWindow* w = Control(id); w && w->IsEnabled() != on) w->Enable(on);
    };
    enable(MainControl::kLibraryList, c.list);
    enable(MainControl::kFileLevel, c.trackbar);
    enable(MainControl::kCloseLibrary, c.closeLibrary);
    enable(MainControl::kAdd, c.add);
    enable(MainControl::kRemove, c.remove);
    enable(MainControl::kPlay, c.play);
    enable(MainControl::kPause, c.pause);
    enable(MainControl::kStop, c.stop);
    if (auto it = m_buttons.find(MainControl::kPlay); it != m_buttons.end()) {
        it->second->SetIcon(c.playShowsActive ? FaceIcon::kPlaying : FaceIcon::kPlay, !c.playShowsActive);
    }
    if (auto it = m_buttons.find(MainControl::kPause); it != m_buttons.end()) {
        it->second->SetIcon(c.pauseShowsPaused ? FaceIcon::kPaused : FaceIcon::kPause, true);
    }
    if (View()) {
        const long style = View()->GetWindowStyleFlag();
        const long wanted = c.minimizeBox ? style | wxMINIMIZE_BOX : style & ~wxMINIMIZE_BOX;
        if (wanted != style) View()->SetWindowStyleFlag(wanted);
    }
}

void CMainDlg::EnableTabs(bool enable) {
    // The sheet's tabs, not its pages: a disabled sheet would disable the
    // current page with its Stop button, so the sheet refuses a change of
    // page instead and only the other pages are disabled.
    if (!m_sheet) return;
    m_tabsEnabled = enable;
    for (size_t i = 0; i < m_sheet->GetPageCount(); ++i) {
        if (m_sheet->GetSelection() != static_cast<int>(i)) m_sheet->GetPage(i)->Enable(enable);
    }
}

void CMainDlg::SelectPage(int kind) {
    const int index = PageIndexOfKind(kind, m_miniIsdn);
    if (!m_sheet || index < 0 || index >= static_cast<int>(m_sheet->GetPageCount())) return;
    if (m_sheet->GetSelection() != index) m_sheet->ChangeSelection(static_cast<size_t>(index));
    SetPageColours(kind, true);
    for (int k : {32, 16, 128}) {
        if (m_menuBar) m_menuBar->Check(MenuIdOf(ViewCommandOfKind(k)), k == kind);
    }
}

void CMainDlg::ShowLibraryPanel(bool shown) {
    if (!m_library || !View() || m_library->IsShown() == shown) {
        if (m_menuBar) m_menuBar->Check(MenuIdOf(MainCommand::kShowLibrary), shown);
        return;
    }
    m_library->Show(shown);
    m_libraryGap->Show(shown);
    if (shown && m_libraryBox) m_libraryBox->Logic().Reselect();
    if (m_menuBar) m_menuBar->Check(MenuIdOf(MainCommand::kShowLibrary), shown);
    // The window takes the width of its face: the panel and its gap more or less.
    m_root->Layout();
    View()->GetSizer()->SetSizeHints(View());
    // The keys must still reach the window when the focus was in the panel.
    if (!shown && m_sheet) m_sheet->SetFocus();
}

void CMainDlg::ArmTimer(UINT_PTR id, UINT ms) { SetTimer(GetSafeHwnd(), id, ms); }
void CMainDlg::StopTimer(UINT_PTR id) { KillTimer(GetSafeHwnd(), id); }

CMainPage* CMainDlg::Page(int kind) {
    auto it = m_pages.find(kind);
    return it == m_pages.end() ? nullptr : it->second;
}

bool CMainDlg::FindPhonebookEntry(const char* name, int kind, PhonebookEntry& out) {
    const PhonebookEntry* entry = m_phonebook.FindEntry(name, kind);
    if (!entry) return false;
    out = *entry;
    return true;
}

bool CMainDlg::LibraryHasSelection() { return m_libraryBox && m_libraryBox->Logic().HasSelection(); }
std::string CMainDlg::SelectedClipPath() {
    return m_libraryBox ? m_libraryBox->Logic().GetSelectedClipPath() : std::string();
}
void CMainDlg::LibrarySelectNext() {
    if (m_libraryBox) m_libraryBox->Logic().SelectNext();
}
int CMainDlg::LibraryTakeSelection() {
    return m_libraryBox && m_libraryList ? m_libraryBox->Logic().TakeSelection(m_libraryList->GetSelection()) : 0;
}
int CMainDlg::LibrarySelectEntry(int n) { return m_libraryBox ? m_libraryBox->Logic().SelectEntry(n) : 0; }
int CMainDlg::LibrarySelectPrevious() { return m_libraryBox ? m_libraryBox->Logic().SelectPrevious() : 0; }
void CMainDlg::LibraryBrowseAndImport() {
    if (m_libraryBox) m_libraryBox->BrowseAndImport();
}
void CMainDlg::LibraryRemoveSelected() {
    if (m_libraryBox) m_libraryBox->Logic().RemoveSelected();
}

CMainDlgView::BandwidthAnswer CMainDlg::RunBandwidthDialog(int limit, int receive, int send) {
    CBandwidthDlg dialog;
    dialog.SetColours(kStandardDialogColours);
    dialog.SetServer(m_rip.get());
    dialog.SetFigures(limit, receive, send);
    dialog.DoModal();
    switch (dialog.Answer()) {
        case CBandwidthLogic::kContinue: return kBandwidthContinue;
        case CBandwidthLogic::kTestAgain: return kBandwidthTestAgain;
        default: return kBandwidthDisconnect;
    }
}
