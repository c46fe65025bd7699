#pragma once
// The audio library box on the main window: the window's list control shown
// through CLibraryBoxLogic, its import timer, the progress dialog, the drag
// label of a reordering and the dropped files of the library panel.
//
// Threads: GUI thread only.
#include <wx/timer.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/WindowMessages.h"
#include "ui/LibraryBoxLogic.h"

class wxListBox;
class wxWindow;
class wxMouseEvent;
class CImportProgressDlg;
class CStatusPanel;

class CLibraryBox : private CLibraryBoxView {
public:
    CLibraryBox();
    ~CLibraryBox() override;

    // Takes over the owner's list; reads the folder and the saved selection
    // from the settings and lists. 0 without a list.
    int Init(HWND owner, wxListBox* list);
    void ReloadLocation();
    // The Add button: the file dialog, then the chosen files are imported.
    void BrowseAndImport();
    // Files dropped on the library panel, in the order the drop gave them.
    void ImportDropped(const std::vector<std::string>& names);

    CLibraryBoxLogic& Logic() { return m_logic; }
    CImportProgressDlg* ProgressDialog() const { return m_progress; }
    CStatusPanel* DragLabel() const { return m_label; }
    // The import's ticks, which a test may hold while it looks at the dialog.
    wxTimer& ImportTimer() { return m_timer; }

private:
    // CLibraryBoxView
    void ShowEntries(const std::vector<std::string>& texts) override;
    void SelectRow(int row) override;
    void NotifyOwner() override;
    void ArmImportTimer(int ms) override;
    void StopImportTimer() override;
    bool OpenProgress(const std::string& caption, const std::string& fileName) override;
    bool SetProgress(int percent) override;
    void CloseProgress() override;
    void ShowDragLabel(const std::string& text) override;
    void MoveDragLabel() override;
    void HideDragLabel() override;
    int MessageBox(const char* text, const char* caption, UINT style) override;

    void OnMouse(wxMouseEvent& e);
    int RowAt(const wxPoint& p) const;

    CLibraryBoxLogic m_logic{*this};
    HWND m_owner = nullptr;
    wxListBox* m_list = nullptr;
    wxTimer m_timer;
    CImportProgressDlg* m_progress = nullptr;
    CStatusPanel* m_label = nullptr;
    wxPoint m_pointer;
};
