#include "ui/framework/ToolkitAssert.h"

#include <wx/debug.h>
#include <wx/string.h>

#include <cstdio>
#include <cstdlib>

namespace {

void LogAssert(const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg) {
    std::fprintf(stderr, "Toolkit assertion: %s(%d): \"%s\" failed in %s(): %s\n", file.utf8_str().data(), line,
                 cond.utf8_str().data(), func.utf8_str().data(), msg.utf8_str().data());
    std::fflush(stderr);
    if (std::getenv("VELMORA_TOOLKIT_ASSERTS_FATAL")) std::abort();
}

}  // namespace

void InstallToolkitAssertHandler() { wxSetAssertHandler(&LogAssert); }
