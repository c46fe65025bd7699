#include "platform/WorkingDirectory.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace platform {

bool GetWorkingDirectory(std::string& out) {
    out.clear();
    // Grows past the usual limit rather than cutting a deep path.
    for (size_t size = 256; size <= (1u << 20); size *= 2) {
        std::vector<char> buffer(size);
        if (::getcwd(buffer.data(), buffer.size())) {
            out = buffer.data();
            return true;
        }
        if (errno != ERANGE) return false;
    }
    return false;
}

}  // namespace platform
