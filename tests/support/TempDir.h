#pragma once
// A fresh folder per test, removed afterwards. Test cases run as parallel
// processes, so the name carries the process id and a random part.
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

class CTempDir {
public:
    CTempDir() {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() /
                 ("velmora-test-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
    }
    ~CTempDir() {
        std::error_code ec;
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};
