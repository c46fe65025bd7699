#pragma once
// Whole files as strings, for tests that write a file by hand or check one byte for byte.
#include <fstream>
#include <sstream>
#include <string>

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void Spit(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}
