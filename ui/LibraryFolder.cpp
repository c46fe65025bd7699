#include "ui/LibraryFolder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "common/Codes.h"
#include "platform/FileApi.h"

namespace {

std::string SlotPrefix(int slot) {
    char text[8];
    std::snprintf(text, sizeof text, "%04d", slot);
    return text;
}

bool EndsWith(const std::string& s, const char* tail) {
    const std::string t(tail);
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

int LeadingNumber(const std::string& name) {
    int n = 0;
    for (size_t i = 0; i < 4 && i < name.size() && name[i] >= '0' && name[i] <= '9'; ++i) n = n * 10 + (name[i] - '0');
    return n;
}

}  // namespace

CLibraryFolder::CLibraryFolder(std::string folder) : m_folder(std::move(folder)) {
    if (m_folder.empty()) m_folder = ".";
    std::error_code ec;
    std::filesystem::create_directory(m_folder, ec);
}

std::vector<LibraryClip> CLibraryFolder::List() const {
    std::vector<LibraryClip> clips;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(m_folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!EndsWith(name, ".mpcm") && !EndsWith(name, ".spcm")) continue;
        LibraryClip c;
        c.slot = LeadingNumber(name);
        c.fileName = name;
        const std::string stem = name.substr(0, name.size() - 5);
        c.title = stem.size() > 5 ? stem.substr(5) : std::string();
        clips.push_back(std::move(c));
    }
    // By number, not by text: slot 100 comes after 99, not between 10 and 11.
    std::sort(clips.begin(), clips.end(), [](const LibraryClip& a, const LibraryClip& b) {
        return a.slot != b.slot ? a.slot < b.slot : a.fileName < b.fileName;
    });
    return clips;
}

std::string CLibraryFolder::FindSlotFile(int slot) const {
    const std::string prefix = SlotPrefix(slot);
    std::string first;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(m_folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) == 0 && (first.empty() || name < first)) first = name;
    }
    return first;
}

std::string CLibraryFolder::MakeClipFileName(const std::string& sourceName, int deviceMode) const {
    std::string base = sourceName;
    const size_t slash = base.find_last_of("/\\");
    if (slash != std::string::npos) base = base.substr(slash + 1);
    const size_t dot = base.find_last_of('.');
    const std::string title = dot == std::string::npos ? std::string() : base.substr(0, dot);
    for (int slot = 1; slot <= kMaxSlots; ++slot) {
        if (FindSlotFile(slot).empty())
            return PathOf(SlotPrefix(slot) + " " + title + (deviceMode == DEVICEMODE_MONO ? ".mpcm" : ".spcm"));
    }
    return std::string();
}

int CLibraryFolder::RenameSlot(int from, int to) {
    const std::string name = FindSlotFile(from);
    if (name.empty()) return 0;
    if (!FindSlotFile(to).empty()) return 0;
    const std::string target = SlotPrefix(to) + name.substr(std::min<size_t>(4, name.size()));
    return MoveFileA(PathOf(name).c_str(), PathOf(target).c_str()) ? 1 : 0;
}

int CLibraryFolder::RemoveSlot(int slot) {
    const std::string name = FindSlotFile(slot);
    if (name.empty() || !DeleteFileA(PathOf(name).c_str())) return 0;
    const int k = LeadingNumber(name);
    for (int s = k + 1; s <= kMaxSlots && RenameSlot(s, s - 1); ++s) {
    }
    return 1;
}

int CLibraryFolder::MoveSlot(int from, int to) {
    if (from == to || to < 1 || to > kMaxSlots) return 0;
    if (!RenameSlot(from, 0)) return 0;
    if (to < from) {
        for (int s = from - 1; s >= to && RenameSlot(s, s + 1); --s) {
        }
    } else {
        for (int s = from + 1; s <= to && RenameSlot(s, s - 1); ++s) {
        }
    }
    if (RenameSlot(0, to)) return 1;
    // The target stayed taken (a gap stopped the shift): the clip goes back rather than stay at 0.
    return RenameSlot(0, from);
}

int CLibraryFolder::GetLastSlotOfRun() const {
    int slot = 0;
    while (slot < kMaxSlots && !FindSlotFile(slot + 1).empty()) ++slot;
    return slot;
}
