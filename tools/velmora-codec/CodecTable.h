#pragma once
// What velmora-codec adds to the program's coding table: defaults for the
// command line, its frame sizes and the reasons it gives a user for refusing a
// format. The name and the codec object come from the coding table.
#include <cstdint>
#include <memory>

#include "common/Codec.h"
#include "common/Records.h"

struct CodecEntry {
    int codingType;
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

// The coding table's name of an entry.
const char* CodecName(const CodecEntry& entry);
// A codec object for the entry, freed by the coding table's maker.
struct CodecDeleter {
    void (*destroy)(CCodec*) = nullptr;
    void operator()(CCodec* codec) const { destroy(codec); }
};
using CodecPtr = std::unique_ptr<CCodec, CodecDeleter>;
CodecPtr CreateCodec(const CodecEntry& entry);
// Null when the coding type has no entry (not a type, or not built yet).
const CodecEntry* FindCodecEntry(int codingType);
// The entries, for the usage text.
const CodecEntry* CodecEntries(int* count);
