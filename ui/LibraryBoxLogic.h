#pragma once
// The audio library box without any toolkit: the list of clips in slot
// order, the selected slot, the import queue driven by a timer, removal and
// drag-and-drop reordering. The view shows what it is told and feeds back
// the operator's clicks, drops and timer ticks.
//
// Threads: GUI thread only.
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "common/Translator.h"
#include "ui/ClipImport.h"
#include "ui/LibraryFolder.h"

class CLibraryBoxView : public CTranslatorWindow {
public:
    // The rows of the list, top to bottom ("%2d\t%s": slot and title).
    virtual void ShowEntries(const std::vector<std::string>& texts) = 0;
    virtual void SelectRow(int row) = 0;  // -1: none
    // WM_LIBRARY_CHANGED to the owner.
    virtual void NotifyOwner() = 0;
    virtual void ArmImportTimer(int ms) = 0;
    virtual void StopImportTimer() = 0;
    // The modeless progress dialog; Open false when it could not be made.
    virtual bool OpenProgress(const std::string& caption, const std::string& fileName) = 0;
    // False once the operator confirmed the cancel.
    virtual bool SetProgress(int percent) = 0;
    virtual void CloseProgress() = 0;
    // The drag label over the list, and its removal.
    virtual void ShowDragLabel(const std::string& text) = 0;
    virtual void MoveDragLabel() = 0;
    virtual void HideDragLabel() = 0;

    bool SetItemText(int, const char*) override { return false; }
    int AddComboString(int, const char*) override { return -1; }
    bool SetComboItemData(int, int, intptr_t) override { return false; }
    int SelectComboString(int, const char*) override { return -1; }
    bool GetComboSelection(int, std::string&) override { return false; }
};

class CLibraryBoxLogic {
public:
    explicit CLibraryBoxLogic(CLibraryBoxView& view);
    ~CLibraryBoxLogic();
    CLibraryBoxLogic(const CLibraryBoxLogic&) = delete;
    CLibraryBoxLogic& operator=(const CLibraryBoxLogic&) = delete;

    // Takes the folder and the saved selection into use and lists.
    void Init(const std::string& folder, int selectedSlot, bool fastCpu);
    // After the global settings: a new folder is taken and listed.
    void ReloadLocation(const std::string& folder);
    void SetFastCpu(bool fastCpu) { m_fastCpu = fastCpu; }

    // Import: names are queued, first in first out; ImportNext starts the
    // first of them (1) or reports why it could not (0).
    int QueueFile(const std::string& name);
    int ImportNext();
    // The import timer: up to eight steps, then the next queued file.
    void OnImportTimer();
    bool Importing() const { return m_import && m_import->IsRunning(); }
    size_t QueuedCount() const { return m_queue.size(); }

    // Selection; row is 0-based, n of SelectEntry 1-based.
    int TakeSelection(int row);
    int SelectEntry(int n);
    int SelectNext();
    int SelectPrevious();
    int Reselect();
    bool HasSelection() const { return m_row >= 0; }
    int SelectedSlot() const { return m_selectedSlot; }
    int SelectedRow() const { return m_row; }
    // The selected clip's full path; empty when none.
    std::string GetSelectedClipPath() const;
    void RemoveSelected();

    // Drag-and-drop reordering, while enabled. row: the entry under the
    // pointer, -1 below the last entry, kOutside outside the list.
    void SetDragEnabled(bool enabled);
    void OnDragMove(int row);
    void OnDragRelease(int row);
    int DragState() const { return m_dragState; }

    const std::vector<LibraryClip>& Clips() const { return m_clips; }
    const std::string& Folder() const { return m_folder->GetFolder(); }
    static std::string EntryText(const LibraryClip& clip);

    static constexpr int kOutside = -2;
    static constexpr int kStepsPerTick = 8;
    enum { kDragNone = 0, kDragArmed = 10, kDragging = 20 };

private:
    void Relist();
    void Select(int row);
    void FinishImport();
    void ShowFormatMessage(int firstLine, const char* first, int secondLine, const char* second,
                           const std::string& name, const std::string& reason);

    CLibraryBoxView& m_view;
    CTranslator m_translator;
    std::unique_ptr<CLibraryFolder> m_folder;
    std::vector<LibraryClip> m_clips;
    std::deque<std::string> m_queue;
    std::unique_ptr<CClipImport> m_import;
    bool m_progress = false;
    bool m_fastCpu = true;
    int m_selectedSlot = 0;
    int m_row = -1;
    bool m_dragEnabled = false;
    int m_dragState = kDragNone;
    int m_dragSourceSlot = 0;
};
