#pragma once
// The coding types velmora-codec knows. Each codec adds one entry to the table
// in CodecTable.cpp and nothing else.
#include <cstdint>

#include "common/Codec.h"
#include "common/Records.h"

struct CodecEntry {
    int codingType;
    const char* name;
    // A fresh codec object that lives as long as the tool runs.
    CCodec* (*create)();
    int defaultRate;  // Hz, when neither --rate nor the WAV file gives one
    int defaultMode;  // device mode when --mode is not given
    // Coded bytes of one frame, as the call engine fills AudioFormat::frameBytes.
    int (*frameBytes)(const AudioFormat& format);
    // Empty when the codec takes the format; else the reason, for the user.
    const char* (*refuse)(const AudioFormat& format);
    // Silent samples per channel the tool appends to the input so that a codec
    // with look-ahead hands out all of it.
    int tailSamples;
};

// Null when the coding type has no entry (not a type, or not built yet).
const CodecEntry* FindCodecEntry(int codingType);
// The entries, for the usage text.
const CodecEntry* CodecEntries(int* count);
