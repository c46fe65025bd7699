// Lists the built-in drivers where the program looks for ASIO drivers, as a
// driver's installer would: its key under "software\asio" and its class id.
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#include "platform/AsioApi.h"
#include "platform/AsioDrivers.h"
#include "platform/Registry.h"
#include "platform/WinError.h"

namespace {

// The in-process server of a built-in driver is the running program.
std::string ProgramPath() {
    char path[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string("/proc/self/exe");
}

// Writes a string value unless it already holds that text (every write
// rewrites the whole store).
void SetString(HKEY key, const char* name, const std::string& text) {
    char old[600] = {};
    DWORD size = sizeof old - 1, type = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS &&
        type == REG_SZ && size == text.size() + 1 && std::memcmp(old, text.c_str(), size) == 0)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
}

bool List(const AsioDriverListing& d, const std::string& server) {
    char id[40];
    StringFromCLSID(d.clsid, id, sizeof id);
    HKEY key = nullptr;
    const std::string driverKey = "software\\asio\\" + d.name;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, driverKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    SetString(key, "clsid", id);
    SetString(key, "description", d.name);
    RegCloseKey(key);
    const std::string classKey = std::string("clsid\\") + id + "\\InprocServer32";
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, classKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    SetString(key, "", server);
    RegCloseKey(key);
    return true;
}

}  // namespace

int AsioInstallDrivers() {
    AsioJackRegisterClass();
    AsioVirtualDriversLoad();
    const std::string server = ProgramPath();
    int listed = 0;
    if (List({"JACK", kJackAsioClsid}, server)) ++listed;
    for (const AsioDriverListing& d : AsioVirtualDrivers())
        if (List(d, server)) ++listed;
    return listed;
}
