#include "platform/UserName.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

int GetUserNameA(char* buffer, uint32_t* size) {
    if (!size) return 0;
    const char* name = nullptr;
    passwd entry;
    passwd* found = nullptr;
    char scratch[1024];
    if (::getpwuid_r(::geteuid(), &entry, scratch, sizeof scratch, &found) == 0 && found && found->pw_name)
        name = found->pw_name;
    if (!name || !*name) name = std::getenv("USER");
    if (!name || !*name) return 0;
    const size_t need = std::strlen(name) + 1;
    if (!buffer || need > *size) {
        *size = static_cast<uint32_t>(need);
        return 0;
    }
    std::memcpy(buffer, name, need);
    *size = static_cast<uint32_t>(need);
    return 1;
}
