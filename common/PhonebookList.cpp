#include "common/PhonebookList.h"

#include <cstring>

bool IsSameName(const char* a, const char* b) { return std::strncmp(a, b, sizeof PhonebookEntry::name) == 0; }

namespace {
bool SharesKind(const PhonebookEntry& entry, int kindMask) { return (entry.connection.kind & kindMask) != 0; }
}  // namespace

int CPhonebookList::Add(const PhonebookEntry& entry) {
    if (entry.name[0] == '\0') return 0;
    m_entries.push_front(entry);
    return 1;
}

int CPhonebookList::Remove(const char* name, int kindMask) {
    if (!name || !*name) return 0;
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (SharesKind(*it, kindMask) && IsSameName(it->name, name)) {
            if (m_cursor == it) ++m_cursor;
            m_entries.erase(it);
            return 1;
        }
    }
    return 0;
}

PhonebookEntry* CPhonebookList::Find(const char* name, int kindMask) {
    if (!name || !*name) return nullptr;
    for (PhonebookEntry& entry : m_entries) {
        if (SharesKind(entry, kindMask) && IsSameName(entry.name, name)) return &entry;
    }
    return nullptr;
}

int CPhonebookList::IsNameUsedElsewhere(const PhonebookEntry& checked) const {
    if (checked.name[0] == '\0') return 0;
    for (const PhonebookEntry& entry : m_entries) {
        if (!SharesKind(entry, checked.connection.kind)) continue;
        if (IsSameName(entry.name, checked.name)) return &entry != &checked ? 1 : 0;
    }
    return 0;
}

PhonebookEntry* CPhonebookList::Next() {
    if (m_cursor == m_entries.end()) return nullptr;
    return &*m_cursor++;
}

PhonebookEntry* CPhonebookList::NextOfKind(int kindMask) {
    while (PhonebookEntry* entry = Next()) {
        if (SharesKind(*entry, kindMask)) return entry;
    }
    return nullptr;
}

const char* CPhonebookList::NextNameOfKind(int kindMask) {
    const PhonebookEntry* entry = NextOfKind(kindMask);
    return entry ? entry->name : nullptr;
}

void CPhonebookList::Clear() {
    m_entries.clear();
    m_cursor = m_entries.end();
}
