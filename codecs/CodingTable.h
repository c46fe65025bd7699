#pragma once
// One row per coding type: everything the program knows of a coding type
// besides its codec class - its names, frame rules, how a format of it is
// completed, the transports a remote-control request may ask for it over,
// and the codec object that codes it. Adding a coding type adds a row in
// CodingTable.cpp and its codec class, nothing else. Any thread.
#include <cstdint>
#include <span>

#include "common/Codec.h"
#include "common/Records.h"

// How the device mode of a format of this type is completed.
enum class ModeRule {
    kMonoOrStereo,  // anything but mono becomes stereo
    kMono,          // always mono
    kMpegModes,     // mono, stereo, joint stereo or dual mono as given
};

// Makes and frees the codec object of a coding type; types sharing one class
// share its maker (and the audio engine one object).
struct CodecMaker {
    CCodec* (*create)() = nullptr;
    void (*destroy)(CCodec*) = nullptr;
};

template <class T>
inline constexpr CodecMaker kCodecOf = {[]() -> CCodec* { return new T; },
                                        [](CCodec* c) { delete static_cast<T*>(c); }};

struct CodingDescriptor {
    int codingType;
    const char* name;        // for people: "MPEG Layer II"
    const char* statusText;  // the status line's prefix: "MP-L2 "
    bool mpegFramed;         // MPEG frames: sync words, the MPEG bit-rate tables
    // Coded bytes of one frame the call moves; null = no frame (0).
    int (*frameBytes)(const AudioFormat& format, int fastCpu);
    // Nominal frame length in ms, truncated; 0 where none exists.
    uint32_t (*frameDurationMs)(const AudioFormat& format);
    ModeRule modeRule;
    int fixedSampleRate;        // Hz a request is set to; 0 = as asked
    int fixedBitRate;           // bit/s a request is set to; 0 = as asked
    bool fixedOnEveryFormat;    // the fixed rates hold for received and answer formats too
    // Bit rate of one channel derived from the sample rate, for formats
    // taken from a peer; null = the bit rate given stands for all channels.
    int64_t (*channelBitRate)(const AudioFormat& format);
    uint32_t requestTransports;  // TRANSPORT_* a remote-control request may ask for it over
    int tcpReceiveChunk;         // bytes the TCP transport hands on at once; 0 = two frames
    // Bytes the send FIFO keeps for coded frames of this length; null = one frame.
    int (*sendRoom)(int frameBytes);
    CodecMaker codec;            // no create: no codec (yet)
};

std::span<const CodingDescriptor> CodingTable();
// The row of a coding type; null for an unknown one.
const CodingDescriptor* FindCoding(int codingType);
