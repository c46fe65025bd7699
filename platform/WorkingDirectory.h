#pragma once
// The process's current directory, as the settings store names its file by it.
#include <string>

namespace platform {
// False when the directory cannot be obtained (removed, no rights).
bool GetWorkingDirectory(std::string& out);
}  // namespace platform
