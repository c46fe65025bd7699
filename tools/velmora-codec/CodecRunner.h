#pragma once
// Drives one direction of a CCodec the way the audio engine does: set the
// format, open, ask the frame size, code frame by frame, close.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/Codec.h"
#include "common/Records.h"

// PCM in, coded bytes out. Capture arrives in blocks of the encoder frame size;
// Encode is called whenever a whole frame is waiting, with the whole capture
// fill offered. The tail is offered as it is; what the codec leaves of it is
// padded with silence to a whole frame.
bool RunEncoder(CCodec& codec, const AudioFormat& format, const std::vector<int16_t>& pcm,
                std::vector<uint8_t>* coded, std::string* error);

// Coded bytes in, PCM out. Decode is offered exactly one frame of the format's
// frameBytes at a time; a shorter tail is offered as it is at the end, then
// nothing, until the codec hands out no more of what it holds. Each call's PCM
// goes to the sink as it comes; a sink returning false stops the run.
using PcmSink = std::function<bool(const int16_t* samples, size_t count)>;
bool RunDecoder(CCodec& codec, const AudioFormat& format, const std::vector<uint8_t>& coded, const PcmSink& sink,
                std::string* error);
