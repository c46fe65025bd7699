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

}  // namespace platform
