#pragma once
// The operator's destinations: a list of entries and the file they live in.
// Owned by the main window; GUI thread only. Saving replaces the file whole;
// a file whose load failed is not overwritten until the operator edits, and a
// damaged tail that could not be read is kept behind the saved records.
#include <cstdint>
#include <string>
#include <vector>

#include "common/PhonebookList.h"
#include "common/PhonebookView.h"

class CPhonebook {
public:
    ~CPhonebook();

    int Init(const char* fileName);
    void SetFileName(const char* fileName);
    int Load(bool clearFirst);
    int Save();
    static int IsPhonebookFile(const char* fileName);

    int AddEntry(const PhonebookEntry& entry);
    PhonebookEntry* FindEntry(const char* name, int kindMask) { return m_list.Find(name, kindMask); }
    int GetCount() const { return m_list.GetCount(); }
    int IsNameUsed(const PhonebookEntry& entry) const { return m_list.IsNameUsedElsewhere(entry); }

    int FillListCtrl(IPhonebookListView* list, int kindMask);
    int FillComboBox(IPhonebookComboBox* combo, int kindMask);
    PhonebookEntry* GetSelectedEntry(IPhonebookListView* list, int kindMask);
    int DeleteSelectedEntry(IPhonebookListView* list, int kindMask);
    int CopySelectedEntry(IPhonebookListView* list, int kindMask);

    // A dialog that changed an entry in place says so, so the next save writes it.
    void MarkModified() { m_modified = true; }
    CPhonebookList& GetList() { return m_list; }

private:
    std::string m_fileName;
    CPhonebookList m_list;
    std::vector<uint8_t> m_unreadTail;
    bool m_loadFailed = false;
    bool m_modified = false;
};

// Directions choose the list image: both ways 0, send only 1, receive only 2.
int PhonebookImageOfDirection(int direction);
