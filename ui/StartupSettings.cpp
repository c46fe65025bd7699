#include "ui/StartupSettings.h"

// The settings store is not linked in yet: every key yields its default.
namespace StartupSettings {
std::string GetMainWinClass() { return "VelmoraClass"; }
int GetMainNoSplash() { return 0; }
int GetMainStartDelay() { return 0; }
int GetMainFastCPU() { return -1; }
std::string GetMainLanguage() { return std::string(); }
int GetOptionsTrace() { return 0; }
int GetMiniISDNEnabled() { return 0; }
int GetARIPPortNumber() { return 0; }
}  // namespace StartupSettings
