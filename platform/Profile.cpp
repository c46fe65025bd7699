#include "platform/Profile.h"

#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AtomicFile.h"

namespace {

// One lock for every profile call of the process: a write is a read, a change
// and a rewrite of the whole file, which must not interleave with another.
std::mutex& ProfileLock() {
    static std::mutex s_lock;
    return s_lock;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// Trimmed, then one pair of matching enclosing quotes removed.
std::string_view CleanValue(std::string_view v) {
    v = Trim(v);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        v.remove_prefix(1);
        v.remove_suffix(1);
    }
    return v;
}

enum class LineKind { Other, Section, Key };

struct Line {
    std::string_view text;  // without its line end
    std::string_view end;   // "\n", "\r\n" or "" on the last line
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // raw text after '=' (keys only)
};

std::vector<Line> SplitLines(std::string_view file) {
    std::vector<Line> lines;
    if (file.size() >= 3 && file.substr(0, 3) == "\xEF\xBB\xBF") file.remove_prefix(3);
    while (!file.empty()) {
        Line line;
        const size_t nl = file.find('\n');
        std::string_view whole = nl == std::string_view::npos ? file : file.substr(0, nl + 1);
        file.remove_prefix(whole.size());
        size_t endLen = 0;
        if (!whole.empty() && whole.back() == '\n') {
            endLen = (whole.size() >= 2 && whole[whole.size() - 2] == '\r') ? 2 : 1;
        }
        line.text = whole.substr(0, whole.size() - endLen);
        line.end = whole.substr(whole.size() - endLen);
        const std::string_view t = Trim(line.text);
        if (!t.empty() && t.front() == '[') {
            const size_t close = t.find(']');
            line.kind = LineKind::Section;
            line.name =
                Trim(t.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        } else if (!t.empty() && t.front() != ';') {
            const size_t eq = t.find('=');
            if (eq != std::string_view::npos) {
                line.kind = LineKind::Key;
                line.name = Trim(t.substr(0, eq));
                line.value = t.substr(eq + 1);
            }
        }
        lines.push_back(line);
    }
    return lines;
}

// Index of the first line of the section's header, or -1.
long FindSection(const std::vector<Line>& lines, std::string_view section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Section && SameName(lines[i].name, section))
            return static_cast<long>(i);
    }
    return -1;
}

// One past the section's last line (the next header or the end).
size_t SectionEnd(const std::vector<Line>& lines, size_t header) {
    size_t i = header + 1;
    while (i < lines.size() && lines[i].kind != LineKind::Section) ++i;
    return i;
}

long FindKey(const std::vector<Line>& lines, size_t header, std::string_view key) {
    const size_t end = SectionEnd(lines, header);
    for (size_t i = header + 1; i < end; ++i) {
        if (lines[i].kind == LineKind::Key && SameName(lines[i].name, key)) return static_cast<long>(i);
    }
    return -1;
}

// Looks the value up; false when the file, section or key is missing.
bool LookUp(const std::string& file, const char* section, const char* key, std::string& value) {
    const std::vector<Line> lines = SplitLines(file);
    const long header = FindSection(lines, section);
    if (header < 0) return false;
    const long at = FindKey(lines, static_cast<size_t>(header), key);
    if (at < 0) return false;
    value.assign(CleanValue(lines[static_cast<size_t>(at)].value));
    return true;
}

DWORD CopyOut(std::string_view text, char* out, DWORD size) {
    if (!out || size == 0) return 0;
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

// Names each terminated, the list closed by a second NUL; cut to fit.
DWORD CopyList(const std::vector<std::string_view>& names, char* out, DWORD size) {
    if (!out || size == 0) return 0;
    if (size == 1) {
        out[0] = '\0';
        return 0;
    }
    DWORD used = 0;
    for (std::string_view name : names) {
        if (used + name.size() + 2 > size) {
            // Windows cuts the last name and still closes the list.
            const size_t room = size - used - 2;
            std::memcpy(out + used, name.data(), room);
            used += static_cast<DWORD>(room);
            out[used] = '\0';
            out[used + 1] = '\0';
            return size - 2;
        }
        std::memcpy(out + used, name.data(), name.size());
        used += static_cast<DWORD>(name.size());
        out[used++] = '\0';
    }
    out[used] = '\0';
    return used;
}

bool HasLineBreak(const char* s) { return s && std::strpbrk(s, "\r\n") != nullptr; }

}  // namespace

UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue, const char* file) {
    char text[64];
    if (!GetPrivateProfileStringA(section, key, "", text, sizeof text, file)) {
        return static_cast<UINT>(defaultValue);
    }
    const char* p = text;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    // Wraps like the 32-bit original instead of overflowing.
    UINT result = 0;
    while (*p >= '0' && *p <= '9') result = result * 10u + static_cast<UINT>(*p++ - '0');
    return negative ? 0u - result : result;
}

DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue, char* out,
                               DWORD size, const char* file) {
    if (!out || size == 0) return 0;
    std::string contents;
    {
        std::lock_guard<std::mutex> lock(ProfileLock());
        if (file) platform::ReadWholeFile(file, contents);
    }
    if (!section || !key) {
        const std::vector<Line> lines = SplitLines(contents);
        std::vector<std::string_view> names;
        if (!section) {
            for (const Line& line : lines) {
                if (line.kind == LineKind::Section) names.push_back(line.name);
            }
        } else {
            const long header = FindSection(lines, section);
            if (header >= 0) {
                const size_t end = SectionEnd(lines, static_cast<size_t>(header));
                for (size_t i = static_cast<size_t>(header) + 1; i < end; ++i) {
                    if (lines[i].kind == LineKind::Key) names.push_back(lines[i].name);
                }
            }
        }
        return CopyList(names, out, size);
    }
    std::string value;
    if (LookUp(contents, section, key, value)) return CopyOut(value, out, size);
    return CopyOut(Trim(defaultValue ? defaultValue : ""), out, size);
}

BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value, const char* file) {
    if (!section || !file || !*file) return FALSE;
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value)) return FALSE;
    if (std::strchr(section, ']') || (key && (std::strchr(key, '=') || Trim(key).empty()))) return FALSE;

    std::lock_guard<std::mutex> lock(ProfileLock());
    const platform::CFolderLock folderLock(file);  // other processes writing there too
    std::string contents;
    platform::ReadWholeFile(file, contents);
    const std::vector<Line> lines = SplitLines(contents);
    // Keep the file's own line ends: a file from a Windows station stays CRLF.
    std::string_view eol = "\n";
    for (const Line& line : lines) {
        if (!line.end.empty()) {
            eol = line.end;
            break;
        }
    }
    const std::string newLine = key && value ? std::string(Trim(key)) + "=" + value : std::string();

    long replaceFrom = -1, replaceTo = -1;  // lines [from, to) give way to `insert`
    std::string insert;
    const long header = FindSection(lines, section);
    if (header < 0) {
        if (!key || !value) return TRUE;  // nothing to remove
        replaceFrom = replaceTo = static_cast<long>(lines.size());
        if (!contents.empty() && contents.back() != '\n') insert += eol;
        if (!contents.empty()) insert += eol;
        insert += "[" + std::string(section) + "]" + std::string(eol) + newLine + std::string(eol);
    } else if (!key) {
        replaceFrom = header;
        replaceTo = static_cast<long>(SectionEnd(lines, static_cast<size_t>(header)));
    } else {
        const long at = FindKey(lines, static_cast<size_t>(header), key);
        if (at >= 0) {
            replaceFrom = at;
            replaceTo = at + 1;
            const Line& line = lines[static_cast<size_t>(at)];
            // The key keeps the spelling it already has in the file.
            if (value)
                insert =
                    std::string(line.name) + "=" + value + std::string(line.end.empty() ? eol : line.end);
        } else if (!value) {
            return TRUE;
        } else {
            // After the section's last key, ahead of the blank lines that part it from the next.
            long after = header;
            const long end = static_cast<long>(SectionEnd(lines, static_cast<size_t>(header)));
            for (long i = header + 1; i < end; ++i) {
                if (!Trim(lines[static_cast<size_t>(i)].text).empty()) after = i;
            }
            replaceFrom = replaceTo = after + 1;
            if (lines[static_cast<size_t>(after)].end.empty()) insert += eol;
            insert += newLine + std::string(eol);
        }
    }

    std::string updated;
    updated.reserve(contents.size() + insert.size());
    if (contents.compare(0, 3, "\xEF\xBB\xBF") == 0) updated = "\xEF\xBB\xBF";
    for (long i = 0; i < static_cast<long>(lines.size()); ++i) {
        if (i == replaceFrom) updated += insert;
        if (i >= replaceFrom && i < replaceTo) continue;
        updated += lines[static_cast<size_t>(i)].text;
        updated += lines[static_cast<size_t>(i)].end;
    }
    if (replaceFrom == static_cast<long>(lines.size())) updated += insert;
    return platform::ReplaceWholeFile(file, updated) ? TRUE : FALSE;
}
