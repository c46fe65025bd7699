#pragma once
// Block-type codes and the sample-rate class that every psychoacoustic module
// switches on. Codes 0, 1, 3, 4 and 6 form the long group, 2 the short group
// and 5 the mixed group.

inline constexpr int kBlockLong = 0;
inline constexpr int kBlockStart = 1;
inline constexpr int kBlockShort = 2;
inline constexpr int kBlockStop = 3;
inline constexpr int kBlockMixedStart = 4;
inline constexpr int kBlockMixedShort = 5;
inline constexpr int kBlockMixedStop = 6;

inline constexpr int kLongBandSlots = 22;   // 21 bands and the rest band
inline constexpr int kShortBandSlots = 13;  // 12 bands and the rest band
inline constexpr int kShortWindows = 3;
inline constexpr int kGranuleLines = 576;     // lines of a granule's transform
inline constexpr int kShortWindowLines = 192;  // lines of one short window

inline constexpr bool IsLongGroup(int blockType) {
    return blockType == kBlockLong || blockType == kBlockStart || blockType == kBlockStop ||
           blockType == kBlockMixedStart || blockType == kBlockMixedStop;
}

// 0 MPEG-1 (above 24000 Hz), 1 MPEG-2 (above 12000 Hz), 2 MPEG-2.5.
inline constexpr int RateClassOf(float sampleRate) {
    return sampleRate > 24000.0f ? 0 : sampleRate > 12000.0f ? 1 : 2;
}

// Long scale-factor bands of a mixed block.
inline constexpr int MixedLongBands(int rateClass) { return rateClass == 0 ? 8 : 6; }
