#pragma once
// The intensity-stereo record of one granule: from which band the right
// channel is carried only by positions, and the position of every band above
// that bound. The psychoacoustic model writes it; the quantisation loop takes
// the positions as the right channel's scale factors.

inline constexpr int kIsLongSlots = 22;
inline constexpr int kIsShortSlots = 13;

struct IsRecord {
    int word;                         // 0
    int longBound;                    // first long intensity band
    int shortBound[3];                // first short intensity band of each window
    int longCount;                    // long intensity bands
    int shortCount[3];                // short intensity bands of each window
    int longPos[kIsLongSlots];        // position per long band from the bound
    int shortPos[3][kIsShortSlots];   // position per short band and window from the bound
};
