#pragma once
// The settings the start-up reads, in one place. Each value comes from the
// settings store's getter of the same name at the moment it is needed.
#include <string>

namespace StartupSettings {
std::string GetMainWinClass();
int GetMainNoSplash();
int GetMainStartDelay();
int GetMainFastCPU();
std::string GetMainLanguage();
int GetOptionsTrace();
int GetMiniISDNEnabled();
int GetARIPPortNumber();
}  // namespace StartupSettings
