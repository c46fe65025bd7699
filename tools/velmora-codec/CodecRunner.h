#pragma once
// Drives one direction of a CCodec the way the audio engine does: set the
// format, open, ask the frame size, code frame by frame, close. Input comes
// from a source and output goes to a sink as the coding goes, so a long file
// is never held whole.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/Codec.h"
#include "common/Records.h"

// Fill up to room values; 0 when there are no more.
using PcmSource = std::function<size_t(int16_t* samples, size_t room)>;
using ByteSource = std::function<size_t(uint8_t* bytes, size_t room)>;
// Take count values; false stops the run.
using ByteSink = std::function<bool(const uint8_t* bytes, size_t count)>;
using PcmSink = std::function<bool(const int16_t* samples, size_t count)>;

// PCM in, coded bytes out. Capture arrives in blocks of the encoder frame size;
// Encode is called whenever a whole frame is waiting, with the whole capture
// fill offered. The tail is offered as it is; what the codec leaves of it is
// padded with silence to a whole frame.
bool RunEncoder(CCodec& codec, const AudioFormat& format, const PcmSource& pcm, const ByteSink& coded,
                std::string* error);

// Coded bytes in, PCM out. Decode is offered exactly one frame of the format's
// frameBytes at a time; a shorter tail is offered as it is at the end, then
// nothing, until the codec hands out no more of what it holds. Each call's PCM
// goes to the sink as it comes; a sink returning false stops the run.
bool RunDecoder(CCodec& codec, const AudioFormat& format, const ByteSource& coded, const PcmSink& sink,
                std::string* error);
