#include "ui/HelpFile.h"

#include <filesystem>
#include <system_error>

std::string CHelpFile::Path() const { return (std::filesystem::path(m_folder) / kFileName).string(); }

CHelpFile::Outcome CHelpFile::Open(const Opener& opener) const {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(Path(), ec)) return kMissing;
    return opener(Path()) ? kOpened : kNoViewer;
}

std::string CHelpFile::Explain(Outcome outcome) const {
    switch (outcome) {
        case kMissing: return "The help file \"" + std::string(kFileName) + "\" is not in the folder\n" + m_folder;
        case kNoViewer:
            return "No program to show the help file is installed.\nThe file is\n" + Path();
        default: return "";
    }
}
