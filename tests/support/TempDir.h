#pragma once
// A fresh folder per test, removed afterwards (read-only files and folders
// included). Test cases run as parallel processes, so the name carries the
// process id and a random part; the tag only helps a reader of /tmp.
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

class CTempDir {
public:
    explicit CTempDir(const std::string& tag = "test") {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() /
                 ("velmora-" + tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(rd()));
        std::error_code ec;
        std::filesystem::create_directories(m_path, ec);
        m_ok = !ec;
    }
    ~CTempDir() {
        std::error_code ec;
        for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
             !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            std::error_code ignored;
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
        }
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ec);
        std::filesystem::remove_all(m_path, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    bool Ok() const { return m_ok; }
    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }
    std::string operator/(const std::string& name) const { return File(name); }

private:
    std::filesystem::path m_path;
    bool m_ok = false;
};
