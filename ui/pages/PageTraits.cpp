#include "ui/pages/PageTraits.h"

namespace {

constexpr COLORREF Rgb(int r, int g, int b) {
    return static_cast<COLORREF>(r) | static_cast<COLORREF>(g) << 8 | static_cast<COLORREF>(b) << 16;
}

constexpr PageTraits kIsdn = {
    32, "ISDN", 10, "Dial", 11, "HangUp", 106, "ISDN is not available!", 4, false,
    2013, 2014, 2035, 2038, 2036, 2037, 2016,
    2027, 2028, 2031, 2032, 2033, 2034, 2001,
    2341, 2340,
    Rgb(85, 85, 119), Rgb(119, 119, 153), Rgb(213, 213, 238), Rgb(187, 187, 221), Rgb(34, 34, 85), Rgb(176, 176, 208),
    Rgb(85, 85, 119), Rgb(34, 34, 85), Rgb(221, 221, 255), Rgb(187, 187, 221)};

constexpr PageTraits kNetwork = {
    16, "Network / IP", 12, "Connect", 13, "Stop", 108, "Network is not available", 4, false,
    3007, 3002, 3001, 3003, 3004, 3005, 3006,
    3019, 3020, 3017, 3018, 3015, 3016, 3023,
    3337, 3336,
    Rgb(68, 102, 85), Rgb(102, 136, 119), Rgb(187, 238, 204), Rgb(170, 204, 187), Rgb(17, 51, 17), Rgb(170, 204, 187),
    Rgb(68, 102, 85), Rgb(17, 51, 17), Rgb(221, 255, 255), Rgb(170, 204, 187)};

constexpr PageTraits kMulticast = {
    128, "Multicast Network", 14, "Start", 13, "Stop", 108, "Network is not available", 2, true,
    4033, 4001, 4003, 4004, 4005, 4006, 4007,
    4014, 4015, 4018, 4019, 4020, 4021, 4025,
    4032, 4032,
    Rgb(68, 102, 85), Rgb(119, 136, 102), Rgb(204, 238, 187), Rgb(187, 204, 170), Rgb(0, 51, 0), Rgb(187, 204, 170),
    Rgb(68, 102, 85), Rgb(0, 51, 0), Rgb(221, 255, 221), Rgb(187, 204, 170)};

}  // namespace

const PageTraits& PageTraitsOf(int kind) {
    if (kind == kIsdn.kind) return kIsdn;
    if (kind == kMulticast.kind) return kMulticast;
    return kNetwork;
}

DialogColours DialogColoursOf(const PageTraits& traits) {
    return {traits.dialogControlText, traits.dialogQuestionText, traits.dialogEdit, traits.dialogBackground};
}
