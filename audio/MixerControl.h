#pragma once
// The mixer lines of one WAVE device for the user interface: the recording
// destination with its sources (input selection, recording levels) or the
// playback destination, one record per line with the ids and ranges of four
// kinds of control, values read and written by line id and kind. With a
// window, changes made anywhere reach it as MM_MIXM_CONTROL_CHANGE.
//
// Threads: the thread that opened it (the GUI thread).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/MixerApi.h"

// Control kinds.
constexpr int kMixerSelector = 10;  // the line's MUX control, else its MIXER control
constexpr int kMixerVolume = 20;
constexpr int kMixerPeakMeter = 30;
constexpr int kMixerMute = 40;

struct MixerControlInfo {
    int32_t id = -1;  // -1 when the line lacks the control
    int32_t items = 0;
    int32_t uniform = 0;
    int32_t minimum = 0;
    int32_t maximum = 0;
};

struct MixerLineRecord {
    int32_t lineId = 0;
    char name[40] = {};
    MixerControlInfo controls[4];  // mute, volume, peak meter, selector
};
static_assert(sizeof(MixerControlInfo) == 20);
static_assert(sizeof(MixerLineRecord) == 124);
static_assert(offsetof(MixerLineRecord, controls) == 44);

class CMixerControl {
public:
    CMixerControl() = default;
    ~CMixerControl() { Close(); }
    CMixerControl(const CMixerControl&) = delete;
    CMixerControl& operator=(const CMixerControl&) = delete;

    int Open(int mixerId, int isInput, HWND window);
    void Close();
    int GetLineCount() const { return static_cast<int>(m_lines.size()); }
    int GetLineInfo(int index, int* lineId, char* name, int kind) const;  // name: at least 40 bytes
    int GetLineName(int lineId, char* name) const;                          // name: at least 40 bytes
    int IsHandle(HMIXER h) const { return h != nullptr && h == m_mixer ? 1 : 0; }
    int GetControlId(int lineId, int kind) const;
    int GetControlItems(int lineId, int kind) const;
    int GetControlRange(int lineId, int kind, int* minimum, int* maximum) const;
    int GetValue(int lineId, int kind) const;
    int GetValueById(int controlId) const;
    int SetValue(int lineId, int kind, int value);
    int GetItemTexts(int controlId, void* texts, int items) const;  // 72-byte entries
    int SetItemValues(int controlId, const int* values, int items);

private:
    const MixerLineRecord* FindLine(int lineId) const;
    static int Slot(int kind);
    bool AddLine(const MIXERLINEA& line);

    int m_isInput = 0;
    HMIXER m_mixer = nullptr;
    MIXERCAPSA m_caps;
    int m_destination = -1;
    int m_connections = 0;
    char m_destinationName[64] = {};
    std::vector<MixerLineRecord> m_lines;  // the destination first
};
