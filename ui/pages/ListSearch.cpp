#include "ui/pages/ListSearch.h"

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithIgnoringCase(const std::string& name, const std::string& text) {
    if (text.size() > name.size()) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (Lower(name[i]) != Lower(text[i])) return false;
    return true;
}

}  // namespace

int FindListName(const std::vector<std::string>& names, const std::string& text, bool prefix) {
    for (size_t i = 0; i < names.size(); ++i) {
        if (prefix ? StartsWithIgnoringCase(names[i], text) : names[i] == text) return static_cast<int>(i);
    }
    return -1;
}
