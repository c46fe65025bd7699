#pragma once
// The phonebook's entries in order: an added entry goes to the front, and
// every walk runs front to back, so the newest entry comes first. Entries
// keep their address while they are in the list. GUI thread only.
#include <list>

#include "common/Records.h"

class CPhonebookList {
public:
    int Add(const PhonebookEntry& entry);          // 0 for an empty name
    int Remove(const char* name, int kindMask);    // first match only
    PhonebookEntry* Find(const char* name, int kindMask);
    int IsNameUsedElsewhere(const PhonebookEntry& entry) const;
    void Rewind() { m_cursor = m_entries.begin(); }
    PhonebookEntry* Next();
    PhonebookEntry* NextOfKind(int kindMask);
    const char* NextNameOfKind(int kindMask);
    void Clear();
    int GetCount() const { return static_cast<int>(m_entries.size()); }

private:
    std::list<PhonebookEntry> m_entries;
    std::list<PhonebookEntry>::iterator m_cursor = m_entries.end();
};

// Names compare byte for byte, case-sensitive, within the 30-byte field.
bool IsSameName(const char* a, const char* b);
