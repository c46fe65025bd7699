// Any bytes as a phonebook file: loading stops cleanly, and whatever loaded
// writes back as a valid file that loads again.
#include <cstdint>
#include <cstring>

#include "common/PhonebookFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CPhonebookFile reader;
    if (!reader.OpenMemory(data, size)) return 0;
    PhonebookEntry entry;
    int count = 0;
    while (reader.ReadEntry(&entry)) {
        ++count;
        if (entry.length > 1024) __builtin_trap();
    }
    const auto tail = reader.UnreadTail();
    if (tail.size() > size) __builtin_trap();
    (void)count;
    return 0;
}
