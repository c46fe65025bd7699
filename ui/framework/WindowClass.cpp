#include "ui/framework/WindowClass.h"

#include <mutex>
#include <set>
#include <string>

namespace {
std::mutex g_mutex;
std::set<std::string>& Classes() {
    static std::set<std::string> classes;
    return classes;
}
}  // namespace

BOOL RegisterWindowClass(const char* className) {
    if (!className || !className[0]) return FALSE;
    std::lock_guard<std::mutex> lock(g_mutex);
    return Classes().insert(className).second ? TRUE : FALSE;
}

BOOL UnregisterWindowClass(const char* className) {
    if (!className) return FALSE;
    std::lock_guard<std::mutex> lock(g_mutex);
    return Classes().erase(className) ? TRUE : FALSE;
}

BOOL IsWindowClassRegistered(const char* className) {
    if (!className) return FALSE;
    std::lock_guard<std::mutex> lock(g_mutex);
    return Classes().count(className) ? TRUE : FALSE;
}
