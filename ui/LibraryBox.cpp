#include "ui/LibraryBox.h"

#include <wx/listbox.h>

#include <algorithm>
#include <filesystem>

#include "common/MainWindowMessages.h"
#include "common/Settings.h"
#include "ui/ExplorerFileDialog.h"
#include "ui/ImportProgressDlg.h"
#include "ui/StatusPanel.h"
#include "ui/framework/MessageBox.h"

namespace {

constexpr char kFilter[] = "Audio file (*.Wav;*.Mp2;*.Mp3)|*.Wav;*.Mp2;*.Mp3|All files (*.*)|*.*||";

// Settings written on Windows may carry its separators.
std::string SlashedPath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

}  // namespace

CLibraryBox::CLibraryBox() {
    m_timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { m_logic.OnImportTimer(); });
}

CLibraryBox::~CLibraryBox() {
    m_timer.Stop();
    if (m_list) CSettings().SetLibrarySelection(m_logic.SelectedSlot());
    CloseProgress();
    HideDragLabel();
}

int CLibraryBox::Init(HWND owner, wxListBox* list) {
    if (!list) return 0;
    m_owner = owner;
    m_list = list;
    m_list->Bind(wxEVT_MOTION, &CLibraryBox::OnMouse, this);
    m_list->Bind(wxEVT_LEFT_UP, &CLibraryBox::OnMouse, this);
    const CSettings settings;
    m_logic.Init(SlashedPath(settings.GetLibraryLocation()), settings.GetLibrarySelection(),
                 settings.GetMainFastCPU() != 0);
    return 1;
}

void CLibraryBox::ReloadLocation() {
    const CSettings settings;
    m_logic.SetFastCpu(settings.GetMainFastCPU() != 0);
    m_logic.ReloadLocation(SlashedPath(settings.GetLibraryLocation()));
}

void CLibraryBox::BrowseAndImport() {
    const CSettings settings;
    CExplorerFileDialog dialog(true, "*.Wav", "*.Wav", kFilter);
    dialog.AllowMultiple();
    dialog.SetInitialDir(SlashedPath(settings.GetLibraryAudioLocation()));
    if (dialog.DoModal(m_list ? m_list->GetParent() : nullptr) != 1) return;
    const std::vector<std::string>& paths = dialog.Paths();
    if (paths.empty() || paths.front().empty()) return;
    settings.SetLibraryAudioLocation(std::filesystem::path(paths.front()).parent_path().string().c_str());
    for (const std::string& p : paths) m_logic.QueueFile(p);
    m_logic.ImportNext();
}

void CLibraryBox::ImportDropped(const std::vector<std::string>& names) {
    // The dropped files are queued from the last to the first.
    for (auto it = names.rbegin(); it != names.rend(); ++it) m_logic.QueueFile(*it);
    m_logic.ImportNext();
}

void CLibraryBox::ShowEntries(const std::vector<std::string>& texts) {
    if (!m_list) return;
    wxArrayString rows;
    for (const std::string& t : texts) {
        // The list shows no tab stops: the number keeps its two places.
        std::string row = t;
        std::replace(row.begin(), row.end(), '\t', ' ');
        rows.Add(wxString::FromUTF8("  " + row));
    }
    m_list->Set(rows);
}

void CLibraryBox::SelectRow(int row) {
    if (!m_list) return;
    if (row < 0 || row >= static_cast<int>(m_list->GetCount())) {
        m_list->SetSelection(wxNOT_FOUND);
    } else {
        m_list->SetSelection(row);
        m_list->EnsureVisible(row);
    }
}

void CLibraryBox::NotifyOwner() {
    if (m_owner) PostMessage(m_owner, WM_LIBRARY_CHANGED, 0, 0);
}

void CLibraryBox::ArmImportTimer(int ms) { m_timer.Start(ms); }

void CLibraryBox::StopImportTimer() { m_timer.Stop(); }

bool CLibraryBox::OpenProgress(const std::string& caption, const std::string& fileName) {
    CloseProgress();
    wxWindow* parent = m_list ? wxGetTopLevelParent(m_list) : nullptr;
    m_progress = new CImportProgressDlg(parent);
    m_progress->SetTitle(wxString::FromUTF8(caption));
    m_progress->SetFileName(fileName);
    m_progress->Show();
    return true;
}

bool CLibraryBox::SetProgress(int percent) { return m_progress ? m_progress->SetProgress(percent) : true; }

void CLibraryBox::CloseProgress() {
    if (!m_progress) return;
    m_progress->Destroy();
    m_progress = nullptr;
}

void CLibraryBox::ShowDragLabel(const std::string& text) {
    HideDragLabel();
    wxWindow* panel = m_list->GetParent();
    const int height = m_list->GetCharHeight() + 2;
    m_label = new CStatusPanel(panel, wxID_ANY, wxString::FromUTF8(text), wxDefaultPosition,
                               wxSize(m_list->GetClientSize().x, height));
    m_label->SetAll(nullptr, 0x000000, 0xDDDDDD, 400);
    MoveDragLabel();
    m_label->Raise();
    m_label->Show();
}

void CLibraryBox::MoveDragLabel() {
    if (!m_label) return;
    const wxPoint at = m_list->GetPosition();
    const int y = std::clamp(m_pointer.y + 3, 0, std::max(0, m_list->GetClientSize().y - m_label->GetSize().y));
    m_label->Move(at.x, at.y + y);
    m_label->Refresh();
}

void CLibraryBox::HideDragLabel() {
    if (!m_label) return;
    m_label->Destroy();
    m_label = nullptr;
}

int CLibraryBox::MessageBox(const char* text, const char* caption, UINT style) {
    return AfxMessageBox(m_owner, text, caption, style);
}

int CLibraryBox::RowAt(const wxPoint& p) const {
    if (!wxRect(m_list->GetClientSize()).Contains(p)) return CLibraryBoxLogic::kOutside;
    const int row = m_list->HitTest(p);
    return row == wxNOT_FOUND ? -1 : row;
}

void CLibraryBox::OnMouse(wxMouseEvent& e) {
    e.Skip();  // the list's own handling first
    m_pointer = e.GetPosition();
    if (e.GetEventType() == wxEVT_LEFT_UP) {
        m_logic.OnDragRelease(RowAt(m_pointer));
    } else if (e.LeftIsDown()) {
        m_logic.OnDragMove(RowAt(m_pointer));
    }
}
