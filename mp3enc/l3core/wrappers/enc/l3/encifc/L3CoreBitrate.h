#pragma once
// The bit-rate check of l3core: which bit rates it codes in mono and stereo,
// the coded rate and the stereo tools each range suits. Any thread.
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreConfig.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreFormat.h"

// Refuses a bit rate outside 8000..320000 and stereo below 20000; otherwise
// sets the coded rate, the stereo-tool flags and the hfs flag of params.
// config null: the defaults.
EncError* L3CoreCheckBitrate(const L3CoreInput* input, L3CoreParams* params, const L3CoreConfig* config);
