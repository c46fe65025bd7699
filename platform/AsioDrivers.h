#pragma once
// The built-in ASIO drivers as the registry lists them. Internal to platform/.
#include <string>
#include <vector>

#include "platform/Com.h"

struct AsioDriverListing {
    std::string name;
    CLSID clsid;
};

extern const CLSID kJackAsioClsid;
void AsioJackRegisterClass();
void AsioVirtualDriversLoad();  // VELMORA_VIRTUAL_ASIO, once per process
std::vector<AsioDriverListing> AsioVirtualDrivers();
