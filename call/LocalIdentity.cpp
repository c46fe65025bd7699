#include "call/LocalIdentity.h"

#include <cstring>
#include <string>

namespace {
void CopyText(char* dst, size_t size, const char* src) {
    if (size == 0) return;
    std::strncpy(dst, src, size - 1);
    dst[size - 1] = '\0';
}
}  // namespace

StationIdentity ReadLocalIdentity(const CSettings& settings, CRegistryKey* registry, uint32_t* registryVersion) {
    std::string id = settings.GetMainIDString();
    if (registry && registry->Open(kStationRegistryPath, false)) {
        uint32_t version = registry->QueryDword("Version");
        if (version < kStationRegistryVersion) {
            registry->SetDword("Version", kStationRegistryVersion);
            version = kStationRegistryVersion;
        }
        if (registryVersion) *registryVersion = version;
        if (id.empty()) {
            char name[40] = {};
            if (registry->QueryString("Name", name, sizeof name)) {
                id = name;
                settings.SetMainIDString(name);
            }
        }
        registry->Close();
    }
    StationIdentity local;
    CopyText(local.stationName, sizeof local.stationName, id.c_str());
    CopyText(local.productName, sizeof local.productName, "Velmora");
    CopyText(local.editionName, sizeof local.editionName, "Transvoria");
    CopyText(local.versionText, sizeof local.versionText, "V1.5b  ");
    CopyText(local.buildDate, sizeof local.buildDate, "20-Jan-2010");
    local.versionNumber = kStationVersionNumber;
    return local;
}
