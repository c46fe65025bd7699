#pragma once
// Whole-file reads and crash-safe whole-file replacement for the small stores
// (INI profile, registry). Callers serialise writers to one file themselves.
#include <string>

namespace platform {

// Entire contents; false (and `out` empty) when the file cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& out);

// Writes `data` to a temporary file in the same folder, flushes it to disk and
// renames it over `path`, so readers and crashes see the old or the new file,
// never a mixture. An existing read-only file is refused, like an open for
// writing would be; an existing file's permission bits carry over.
bool ReplaceWholeFile(const std::string& path, const std::string& data);

// Holds an advisory lock on the folder of `path` for its lifetime, so that
// read-change-rewrite cycles on files in that folder do not interleave
// between processes either. A folder that cannot be opened is simply not
// locked: the write that follows fails or succeeds on its own.
class CFolderLock {
public:
    explicit CFolderLock(const std::string& path);
    ~CFolderLock();
    CFolderLock(const CFolderLock&) = delete;
    CFolderLock& operator=(const CFolderLock&) = delete;

private:
    int m_fd = -1;
};

}  // namespace platform
