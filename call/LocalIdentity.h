#pragma once
// This station's identity as the peer sees it: its name from [Main] IDString,
// else from the registry (then written to IDString), and the program's fixed
// product, edition, version and build texts. The registry's version number
// is raised to this program's. Worker thread or start-up.
#include <cstdint>

#include "common/RegistryKey.h"
#include "common/Settings.h"
#include "common/StationIdentity.h"

constexpr const char* kStationRegistryPath = "Software\\Qiv\\Velmora\\Transvoria";
constexpr uint32_t kStationRegistryVersion = 66818;

// registry may be null (no registry); *registryVersion (when given) gets the
// version found or written, and is left alone without a registry key.
StationIdentity ReadLocalIdentity(const CSettings& settings, CRegistryKey* registry, uint32_t* registryVersion);
