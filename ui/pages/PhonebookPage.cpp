#include "ui/pages/PhonebookPage.h"

#include <wx/dcmemory.h>
#include <wx/imaglist.h>
#include <wx/listctrl.h>
#include <wx/msgdlg.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <vector>

#include "common/MainWindowMessages.h"
#include "common/Phonebook.h"
#include "common/Settings.h"
#include "platform/Clock.h"
#include "ui/ColorListCtrl.h"
#include "ui/ColourTriple.h"
#include "ui/HoverButton.h"
#include "ui/ImageButton.h"
#include "ui/IndicatorLight.h"
#include "ui/LevelMeter.h"
#include "ui/ResourceBitmaps.h"
#include "ui/NumberRequestDlg.h"
#include "ui/SelectDeviceDlg.h"
#include "ui/StatusPanel.h"
#include "ui/destinations/DestinationDialogs.h"
#include "ui/framework/MessageBox.h"
#include "ui/pages/ListSearch.h"

namespace {

// Panel ids of each kind's selection and connection panels; 0 where the
// page has none.
struct PanelIds {
    int selName, selFirst, selSecond, selFormat, selAuto, direction, activity;
    int conName, conFirst, conSecond, rxFormat, txFormat;
};

const PanelIds& PanelIdsOf(int kind) {
    static const PanelIds kIsdn = {2018, 2019, 2020, 2021, 2239, 0, 0, 2005, 2022, 2004, 2008, 2010};
    static const PanelIds kNetwork = {3009, 3010, 3011, 3012, 3235, 0, 0, 3028, 3026, 3027, 3030, 3032};
    static const PanelIds kMulticast = {4009, 4010, 4011, 4012, 0, 4028, 4031, 4027, 4013, 4026, 4030, 0};
    return kind == TRANSPORT_ISDN ? kIsdn : kind == TRANSPORT_MULTICAST ? kMulticast : kNetwork;
}

constexpr int kQuickHangUp = 2023, kQuickPhone = 2024, kQuickG722 = 2025, kQuickMp2 = 2026;
constexpr int kPanelWidth = 250;

CPhonebookPage::DestinationDialog& DialogHook() {
    static CPhonebookPage::DestinationDialog hook;
    return hook;
}

wxColour Colour(COLORREF c) { return WxColour(c); }

}  // namespace

void CPhonebookPage::SetDestinationDialog(DestinationDialog dialog) { DialogHook() = std::move(dialog); }

CPhonebookPage::CPhonebookPage(wxWindow* parent, int kind, HWND mainWindow, CPhonebook* phonebook, bool miniIsdn)
    : wxPanel(parent, wxID_ANY), m_logic(kind, *this, m_translator), m_mainWindow(mainWindow), m_phonebook(phonebook) {
    m_translator.SetSection(2);
    m_logic.SetMiniIsdn(miniIsdn);
    m_logic.SetPhonebook(phonebook);
    Build();
    m_logic.Start();
}

CPhonebookPage::~CPhonebookPage() { delete m_images; }

wxWindow* CPhonebookPage::Remember(int id, wxWindow* window) {
    m_controls[id] = window;
    return window;
}

wxWindow* CPhonebookPage::Control(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

CStatusPanel* CPhonebookPage::Panel(int id, bool heading, int width) {
    const PageTraits& t = m_logic.Traits();
    auto* panel = new CStatusPanel(this, id, "", wxDefaultPosition, wxSize(width, -1));
    panel->SetAll(nullptr, heading ? t.heading : t.value, t.panel, heading ? 700 : 400);
    if (id) Remember(id, panel);
    return panel;
}

CHoverButton* CPhonebookPage::Button(int id, const char* caption, int width) {
    const PageTraits& t = m_logic.Traits();
    auto* button = new CHoverButton(this, id, wxString::FromUTF8(caption), wxDefaultPosition, wxSize(width, 26));
    button->SetColours(t.buttonText, t.hover, t.panel);
    Remember(id, button);
    return button;
}

void CPhonebookPage::Build() {
    const PageTraits& t = m_logic.Traits();
    const PanelIds& ids = PanelIdsOf(t.kind);
    CTranslator& tr = m_translator;
    SetBackgroundColour(Colour(t.gradientBase));
    auto* row = new wxBoxSizer(wxHORIZONTAL);

    // The list column: search, list, editing buttons.
    auto* left = new wxBoxSizer(wxVERTICAL);
    m_search = new wxTextCtrl(this, t.search, "", wxDefaultPosition, wxSize(180, -1));
    m_search->SetToolTip("Type the first letters of the destination you are searching for");
    Remember(t.search, m_search);
    left->Add(m_search, 0, wxEXPAND | wxBOTTOM, 4);
    m_list = new CColorListCtrl(this, t.list, wxDefaultPosition, wxSize(180, 150));
    m_list->Init(t.heading, t.panel);
    m_images = new wxImageList(16, 16, true, 3);
    for (COLORREF c : {0x00AA00u, 0x0000CCu, 0xCC6600u}) {  // both ways, transmit, receive
        wxBitmap dot(16, 16);
        {
            wxMemoryDC dc(dot);
            dc.SetBackground(*wxWHITE_BRUSH);
            dc.Clear();
            dc.SetBrush(wxBrush(Colour(c)));
            dc.DrawCircle(8, 8, 5);
        }
        m_images->Add(dot, *wxWHITE);
    }
    m_list->SetImageList(m_images, wxIMAGE_LIST_SMALL);
    Remember(t.list, m_list);
    left->Add(m_list, 1, wxEXPAND | wxBOTTOM, 4);
    auto* edits = new wxBoxSizer(wxHORIZONTAL);
    const struct {
        int id, line;
        const char* text;
        const char* tip;
    } editButtons[] = {{t.add, 2, "Add", "Add a new destination to the phonebook"},
                       {t.copy, 3, "Copy", "Make a copy of the selected destination"},
                       {t.edit, 4, "Edit", "Edit the selected destination"},
                       {t.remove, 5, "Delete", "Remove the selected destination from the phonebook"}};
    for (const auto& b : editButtons) {
        CHoverButton* button = Button(b.id, tr.GetSectionText(0, b.line, b.text), 44);
        button->SetToolTip(b.tip);
        edits->Add(button, 1, b.id == t.add ? 0 : wxLEFT, 2);
    }
    left->Add(edits, 0, wxEXPAND);
    row->Add(left, 0, wxEXPAND | wxALL, 8);

    // The panels column.
    auto* right = new wxBoxSizer(wxVERTICAL);
    for (int id : {ids.selName, ids.selFirst, ids.selSecond, ids.selFormat, ids.selAuto, ids.direction})
        if (id) right->Add(Panel(id, id == ids.selName, kPanelWidth), 0, wxEXPAND | wxBOTTOM, 1);
    right->AddSpacer(6);
    for (int id : {ids.conName, ids.conFirst, ids.conSecond, ids.rxFormat, ids.txFormat, ids.activity})
        if (id) right->Add(Panel(id, id == ids.conName, kPanelWidth), 0, wxEXPAND | wxBOTTOM, 1);
    right->AddSpacer(6);
    const char* selectCaption = tr.GetSectionText(0, 7, "Select");
    for (bool input : {true, false}) {
        auto* line = new wxBoxSizer(wxHORIZONTAL);
        line->Add(Panel(input ? t.inputName : t.outputName, false, kPanelWidth - 64), 1, wxALIGN_CENTER_VERTICAL);
        CHoverButton* select = Button(input ? t.selectInput : t.selectOutput, selectCaption, 60);
        select->SetToolTip(input ? "Change the input/recording device" : "Change the output/playback device");
        line->Add(select, 0, wxLEFT, 4);
        right->Add(line, 0, wxEXPAND | wxBOTTOM, 2);
    }
    m_inputSlider = new wxSlider(this, t.inputSlider, 0, 0, 100, wxDefaultPosition, wxSize(kPanelWidth / 2 - 2, -1));
    m_inputSlider->SetToolTip("Input/recording level");
    m_outputSlider = new wxSlider(this, t.outputSlider, CSettings().GetPlayLevel(), -30, 0, wxDefaultPosition,
                                  wxSize(kPanelWidth / 2 - 2, -1));
    m_outputSlider->SetToolTip("Output/playback level");
    Remember(t.inputSlider, m_inputSlider);
    Remember(t.outputSlider, m_outputSlider);
    auto* sliders = new wxBoxSizer(wxHORIZONTAL);
    sliders->Add(m_inputSlider, 1);
    sliders->Add(m_outputSlider, 1, wxLEFT, 4);
    right->Add(sliders, 0, wxEXPAND);
    row->Add(right, 1, wxEXPAND | wxTOP | wxBOTTOM, 8);

    // Meter, indicators and Connect/Stop.
    auto* meterColumn = new wxBoxSizer(wxVERTICAL);
    m_meter = new CLevelMeter(this, t.meter, wxDefaultPosition, wxDefaultSize, t.meterBars,
                              [] { return static_cast<uint32_t>(timeGetTime()); });
    m_meter->SetColours(t.panel, t.value);
    m_meter->SetMinSize(m_meter->GetBestSize());
    Remember(t.meter, m_meter);
    meterColumn->Add(m_meter, 1, wxALIGN_CENTER_HORIZONTAL | wxBOTTOM, 4);
    auto* lights = new wxBoxSizer(wxHORIZONTAL);
    // The multicast page's one light serves both directions (the same id).
    for (int id : {t.receiveIndicator, t.transmitIndicator}) {
        if (Control(id)) continue;
        auto* light = new CIndicatorLight(this, id, t.gradientBase);
        Remember(id, light);
        lights->Add(light, 0, wxLEFT | wxRIGHT, 3);
    }
    meterColumn->Add(lights, 0, wxALIGN_CENTER_HORIZONTAL | wxBOTTOM, 4);
    m_connect = Button(t.connect, tr.GetSectionText(0, t.idleLine, t.idleText), 90);
    if (t.kind == TRANSPORT_MULTICAST)
        m_connect->SetToolTip("Connect with the selected multicast destination");
    else
        m_connect->SetToolTip("Connect to the selected destination");
    meterColumn->Add(m_connect, 0, wxEXPAND);
    if (t.kind == TRANSPORT_ISDN) {
        const struct {
            int id, bitmap;
            const char* caption;
            const char* tip;
        } quick[] = {{kQuickPhone, 146, "Phone", "Make a telephone connection"},
                     {kQuickG722, 147, "G.722", "Connect to a G.722 device like a Glensound"},
                     {kQuickMp2, 148, "MP2", "Connect to an MP2 device like a CDQ Prima"},
                     {kQuickHangUp, 115, "Hang up", "Disconnect"}};
        for (const auto& q : quick) {
            auto* b = new CImageButton(this, q.id, 0, q.caption, wxDefaultPosition, wxSize(90, 28));
            b->SetImageColours(t.heading, t.hover, t.panel, 700);
            b->SetBitmap(q.bitmap, kBitmapTransparent);
            Remember(q.id, b);
            b->SetToolTip(q.tip);
            meterColumn->Add(b, 0, wxEXPAND | wxTOP, 2);
            b->Show(m_logic.IsMiniIsdn());
            b->Bind(wxEVT_BUTTON, [this, id = q.id](wxCommandEvent&) { OnQuickButton(id); });
        }
        if (m_logic.IsMiniIsdn()) {
            for (wxWindow* w : {static_cast<wxWindow*>(m_list), static_cast<wxWindow*>(m_search)}) w->Hide();
            for (int id : {t.add, t.copy, t.edit, t.remove, t.connect, t.selectInput, t.selectOutput, t.inputSlider,
                           t.outputSlider, t.inputName, t.outputName, ids.selName, ids.selFirst, ids.selSecond,
                           ids.selFormat, ids.selAuto})
                if (wxWindow* w = Control(id)) w->Hide();
            SetBackgroundColour(Colour(t.hover));
        }
    }
    row->Add(meterColumn, 0, wxEXPAND | wxALL, 8);
    SetSizer(row);

    // Handlers.
    m_search->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { m_logic.OnSearchChanged(m_search->GetValue().utf8_string()); });
    m_list->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent&) {
        if (!m_filling) m_logic.OnSelectionChanged();
    });
    m_list->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { m_logic.OnDoubleClick(); });
    Bind(wxEVT_BUTTON, [this, t](wxCommandEvent& e) {
        const int id = e.GetId();
        if (id == t.add) m_logic.OnAdd();
        else if (id == t.copy) m_logic.OnCopy();
        else if (id == t.edit) m_logic.OnEdit();
        else if (id == t.remove) m_logic.OnDelete();
        else if (id == t.connect) m_logic.OnConnectPressed();
        else if (id == t.selectInput) m_logic.OnSelectDevice(true);
        else if (id == t.selectOutput) m_logic.OnSelectDevice(false);
        else e.Skip();
    });
    m_inputSlider->Bind(wxEVT_SLIDER, [this](wxCommandEvent&) {
        SendToMain(WM_SET_INPUT_VOLUME, static_cast<WPARAM>(m_inputSlider->GetValue()));
    });
    m_outputSlider->Bind(wxEVT_SLIDER, [this](wxCommandEvent&) {
        SendToMain(WM_SET_PLAY_LEVEL, static_cast<WPARAM>(m_outputSlider->GetValue()));
    });
}

void CPhonebookPage::SetTransports(int mask) {
    m_logic.SetAvailableTransports(mask);
    m_logic.OnCallState(m_logic.CallState(), 0);  // the not-available text and the button
}

void CPhonebookPage::ShowReceiveFormat(const std::string& text) {
    const PanelIds& ids = PanelIdsOf(Kind());
    static_cast<CStatusPanel*>(Control(ids.rxFormat))->SetText(wxString::FromUTF8(text.c_str()));
}

void CPhonebookPage::ShowTransmitFormat(const std::string& text) {
    const PanelIds& ids = PanelIdsOf(Kind());
    const int id = ids.txFormat ? ids.txFormat : ids.rxFormat;
    static_cast<CStatusPanel*>(Control(id))->SetText(wxString::FromUTF8(text.c_str()));
}

void CPhonebookPage::ShowIndicator(int id, int value) {
    auto* light = static_cast<CIndicatorLight*>(Control(id));
    if (!light) return;
    switch (value) {
        case 0: light->SetState(false, 1); break;
        case 16:
            light->SetState(true, 1);
            light->StartBlinking();
            break;
        case 32: light->SetState(true, 2); break;
        default: break;
    }
}

void CPhonebookPage::ShowRxIndicator(int value) { ShowIndicator(m_logic.Traits().receiveIndicator, value); }
void CPhonebookPage::ShowTxIndicator(int value) { ShowIndicator(m_logic.Traits().transmitIndicator, value); }

void CPhonebookPage::ShowIndicators(int receive, int transmit) {
    ShowRxIndicator(receive);
    ShowTxIndicator(transmit);
}

void CPhonebookPage::ShowLevels(const int* levels, int count) { m_meter->SetLevels(levels, count); }

void CPhonebookPage::SetDeviceNames(const std::string& input, const std::string& output, int) {
    m_logic.SetInputDeviceName(input);
    m_logic.SetOutputDeviceName(output);
}

void CPhonebookPage::SetInputLevel(int level) {
    m_inputSlider->SetValue(level);
}

void CPhonebookPage::SetPlayLevel(int dB) { m_outputSlider->SetValue(dB); }

// CPhonebookPageView

void CPhonebookPage::DeleteAllItems() { m_list->DeleteAllItems(); }

void CPhonebookPage::InsertItemAtTop(const char* name, int image) {
    m_list->InsertItem(0, wxString::FromUTF8(name), image);
}

const char* CPhonebookPage::GetSelectionMarkText() {
    const long item = m_list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
    if (item < 0) return nullptr;
    m_markText = m_list->GetItemText(item).utf8_string();
    return m_markText.c_str();
}

bool CPhonebookPage::SelectListItem(const std::string& text, bool prefix) {
    std::vector<std::string> names;
    for (long i = 0; i < m_list->GetItemCount(); ++i) names.push_back(m_list->GetItemText(i).utf8_string());
    const int index = FindListName(names, text, prefix);
    if (index < 0) return false;
    m_filling = true;  // the logic runs the selection change itself
    m_list->SetItemState(index, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                         wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    m_list->EnsureVisible(index);
    m_filling = false;
    return true;
}

void CPhonebookPage::EnableControl(PageControl control, bool on) {
    const PageTraits& t = m_logic.Traits();
    int id = 0;
    switch (control) {
    case PageControl::List: id = t.list; break;
    case PageControl::Search: id = t.search; break;
    case PageControl::Add: id = t.add; break;
    case PageControl::Copy: id = t.copy; break;
    case PageControl::Edit: id = t.edit; break;
    case PageControl::Delete: id = t.remove; break;
    case PageControl::Connect: id = t.connect; break;
    case PageControl::SelectInput: id = t.selectInput; break;
    case PageControl::SelectOutput: id = t.selectOutput; break;
    case PageControl::QuickPhone: id = kQuickPhone; break;
    case PageControl::QuickG722: id = kQuickG722; break;
    case PageControl::QuickMp2: id = kQuickMp2; break;
    case PageControl::QuickHangUp: id = kQuickHangUp; break;
    }
    if (wxWindow* w = Control(id)) {
        w->Enable(on);
        w->Refresh();
    }
}

void CPhonebookPage::ShowConnectFace(bool connected) {
    const PageTraits& t = m_logic.Traits();
    // A call disables the list and the tab sheet, which drops the keyboard;
    // the panel around the sheet takes it, so Escape still reaches the window.
    if (connected && GetParent() && GetParent()->GetParent()) GetParent()->GetParent()->SetFocus();
    m_connect->SetCaption(wxString::FromUTF8(connected ? m_translator.GetSectionText(0, t.busyLine, t.busyText)
                                                       : m_translator.GetSectionText(0, t.idleLine, t.idleText)));
}

void CPhonebookPage::ShowSelection(const SelectionTexts& s) {
    const PanelIds& ids = PanelIdsOf(Kind());
    const std::pair<int, const std::string*> lines[] = {{ids.selName, &s.name},     {ids.selFirst, &s.first},
                                                        {ids.selSecond, &s.second}, {ids.selFormat, &s.format},
                                                        {ids.selAuto, &s.autoReconnect}, {ids.direction, &s.direction},
                                                        {ids.activity, &s.activity}};
    for (const auto& [id, text] : lines)
        if (id) static_cast<CStatusPanel*>(Control(id))->SetText(wxString::FromUTF8(text->c_str()));
}

void CPhonebookPage::ShowConnectionName(const std::string& text) {
    static_cast<CStatusPanel*>(Control(PanelIdsOf(Kind()).conName))->SetText(wxString::FromUTF8(text.c_str()));
}

void CPhonebookPage::ShowConnectionLines(const ConnectionLines& lines) {
    const PanelIds& ids = PanelIdsOf(Kind());
    static_cast<CStatusPanel*>(Control(ids.conFirst))->SetText(wxString::FromUTF8(lines.first.c_str()));
    static_cast<CStatusPanel*>(Control(ids.conSecond))->SetText(wxString::FromUTF8(lines.second.c_str()));
}

void CPhonebookPage::SetMeterActive(bool active) { m_meter->SetActive(active); }

void CPhonebookPage::ShowDeviceNames(const std::string& input, const std::string& output) {
    const PageTraits& t = m_logic.Traits();
    static_cast<CStatusPanel*>(Control(t.inputName))->SetText(wxString::FromUTF8(input.c_str()));
    static_cast<CStatusPanel*>(Control(t.outputName))->SetText(wxString::FromUTF8(output.c_str()));
}

void CPhonebookPage::SendToMain(UINT message, WPARAM wParam) {
    SendMessage(m_mainWindow, message, wParam, static_cast<LPARAM>(Kind()));
}

bool CPhonebookPage::RunDestinationDialog(const PhonebookEntry* entry, PhonebookEntry& out) {
    if (DialogHook()) return DialogHook()(this, Kind(), m_phonebook, entry, out);
    return RunDestinationDialogFor(this, Kind(), m_phonebook, entry, PageTraitsOf(Kind()), out);
}

// Phone, G.722 and MP2 ask for the number to dial first; Hang up asks nothing.
void CPhonebookPage::OnQuickButton(int id) {
    if (id == kQuickHangUp || !m_logic.IsMiniIsdn()) {
        m_logic.OnQuickButton(id, "", "");
        return;
    }
    CNumberRequestDlg dialog;
    dialog.SetKind(id == kQuickPhone ? 2 : id == kQuickG722 ? 8 : 32);
    dialog.SetColors(DialogColoursOf(m_logic.Traits()));
    if (dialog.DoModal() != IDOK) return;
    char numbers[2][40] = {};
    dialog.GetNumber(0, numbers[0], sizeof numbers[0]);
    dialog.GetNumber(1, numbers[1], sizeof numbers[1]);
    m_logic.OnQuickButton(id, numbers[0], numbers[1]);
}

bool CPhonebookPage::RunDeviceDialog(int direction) {
    return CSelectDeviceDlg::Choose(direction, DialogColoursOf(PageTraitsOf(Kind()))) != IDCANCEL;
}

bool CPhonebookPage::Confirm(const std::string& text) {
    return AfxMessageBox(m_mainWindow, text.c_str(), "Velmora", MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) == IDYES;
}

void CPhonebookPage::ShowError(const std::string& text) {
    AfxMessageBox(m_mainWindow, text.c_str(), m_translator.GetSectionText(CTranslator::kErrorSection, 0, "Error..."),
                  MB_ICONERROR | MB_SETFOREGROUND);
}
