#include "common/Phonebook.h"

#include <cstdio>
#include <cstring>

#include "common/PhonebookFile.h"

namespace {
constexpr size_t kNameChars = sizeof PhonebookEntry::name - 1;

// Texts from a file are terminated within their fields before anyone reads them.
void TerminateTexts(PhonebookEntry& entry) {
    entry.name[sizeof entry.name - 1] = '\0';
    entry.reconnectName[sizeof entry.reconnectName - 1] = '\0';
    entry.connection.address[sizeof entry.connection.address - 1] = '\0';
    if (entry.connection.kind & TRANSPORT_ISDN) {
        entry.connection.isdn.number1[sizeof entry.connection.isdn.number1 - 1] = '\0';
    }
}

void SetName(PhonebookEntry& entry, const char* name) {
    std::memset(entry.name, 0, sizeof entry.name);
    std::memcpy(entry.name, name, strnlen(name, kNameChars));
}
}  // namespace

int PhonebookImageOfDirection(int direction) {
    switch (direction) {
    case DIRECTION_BOTH: return 0;
    case DIRECTION_SEND_ONLY: return 1;
    case DIRECTION_RECEIVE_ONLY: return 2;
    default: return -1;
    }
}

CPhonebook::~CPhonebook() { Save(); }

int CPhonebook::Init(const char* fileName) {
    SetFileName(fileName);
    return 1;
}

void CPhonebook::SetFileName(const char* fileName) {
    const std::string name = fileName ? fileName : "";
    if (name != m_fileName) {
        // A tail belongs to the file it came from; a new file starts clean.
        m_unreadTail.clear();
        m_loadFailed = false;
    }
    m_fileName = name;
}

int CPhonebook::Load(bool clearFirst) {
    CPhonebookFile file;
    if (!file.Open(m_fileName.c_str(), FILEMODE_READ)) {
        m_loadFailed = true;
        return 0;
    }
    if (clearFirst) m_list.Clear();
    PhonebookEntry entry;
    while (file.ReadEntry(&entry)) {
        TerminateTexts(entry);
        m_list.Add(entry);  // an entry without a name is read but not kept
    }
    m_unreadTail = file.UnreadTail();
    m_loadFailed = false;
    m_modified = false;
    return 1;
}

int CPhonebook::Save() {
    if (m_fileName.empty()) return 0;
    // Never replace a file we could not read with what little we hold, unless
    // the operator has made it his own since.
    if (m_loadFailed && !m_modified) return 1;
    CPhonebookFile file;
    if (!file.Open(m_fileName.c_str(), FILEMODE_REWRITE)) return 0;
    m_list.Rewind();
    while (PhonebookEntry* entry = m_list.Next()) file.WriteEntry(entry);
    file.WriteRaw(m_unreadTail);
    if (!file.Close()) return 0;
    m_loadFailed = false;
    return 1;
}

int CPhonebook::IsPhonebookFile(const char* fileName) {
    CPhonebookFile file;
    if (!file.Open(fileName, FILEMODE_READ)) return 0;
    PhonebookEntry first;
    return file.ReadEntry(&first);  // index 0 and a length within limits
}

int CPhonebook::AddEntry(const PhonebookEntry& entry) {
    m_modified = true;
    m_list.Add(entry);
    return 1;
}

int CPhonebook::FillListCtrl(IPhonebookListView* list, int kindMask) {
    if (!list) return 0;
    list->DeleteAllItems();
    m_list.Rewind();
    while (const PhonebookEntry* entry = m_list.NextOfKind(kindMask)) {
        list->InsertItemAtTop(entry->name, PhonebookImageOfDirection(entry->format.direction));
    }
    return 1;
}

int CPhonebook::FillComboBox(IPhonebookComboBox* combo, int kindMask) {
    if (!combo) return 0;
    combo->ResetContent();
    m_list.Rewind();
    while (const char* name = m_list.NextNameOfKind(kindMask)) combo->AddString(name);
    return 1;
}

PhonebookEntry* CPhonebook::GetSelectedEntry(IPhonebookListView* list, int kindMask) {
    if (!list) return nullptr;
    return FindEntry(list->GetSelectionMarkText(), kindMask);
}

int CPhonebook::DeleteSelectedEntry(IPhonebookListView* list, int kindMask) {
    if (!list) return 0;
    const char* name = list->GetSelectionMarkText();
    if (!name) return 0;
    if (m_list.Remove(name, kindMask)) m_modified = true;
    return 1;
}

int CPhonebook::CopySelectedEntry(IPhonebookListView* list, int kindMask) {
    const PhonebookEntry* source = GetSelectedEntry(list, kindMask);
    if (!source) return 0;
    PhonebookEntry copy = *source;
    char candidate[256];
    std::snprintf(candidate, sizeof candidate, "Copy of %s", source->name);
    SetName(copy, candidate);
    // Unique after the cut to the field: two long names may differ only beyond it.
    for (int n = 2; m_list.Find(copy.name, copy.connection.kind) && n < 1000000; ++n) {
        std::snprintf(candidate, sizeof candidate, "Copy (%d) of %s", n, source->name);
        SetName(copy, candidate);
    }
    m_modified = true;
    return m_list.Add(copy);
}
