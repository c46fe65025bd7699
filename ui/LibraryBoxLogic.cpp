#include "ui/LibraryBoxLogic.h"

#include <cstdio>

#include "platform/MessageBoxCodes.h"

namespace {

constexpr int kLibrarySection = 10;
constexpr int kErrorSection = CTranslator::kErrorSection;

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

CLibraryBoxLogic::CLibraryBoxLogic(CLibraryBoxView& view)
    : m_view(view), m_folder(std::make_unique<CLibraryFolder>("Library")) {
    m_translator.SetSection(kLibrarySection);
    m_translator.AttachWindow(&m_view);
}

CLibraryBoxLogic::~CLibraryBoxLogic() {
    m_queue.clear();
    if (m_import) m_import->Finish();
}

std::string CLibraryBoxLogic::EntryText(const LibraryClip& clip) {
    char number[16];
    std::snprintf(number, sizeof number, "%2d", clip.slot);
    return std::string(number) + "\t" + clip.title;
}

void CLibraryBoxLogic::Init(const std::string& folder, int selectedSlot, bool fastCpu) {
    m_fastCpu = fastCpu;
    m_selectedSlot = selectedSlot;
    m_folder = std::make_unique<CLibraryFolder>(folder);
    Relist();
}

void CLibraryBoxLogic::ReloadLocation(const std::string& folder) {
    if (folder == m_folder->GetFolder()) return;
    m_folder = std::make_unique<CLibraryFolder>(folder);
    Relist();
}

void CLibraryBoxLogic::Relist() {
    m_clips = m_folder->List();
    std::vector<std::string> texts;
    texts.reserve(m_clips.size());
    for (const LibraryClip& c : m_clips) texts.push_back(EntryText(c));
    m_view.ShowEntries(texts);
    // By slot number: the text " 1" would also begin "10" to "19".
    int row = -1;
    for (size_t i = 0; i < m_clips.size(); ++i) {
        if (m_clips[i].slot == m_selectedSlot) {
            row = static_cast<int>(i);
            break;
        }
    }
    if (row < 0 && !m_clips.empty()) row = 0;
    Select(row);
    m_view.NotifyOwner();
}

void CLibraryBoxLogic::Select(int row) {
    m_row = row;
    m_selectedSlot = row >= 0 ? m_clips[static_cast<size_t>(row)].slot : 0;
    m_view.SelectRow(row);
}

int CLibraryBoxLogic::QueueFile(const std::string& name) {
    m_queue.push_back(name);
    return 1;
}

void CLibraryBoxLogic::ShowFormatMessage(int firstLine, const char* first, int secondLine, const char* second,
                                         const std::string& name, const std::string& reason) {
    std::string text = std::string(m_translator.GetSectionText(kLibrarySection, firstLine, first)) + "\n\n" + name +
                       "\n\n" + m_translator.GetSectionText(kLibrarySection, secondLine, second);
    if (!reason.empty()) text += "\n\n" + reason;
    m_view.MessageBox(text.c_str(), m_translator.GetSectionText(kErrorSection, 0, "Error..."),
                      MB_ICONERROR | MB_SETFOREGROUND);
}

int CLibraryBoxLogic::ImportNext() {
    if (Importing() || m_queue.empty()) return 0;
    const std::string name = m_queue.front();
    m_queue.pop_front();
    m_import = std::make_unique<CClipImport>();
    ImportResult result = m_import->Start(name, *m_folder);
    if (result == ImportResult::kDestinationExists) {
        if (!m_translator.Confirm(10, "The destination file already exists. Overwrite the existing entry?")) return 0;
        result = m_import->Start(name, *m_folder, true);
    }
    switch (result) {
        case ImportResult::kStarted: break;
        case ImportResult::kUnrecognised:
            ShowFormatMessage(3, "The format of the file:", 4, "is unrecognised or unsupported.", name,
                              m_import->GetErrorText());
            return 0;
        case ImportResult::kNotPcm:
            ShowFormatMessage(5, "The file:", 6, "does not contain PCM audio.", name, std::string());
            return 0;
        case ImportResult::kLibraryFull:
            m_translator.ShowError(9, "Unable to add more audio: the audio library is full");
            return 0;
        case ImportResult::kDestinationExists: return 0;
        case ImportResult::kDestinationOpen:
            m_translator.ShowError(117, "The destination file could not be opened.");
            return 0;
        case ImportResult::kSourceOpen:
            m_translator.ShowError(116, "The source file could not be opened.");
            return 0;
        case ImportResult::kConverterCreate:
            m_translator.ShowError(115, "Unable convert the samplerate.");
            return 0;
        case ImportResult::kConverterStart:
            m_translator.ShowError(114, "Unable start the samplerate conversion.");
            return 0;
    }
    m_progress = m_view.OpenProgress(m_translator.GetSectionText(kLibrarySection, 2, "Importing into the audio library..."),
                                     BaseName(name));
    if (m_progress) m_view.SetProgress(0);
    m_view.ArmImportTimer(m_fastCpu ? 10 : 50);
    return 1;
}

void CLibraryBoxLogic::OnImportTimer() {
    if (!Importing()) {
        m_view.StopImportTimer();
        return;
    }
    for (int i = 0; i < kStepsPerTick; ++i) {
        bool more = m_import->Step() != 0;
        if (more && m_progress && !m_view.SetProgress(m_import->GetPercent())) {
            m_import->Cancel();  // the operator's cancel leaves no partial clip
            more = false;
        }
        if (!more) {
            FinishImport();
            Relist();
            ImportNext();
            return;
        }
    }
}

void CLibraryBoxLogic::FinishImport() {
    if (m_import) m_import->Finish();
    if (m_progress) m_view.CloseProgress();
    m_progress = false;
    m_view.StopImportTimer();
}

int CLibraryBoxLogic::TakeSelection(int row) {
    if (row < 0 || row >= static_cast<int>(m_clips.size())) {
        m_row = -1;
        return 0;
    }
    m_row = row;
    m_selectedSlot = m_clips[static_cast<size_t>(row)].slot;
    return 1;
}

int CLibraryBoxLogic::SelectEntry(int n) {
    if (n < 1 || n > static_cast<int>(m_clips.size())) {
        m_view.SelectRow(m_row);
        return 0;
    }
    Select(n - 1);
    return 1;
}

int CLibraryBoxLogic::SelectNext() {
    if (m_row < 0 || m_row + 1 >= static_cast<int>(m_clips.size())) return 0;
    Select(m_row + 1);
    return 1;
}

int CLibraryBoxLogic::SelectPrevious() {
    if (m_row <= 0) return 0;
    Select(m_row - 1);
    return 1;
}

int CLibraryBoxLogic::Reselect() {
    int row = -1;
    for (size_t i = 0; i < m_clips.size(); ++i) {
        if (m_clips[i].slot == m_selectedSlot) row = static_cast<int>(i);
    }
    if (row >= 0) Select(row);
    m_view.NotifyOwner();
    return 1;
}

std::string CLibraryBoxLogic::GetSelectedClipPath() const {
    if (m_row < 0) return std::string();
    const std::string name = m_folder->FindSlotFile(m_clips[static_cast<size_t>(m_row)].slot);
    return name.empty() ? std::string() : m_folder->PathOf(name);
}

void CLibraryBoxLogic::RemoveSelected() {
    if (m_row < 0) return;
    if (!m_folder->RemoveSlot(m_clips[static_cast<size_t>(m_row)].slot)) return;
    Relist();
}

void CLibraryBoxLogic::SetDragEnabled(bool enabled) {
    m_dragEnabled = enabled;
    if (!enabled && m_dragState == kDragging) m_view.HideDragLabel();
    if (!enabled) m_dragState = kDragNone;
}

void CLibraryBoxLogic::OnDragMove(int row) {
    if (!m_dragEnabled) return;
    const bool overEntry = row >= 0 && row < static_cast<int>(m_clips.size());
    switch (m_dragState) {
        case kDragNone:
            if (!overEntry) return;
            m_dragSourceSlot = m_clips[static_cast<size_t>(row)].slot;
            m_dragState = kDragArmed;
            return;
        case kDragArmed: {
            std::string title;
            for (const LibraryClip& c : m_clips) {
                if (c.slot == m_dragSourceSlot) title = c.title;
            }
            m_view.ShowDragLabel("   " + title);
            m_dragState = kDragging;
            return;
        }
        default:
            if (overEntry) m_view.MoveDragLabel();
            return;
    }
}

void CLibraryBoxLogic::OnDragRelease(int row) {
    if (m_dragState != kDragging) {
        m_dragState = kDragNone;  // a plain click
        return;
    }
    m_view.HideDragLabel();
    m_dragState = kDragNone;
    if (row == kOutside) return;
    int target;
    if (row >= 0 && row < static_cast<int>(m_clips.size())) {
        target = m_clips[static_cast<size_t>(row)].slot;
    } else {
        target = m_folder->GetLastSlotOfRun();
    }
    if (target < 1 || target == m_dragSourceSlot) return;
    if (!m_folder->MoveSlot(m_dragSourceSlot, target)) return;
    m_selectedSlot = target;
    Relist();
}
