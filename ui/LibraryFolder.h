#pragma once
// The audio library's folder of clips: one clip per numbered slot (1 to 998),
// named "%04d <title>.mpcm" (mono) or ".spcm" (stereo), raw 16-bit PCM at
// 48 kHz. Lists the clips in slot order and inserts, removes, moves and
// renumbers slots; a rename never replaces an existing file. Plain C++ for
// the library box; GUI thread.
#include <string>
#include <vector>

struct LibraryClip {
    int slot = 0;
    std::string fileName;  // within the folder
    std::string title;
};

class CLibraryFolder {
public:
    // Takes the folder into use and creates it (one level; a failure only
    // shows as an empty list).
    explicit CLibraryFolder(std::string folder);
    const std::string& GetFolder() const { return m_folder; }
    std::string PathOf(const std::string& fileName) const { return m_folder + "/" + fileName; }

    // ".mpcm" and ".spcm" files in numeric slot order (a name without
    // leading digits lists as slot 0).
    std::vector<LibraryClip> List() const;
    // The first file of a slot ("%04d" and any rest); empty when none.
    std::string FindSlotFile(int slot) const;
    // The full path for a new clip from `sourceName` in the first free slot;
    // empty when all 998 are taken.
    std::string MakeClipFileName(const std::string& sourceName, int deviceMode) const;
    // 1 when slot `from`'s file now carries number `to`; 0 when there is no
    // such file or `to` is taken.
    int RenameSlot(int from, int to);
    // Deletes the slot's file and moves every following slot one down; 1 on success.
    int RemoveSlot(int slot);
    // Moves a clip to another slot, shifting the ones between; 1 on success.
    int MoveSlot(int from, int to);
    // The last slot of the unbroken run from slot 1 (0 for an empty library).
    int GetLastSlotOfRun() const;

    static constexpr int kMaxSlots = 998;

private:
    std::string m_folder;
};
