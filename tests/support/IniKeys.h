#pragma once
// The keys of an INI file as "Section/Key" -> value, to see exactly what a
// dialog wrote.
#include <fstream>
#include <map>
#include <string>

inline std::map<std::string, std::string> IniKeys(const std::string& path) {
    std::map<std::string, std::string> keys;
    std::ifstream in(path);
    std::string line, section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const size_t eq = line.find('=');
        if (eq != std::string::npos) keys[section + "/" + line.substr(0, eq)] = line.substr(eq + 1);
    }
    return keys;
}
