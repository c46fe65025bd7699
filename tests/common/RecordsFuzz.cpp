// Any 488 bytes load as a phonebook entry and store back unchanged.
#include <cstdint>
#include <cstring>

#include "common/Records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kPhonebookEntryBytes) return 0;
    const PhonebookEntry entry = LoadPhonebookEntry(data);
    uint8_t out[kPhonebookEntryBytes];
    StorePhonebookEntry(entry, out);
    if (std::memcmp(out, data, kPhonebookEntryBytes) != 0) __builtin_trap();
    return 0;
}
