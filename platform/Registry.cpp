#include "platform/Registry.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/WinError.h"

struct RegistryKeyObject {
    std::string path;  // "HKEY_LOCAL_MACHINE\Software\..." as first created
    DWORD access = 0;
};

namespace {

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
};

struct Key {
    std::string path;  // display spelling
    std::string keyClass;
    std::map<std::string, Value> values;  // by lower-case name
};

using Store = std::map<std::string, Key>;  // by lower-case path

std::mutex& StoreLock() {
    static std::mutex s_lock;
    return s_lock;
}

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    }
    return s;
}

// Names and paths go to the file with anything that could break a line or
// the layout written as %XX.
std::string Escape(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x21 || c == '%' || c == '=' || c == '[' || c == ']' || c == ':' || c == '@' || c >= 0x7F) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool Unescape(const std::string& s, std::string& out) {
    out.clear();
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            out += s[i];
            continue;
        }
        if (i + 2 >= s.size()) return false;
        const int hi = HexDigit(s[i + 1]), lo = HexDigit(s[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

bool FromHex(const std::string& s, std::string& out) {
    out.clear();
    if (s.size() % 2) return false;
    for (size_t i = 0; i < s.size(); i += 2) {
        const int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

std::string ToHex(const std::string& s) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

// File layout, one item a line:
//   [<path>]                 a key
//   ;class=<class>           its class string
//   <name>=<type>:<hex data> one of its values ("@" is the unnamed value)
// Lines that do not parse are skipped, so a damaged store loses only them.
Store Parse(const std::string& text) {
    Store store;
    Key* current = nullptr;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            std::string path;
            if (!Unescape(line.substr(1, line.size() - 2), path) || path.empty()) {
                current = nullptr;
                continue;
            }
            Key& key = store[Lower(path)];
            if (key.path.empty()) key.path = path;
            current = &key;
            continue;
        }
        if (!current) continue;
        if (line.rfind(";class=", 0) == 0) {
            Unescape(line.substr(7), current->keyClass);
            continue;
        }
        const size_t eq = line.find('=');
        const size_t colon = eq == std::string::npos ? eq : line.find(':', eq);
        if (colon == std::string::npos) continue;
        Value v;
        std::string rawName = line.substr(0, eq);
        if (rawName != "@" && !Unescape(rawName, v.name)) continue;
        const std::string typeText = line.substr(eq + 1, colon - eq - 1);
        char* stop = nullptr;
        const unsigned long type = std::strtoul(typeText.c_str(), &stop, 10);
        if (typeText.empty() || *stop || type > 0xFFFFFFFFul) continue;
        v.type = static_cast<DWORD>(type);
        if (!FromHex(line.substr(colon + 1), v.data)) continue;
        current->values[Lower(v.name)] = v;
    }
    return store;
}

std::string Format(const Store& store) {
    std::string out = "; Velmora registry store. Written by the program; edit with care.\n";
    for (const auto& [lower, key] : store) {
        out += "[" + Escape(key.path) + "]\n";
        if (!key.keyClass.empty()) out += ";class=" + Escape(key.keyClass) + "\n";
        for (const auto& [lowerName, v] : key.values) {
            out += (v.name.empty() ? std::string("@") : Escape(v.name)) + "=" + std::to_string(v.type) + ":" +
                   ToHex(v.data) + "\n";
        }
    }
    return out;
}

thread_local std::string t_storePath;  // what RegistryStorePath() hands out, per thread

std::string CurrentStorePath() {
    if (const char* chosen = std::getenv("VELMORA_REGISTRY_FILE"); chosen && *chosen) return chosen;
    const char* home = std::getenv("HOME");
    if (home && *home) return std::string(home) + "/.velmora/registry";
    return "velmora-registry";
}

Store Load() {
    std::string text;
    platform::ReadWholeFile(CurrentStorePath(), text);
    return Parse(text);
}

bool Save(const Store& store) { return platform::ReplaceWholeFile(CurrentStorePath(), Format(store)); }

// For a change: the store's folder exists and is locked against other
// processes changing the store at the same time.
class CStoreChange {
public:
    CStoreChange() : m_lock(MakeFolder(CurrentStorePath())) {}

private:
    static std::string MakeFolder(const std::string& path) {
        const size_t slash = path.find_last_of('/');
        if (slash != std::string::npos && slash > 0) ::mkdir(path.substr(0, slash).c_str(), 0700);
        return path;
    }
    platform::CFolderLock m_lock;
};

const char* RootName(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    return nullptr;
}

// Full path of `subKey` below `parent`, with separators tidied; false for a
// bad parent or a name the store cannot hold.
bool Resolve(HKEY parent, const char* subKey, std::string& path) {
    if (const char* root = RootName(parent)) {
        path = root;
    } else if (parent) {
        path = parent->path;
    } else {
        return false;
    }
    if (!subKey) return true;
    std::string part;
    for (const char* p = subKey;; ++p) {
        if (*p == '\\' || *p == '\0') {
            if (!part.empty()) path += "\\" + part;
            part.clear();
            if (!*p) break;
        } else if (*p == '\n' || *p == '\r') {
            return false;
        } else {
            part += *p;
        }
    }
    return true;
}

std::vector<std::string> Prefixes(const std::string& path) {
    std::vector<std::string> all;
    for (size_t i = path.find('\\'); i != std::string::npos; i = path.find('\\', i + 1)) {
        all.push_back(path.substr(0, i));
    }
    all.push_back(path);
    return all;
}

bool KeyExists(const Store& store, const std::string& path) {
    // The two roots always exist.
    if (path.find('\\') == std::string::npos) return true;
    return store.count(Lower(path)) != 0;
}

bool ValidKey(HKEY key) { return key && !RootName(key); }

}  // namespace

const char* RegistryStorePath() {
    t_storePath = CurrentStorePath();
    return t_storePath.c_str();
}

LONG RegOpenKeyExA(HKEY parent, const char* subKey, DWORD /*options*/, DWORD access, HKEY* result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string path;
    if (!Resolve(parent, subKey, path)) return ERROR_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(StoreLock());
    const Store store = Load();
    if (!KeyExists(store, path)) return ERROR_FILE_NOT_FOUND;
    const auto it = store.find(Lower(path));
    *result = new RegistryKeyObject{it == store.end() ? path : it->second.path, access};
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY parent, const char* subKey, DWORD /*reserved*/, const char* keyClass,
                     DWORD /*options*/, DWORD access, void* /*security*/, HKEY* result, DWORD* disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string path;
    if (!Resolve(parent, subKey, path)) return ERROR_INVALID_HANDLE;
    if (path.find('\\') == std::string::npos) return ERROR_ACCESS_DENIED;  // a root itself
    if (!RootName(parent) && !(parent->access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    std::lock_guard<std::mutex> lock(StoreLock());
    const CStoreChange change;
    Store store = Load();
    const bool existed = KeyExists(store, path);
    if (!existed) {
        for (const std::string& p : Prefixes(path)) {
            if (p.find('\\') == std::string::npos) continue;
            Key& k = store[Lower(p)];
            if (k.path.empty()) k.path = p;
        }
        if (keyClass) store[Lower(path)].keyClass = keyClass;
        if (!Save(store)) return ERROR_CANTWRITE;
    }
    if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = new RegistryKeyObject{store[Lower(path)].path, access};
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (RootName(key)) return ERROR_SUCCESS;
    if (!key) return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* /*reserved*/, DWORD* type, BYTE* data,
                      DWORD* size) {
    if (!ValidKey(key)) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
    if (data && !size) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(StoreLock());
    const Store store = Load();
    const auto k = store.find(Lower(key->path));
    if (k == store.end()) return ERROR_FILE_NOT_FOUND;
    const auto v = k->second.values.find(Lower(valueName ? valueName : ""));
    if (v == k->second.values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = v->second.type;
    const DWORD needed = static_cast<DWORD>(v->second.data.size());
    if (!data) {
        if (size) *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, v->second.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD /*reserved*/, DWORD type, const BYTE* data,
                    DWORD size) {
    if (!ValidKey(key)) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    if (!data && size) return ERROR_INVALID_PARAMETER;
    if (type == REG_DWORD && size != 4) return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> lock(StoreLock());
    const CStoreChange change;
    Store store = Load();
    const auto k = store.find(Lower(key->path));
    if (k == store.end()) return ERROR_FILE_NOT_FOUND;  // removed behind the handle
    Value v;
    v.name = valueName ? valueName : "";
    v.type = type;
    v.data.assign(reinterpret_cast<const char*>(data), size);
    k->second.values[Lower(v.name)] = v;
    return Save(store) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

LONG RegDeleteValueA(HKEY key, const char* valueName) {
    if (!ValidKey(key)) return ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
    std::lock_guard<std::mutex> lock(StoreLock());
    const CStoreChange change;
    Store store = Load();
    const auto k = store.find(Lower(key->path));
    if (k == store.end() || !k->second.values.erase(Lower(valueName ? valueName : ""))) {
        return ERROR_FILE_NOT_FOUND;
    }
    return Save(store) ? ERROR_SUCCESS : ERROR_CANTWRITE;
}

LONG RegEnumKeyA(HKEY key, DWORD index, char* name, DWORD nameSize) {
    std::string path;
    if (!Resolve(key, nullptr, path)) return ERROR_INVALID_HANDLE;
    if (ValidKey(key) && !(key->access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
    std::lock_guard<std::mutex> lock(StoreLock());
    const Store store = Load();
    const std::string prefix = Lower(path) + "\\";
    DWORD seen = 0;
    for (const auto& [lower, k] : store) {
        if (lower.compare(0, prefix.size(), prefix) != 0) continue;
        if (lower.find('\\', prefix.size()) != std::string::npos) continue;  // deeper
        if (seen++ != index) continue;
        const std::string child = k.path.substr(prefix.size());
        if (!name || nameSize <= child.size()) return ERROR_MORE_DATA;
        std::memcpy(name, child.c_str(), child.size() + 1);
        return ERROR_SUCCESS;
    }
    return ERROR_NO_MORE_ITEMS;
}
