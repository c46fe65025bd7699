#include "common/PhonebookFile.h"

#include <cstring>

#include "common/ByteOrder.h"
#include "platform/AtomicFile.h"

namespace {
constexpr size_t kMinRecordBytes = 484;
constexpr int32_t kMaxRecordBytes = 1024;
constexpr uint8_t kMagic[4] = {'Q', 'i', 'v', 0};
}  // namespace

bool IsValidPhonebookHeader(const uint8_t* header, size_t size) {
    if (size < kPhonebookHeaderBytes) return false;
    if (std::memcmp(header, kMagic, sizeof kMagic) != 0) return false;
    return (GetLe32(header + 4) & 0xFFFF) <= 1;  // the high half is not interpreted
}

int CPhonebookFile::Open(const char* name, int mode, bool skipHeader) {
    m_name = name ? name : "";
    if (mode == FILEMODE_READ) {
        std::string bytes;
        if (!platform::ReadWholeFile(m_name, bytes)) return 0;
        return OpenMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), skipHeader);
    }
    if (mode == FILEMODE_REWRITE) {
        m_mode = mode;
        m_data.assign(kPhonebookHeaderBytes, 0);
        std::memcpy(m_data.data(), kMagic, sizeof kMagic);
        PutLe32(m_data.data() + 4, kPhonebookVersion);
        m_records = 0;
        return 1;
    }
    return 0;
}

int CPhonebookFile::OpenMemory(const uint8_t* data, size_t size, bool skipHeader) {
    m_mode = 0;
    if (!skipHeader && !IsValidPhonebookHeader(data, size)) return 0;
    m_data.assign(data, data + size);
    m_pos = skipHeader ? 0 : kPhonebookHeaderBytes;
    m_failedAt = SIZE_MAX;
    m_records = 0;
    m_mode = FILEMODE_READ;
    return 1;
}

int CPhonebookFile::ReadEntry(PhonebookEntry* out) {
    *out = PhonebookEntry{};  // 488 zero bytes
    if (m_mode != FILEMODE_READ) return 0;
    uint8_t work[kMaxRecordBytes] = {};
    const size_t start = m_pos;
    auto fail = [&] {
        m_failedAt = start;
        return 0;
    };
    if (m_data.size() - m_pos < kMinRecordBytes) return fail();
    std::memcpy(work, m_data.data() + m_pos, kMinRecordBytes);
    size_t recordBytes = kMinRecordBytes;
    const int32_t length = GetLe32s(work + 60);
    if (length > static_cast<int32_t>(kMinRecordBytes)) {
        if (length > kMaxRecordBytes) return fail();
        recordBytes = static_cast<size_t>(length);
        if (m_data.size() - m_pos < recordBytes) return fail();
        std::memcpy(work + kMinRecordBytes, m_data.data() + m_pos + kMinRecordBytes, recordBytes - kMinRecordBytes);
    }
    if (GetLe32s(work) != m_records) return fail();
    *out = LoadPhonebookEntry(work);
    m_pos += recordBytes;
    ++m_records;
    return 1;
}

std::vector<uint8_t> CPhonebookFile::UnreadTail() const {
    if (!StoppedBeforeEnd()) return {};
    return std::vector<uint8_t>(m_data.begin() + static_cast<std::ptrdiff_t>(m_failedAt), m_data.end());
}

int CPhonebookFile::WriteEntry(PhonebookEntry* entry) {
    if (m_mode != FILEMODE_REWRITE) return 0;
    entry->length = static_cast<int32_t>(kPhonebookEntryBytes);
    entry->index = m_records;
    const size_t at = m_data.size();
    m_data.resize(at + kPhonebookEntryBytes);
    StorePhonebookEntry(*entry, m_data.data() + at);
    ++m_records;
    return 1;
}

void CPhonebookFile::WriteRaw(const std::vector<uint8_t>& bytes) {
    if (m_mode == FILEMODE_REWRITE) m_data.insert(m_data.end(), bytes.begin(), bytes.end());
}

int CPhonebookFile::Close() {
    int result = 1;
    if (m_mode == FILEMODE_REWRITE) {
        const std::string bytes(m_data.begin(), m_data.end());
        result = platform::ReplaceWholeFile(m_name, bytes) ? 1 : 0;
    }
    m_mode = 0;
    m_data.clear();
    m_pos = 0;
    return result;
}
