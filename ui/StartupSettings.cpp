#include "ui/StartupSettings.h"

#include "common/Settings.h"

// Each read goes to the file again, as every settings read does.
namespace StartupSettings {
std::string GetMainWinClass() { return CSettings().GetMainWinClass(); }
int GetMainNoSplash() { return CSettings().GetMainNoSplash(); }
int GetMainStartDelay() { return CSettings().GetMainStartDelay(); }
int GetMainFastCPU() { return CSettings().GetMainFastCPU(); }
std::string GetMainLanguage() { return CSettings().GetMainLanguage(); }
int GetOptionsTrace() { return CSettings().GetOptionsTrace(); }
int GetMiniISDNEnabled() { return CSettings().GetMiniISDNEnabled(); }
int GetARIPPortNumber() { return CSettings().GetARIPPortNumber(); }
}  // namespace StartupSettings
