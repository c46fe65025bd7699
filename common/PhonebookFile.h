#pragma once
// The phonebook file: an 8-byte header ("Qiv", 0, version 0x00010001) and
// PhonebookEntry records. Reading takes the whole file into memory and walks
// it; writing collects the records and replaces the file in one step on
// Close, so a crash mid-save leaves the old file or the new one.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/Records.h"

constexpr int FILEMODE_READ = 10;
constexpr int FILEMODE_REWRITE = 20;
constexpr uint32_t kPhonebookVersion = 0x00010001;
constexpr size_t kPhonebookHeaderBytes = 8;

class CPhonebookFile {
public:
    int Open(const char* name, int mode, bool skipHeader = false);
    // Reading from bytes already in memory (the file's contents).
    int OpenMemory(const uint8_t* data, size_t size, bool skipHeader = false);
    int ReadEntry(PhonebookEntry* out);
    int WriteEntry(PhonebookEntry* entry);  // sets the entry's index and length
    // Appended behind the records on the next Close (a damaged tail kept as it was).
    void WriteRaw(const std::vector<uint8_t>& bytes);
    int Close();  // writing: 1 when the new file is in place

    // Reading: true when the last failed ReadEntry stopped short of the end.
    bool StoppedBeforeEnd() const { return m_failedAt < m_data.size(); }
    // Reading: the bytes from the record that failed to the end of the file.
    std::vector<uint8_t> UnreadTail() const;
    int GetRecordCount() const { return m_records; }

private:
    int m_mode = 0;
    std::string m_name;
    std::vector<uint8_t> m_data;
    size_t m_pos = 0;
    size_t m_failedAt = SIZE_MAX;
    int m_records = 0;
};

bool IsValidPhonebookHeader(const uint8_t* header, size_t size);
