#pragma once
// The MPEG audio frame header: the one parser, bit-rate and sample-rate
// look-up, frame-length and frame-duration rule of the program. Pure
// functions over the generated tables; any thread.
#include <cstdint>

// What a header says. Version 1 MPEG-1, 2 MPEG-2, 25 MPEG-2.5.
struct MpegHeader {
    int version = 0;
    int layer = 0;          // 1, 2 or 3
    int crc = 0;            // 1: a CRC word follows the header (protection_bit 0)
    int bitRateIndex = 0;
    int bitRate = 0;        // bit/s; 0 free format
    int samplingIndex = 0;
    int sampleRate = 0;     // Hz
    int padding = 0;
    int privateBit = 0;
    int mode = 0;           // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int modeExtension = 0;
    int copyright = 0;
    int original = 0;
    int emphasis = 0;
    int channels = 0;
    int samplesPerChannel = 0;  // of one frame
    int frameBytes = 0;         // padding included; 0 in free format
};

// The four header bytes, sync word first. False (and *out untouched) without
// the 11-bit sync, for a reserved version, layer or sampling frequency and
// for bit-rate index 15; free format (index 0) parses with frameBytes 0.
bool ParseMpegHeader(const uint8_t* bytes, MpegHeader* out);
// The same for the 32 header bits as a word, first stream bit highest.
bool ParseMpegHeaderWord(uint32_t word, MpegHeader* out);

// kbit/s of a bit-rate index; 0 free format; -1 forbidden or out of range.
int MpegBitRateKbps(int version, int layer, int index);
// Index 1..14 of a bit rate in kbit/s; 0 when the table has no such rate.
int MpegBitRateIndex(int version, int layer, int kbps);
// Hz of a sampling_frequency field; -1 reserved or out of range.
int MpegSampleRate(int version, int samplingIndex);
// Version (1, 2, 25) and field whose sampling frequency is `hz`; false for
// any other rate.
bool MpegVersionOfSampleRate(int hz, int* version, int* samplingIndex);
// Samples per channel in one frame; 0 for a bad version or layer.
int MpegFrameSamples(int version, int layer);

// Bytes of one frame, padding slot included; 0 for free format, a bad
// version or layer, or a rate of 0 or less.
int MpegFrameBytes(int version, int layer, int bitRate, int sampleRate, int padding);
// Microseconds of one frame, truncated; 0 for a bad argument.
uint32_t MpegFrameDurationUs(int version, int layer, int sampleRate);

// The call's coded block: 1152 samples per channel without a padding slot,
// which is one Layer II frame, one MPEG-1 Layer III frame or two MPEG-2
// Layer III frames (the unit the call engine and ISDN blocks move).
int MpegBytesPer1152Samples(int bitRate, int sampleRate);
uint32_t MpegMsPer1152Samples(int sampleRate);
