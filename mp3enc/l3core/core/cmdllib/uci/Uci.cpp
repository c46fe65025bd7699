#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"

#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr int kNameCompareLength = 100;

struct UciItem {
    char* name;
    char* value;
    unsigned char helpFlag;
    unsigned char rangeFailed;
    char message[160];
    char* longHelp;  // kept after a range failure
    int status;
};

struct Registry {
    std::mutex lock;
    std::condition_variable free;
    std::thread::id owner;  // default id: no scope open
    UciItem* items = nullptr;
    int count = -1;
    const char** setNames = nullptr;
    int setCount = 0;
};

Registry& TheRegistry() {
    static Registry registry;  // built once, thread-safe
    return registry;
}

char* Copy(const char* text) {
    const size_t n = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(AlignedMalloc(n, __FILE__, __LINE__));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

void FreeTables(Registry& r) {
    if (r.items) {
        for (int i = 0; i < r.count; ++i) {
            AlignedFree(r.items[i].name);
            AlignedFree(r.items[i].value);
            AlignedFree(r.items[i].longHelp);
        }
    }
    AlignedFree(r.items);
    AlignedFree(r.setNames);
    r.items = nullptr;
    r.setNames = nullptr;
    r.setCount = 0;
    r.count = -1;
}

// The item a getter of this thread reads: null with result 0 when the thread
// has no scope or the name was not set, null with 8 when it is not in the table.
UciItem* Find(Registry& r, const char* name, int* result) {
    *result = kUciDone;
    if (!name || r.count < 0 || r.owner != std::this_thread::get_id()) return nullptr;
    bool wasSet = false;
    for (int i = 0; i < r.setCount && !wasSet; ++i) wasSet = std::strcmp(r.setNames[i], name) == 0;
    if (!wasSet) return nullptr;
    for (int i = 0; i < r.count; ++i) {
        if (std::strncmp(r.items[i].name, name, kNameCompareLength) == 0) return &r.items[i];
    }
    *result = kUciNotInTable;
    return nullptr;
}

// Integers take their base from the text: 0x hexadecimal, leading 0 octal.
bool Parse(const char* first, const char* last, int* out) {
    bool negative = false;
    if (first < last && (*first == '-' || *first == '+')) negative = *first++ == '-';
    int base = 10;
    if (last - first > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X')) {
        base = 16;
        first += 2;
    } else if (last - first > 1 && first[0] == '0') {
        base = 8;
        ++first;
    }
    long long v = 0;
    const auto [end, ec] = std::from_chars(first, last, v, base);
    if (ec != std::errc() || end != last || first == last) return false;
    if (negative) v = -v;
    if (v < -2147483648LL || v > 2147483647LL) return false;
    *out = static_cast<int>(v);
    return true;
}

// Decimal text, read the same whatever locale the program runs in.
bool Parse(const char* first, const char* last, float* out) {
    if (first < last && *first == '+') ++first;
    const auto [end, ec] = std::from_chars(first, last, *out, std::chars_format::general);
    return ec == std::errc() && end == last && first != last;
}

void Note(UciItem& item, int status, const char* longHelp) {
    item.status = status;
    const char* text = status == kUciRangeFailed ? "Range Check failed"
                       : status == kUciTooFew    ? "Too few arguments in configuration"
                       : status == kUciTooMany   ? "Too many arguments in configuration"
                                                 : "";
    std::snprintf(item.message, sizeof item.message, "At parameter %s: %s", item.name, text);
    if (status == kUciRangeFailed && longHelp && !item.longHelp) item.longHelp = Copy(longHelp);
}

template <typename T>
int GetVector(const char* name, int count, T minimum, T maximum, const char* longHelp, T* values) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    int result;
    UciItem* item = Find(r, name, &result);
    if (!item) return result;
    if (item->rangeFailed) return kUciRangeFailed;
    // Tokens are separated by blanks; a value never holds more than its text.
    const char* tokens[kUciMaxItems];
    const char* ends[kUciMaxItems];
    int present = 0;
    for (const char* p = item->value; *p && present < kUciMaxItems;) {
        while (*p == ' ') ++p;
        if (!*p) break;
        tokens[present] = p;
        while (*p && *p != ' ') ++p;
        ends[present++] = p;
    }
    int store = present < count ? present - 1 : count;
    result = present < count ? kUciTooFew : present > count ? kUciTooMany : kUciDone;
    if (count < 0 || !values) store = 0;
    for (int i = 0; i < store; ++i) {
        T v{};
        if (!Parse(tokens[i], ends[i], &v) || (minimum != maximum && (v < minimum || v > maximum))) {
            item->rangeFailed = 1;
            result = kUciRangeFailed;
            break;
        }
        values[i] = v;
    }
    Note(*item, result, longHelp);
    return result;
}

}  // namespace

int UciBegin() {
    Registry& r = TheRegistry();
    std::unique_lock<std::mutex> hold(r.lock);
    const std::thread::id self = std::this_thread::get_id();
    if (r.owner == self) return kUciDone;  // this thread's scope is already open
    r.free.wait(hold, [&] { return r.owner == std::thread::id(); });
    r.items = static_cast<UciItem*>(AlignedCalloc(kUciMaxItems, sizeof(UciItem), __FILE__, __LINE__));
    r.setNames = static_cast<const char**>(AlignedCalloc(kUciMaxSetNames, sizeof(char*), __FILE__, __LINE__));
    if (!r.items || !r.setNames) {
        FreeTables(r);
        r.free.notify_one();
        return kUciOutOfMemory;
    }
    r.count = 0;
    r.setCount = 0;
    r.owner = self;
    return kUciDone;
}

void UciEnd() {
    Registry& r = TheRegistry();
    {
        std::lock_guard<std::mutex> hold(r.lock);
        if (r.owner != std::this_thread::get_id()) return;
        FreeTables(r);
        r.owner = std::thread::id();
    }
    r.free.notify_one();
}

int UciSet(const char* name, const char* value) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    if (!name || r.count < 0 || r.owner != std::this_thread::get_id()) return kUciDone;
    if (r.setCount >= kUciMaxSetNames || r.count >= kUciMaxItems) return kUciDone;
    UciItem& item = r.items[r.count];
    item = UciItem{};
    item.name = Copy(name);
    item.value = Copy(value ? value : "");
    if (!item.name || !item.value) {
        AlignedFree(item.name);
        AlignedFree(item.value);
        item = UciItem{};
        return kUciOutOfMemory;
    }
    item.status = 1;
    r.setNames[r.setCount++] = item.name;
    ++r.count;
    return kUciDone;
}

int UciGetIntVector(const char* name, int count, int minimum, int maximum, const char*, const char* longHelp,
                    int* values) {
    return GetVector(name, count, minimum, maximum, longHelp, values);
}

int UciGetInt(const char* name, int minimum, int maximum, const char* help, const char* longHelp, int* value) {
    return UciGetIntVector(name, 1, minimum, maximum, help, longHelp, value);
}

int UciGetFloatVector(const char* name, int count, float minimum, float maximum, const char*,
                      const char* longHelp, float* values) {
    return GetVector(name, count, minimum, maximum, longHelp, values);
}

int UciGetFloat(const char* name, float minimum, float maximum, const char* help, const char* longHelp,
                float* value) {
    return UciGetFloatVector(name, 1, minimum, maximum, help, longHelp, value);
}

int UciGetSwitch(const char* name, const char*, const char* longHelp, int* value) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> hold(r.lock);
    if (!name || r.count < 0 || r.owner != std::this_thread::get_id()) return kUciDone;
    *value = 0;
    int result;
    UciItem* item = Find(r, name, &result);
    if (!item) return result;
    result = item->value[std::strspn(item->value, " ")] ? kUciTooMany : kUciDone;
    if (result == kUciDone) *value = 1;
    Note(*item, result, longHelp);
    return result;
}
