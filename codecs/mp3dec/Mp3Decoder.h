// Layer III decoder library: MPEG-1, MPEG-2 and MPEG-2.5 Layer III byte streams
// in, PCM out, through five plain functions with Mp3Status results.
// A handle is used by one thread at a time; different handles are independent.
#pragma once

#include <cstdint>

using Mp3Status = uint32_t;

// Top two bits: 00 success, 01 information, 10 warning, 11 error.
inline constexpr Mp3Status MP3STATUS_OK = 0x00000000u;
inline constexpr Mp3Status MP3STATUS_E_PARAM = 0xC0000001u;
inline constexpr Mp3Status MP3STATUS_E_NOMEM = 0xC0000002u;
inline constexpr Mp3Status MP3STATUS_E_HANDLE = 0xC0000003u;
inline constexpr Mp3Status MP3STATUS_E_IO = 0x80010001u;
inline constexpr Mp3Status MP3STATUS_E_IO_OPEN = 0x80010002u;
inline constexpr Mp3Status MP3STATUS_E_IO_CLOSE = 0x80010003u;
inline constexpr Mp3Status MP3STATUS_E_IO_READ = 0x80010004u;
inline constexpr Mp3Status MP3STATUS_I_CRC = 0x41010001u;
inline constexpr Mp3Status MP3STATUS_I_NOMAINDATA = 0x41010002u;
inline constexpr Mp3Status MP3STATUS_E_DECODER = 0xC1010001u;
inline constexpr Mp3Status MP3STATUS_E_LAYER = 0xC1010002u;
inline constexpr Mp3Status MP3STATUS_E_BUFFER = 0xC1010003u;
inline constexpr Mp3Status MP3STATUS_W_SEARCHED = 0x81010001u;
inline constexpr Mp3Status MP3STATUS_W_LOST = 0x81010002u;
inline constexpr Mp3Status MP3STATUS_W_NEEDDATA = 0x81010003u;
inline constexpr Mp3Status MP3STATUS_W_EOF = 0x81010004u;

// Success or information: the step produced what it was asked for.
inline constexpr bool Mp3Succeeded(Mp3Status s) {
    return (s & 0xC0000000u) == 0 || (s & 0xC0000000u) == 0x40000000u;
}

const char* Mp3DecoderStatusText(Mp3Status code);

// Rewritten after every decode step that synchronised.
struct Mp3DecoderInfo {
    int32_t layer;
    int32_t version;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int32_t bitRate;
    int32_t bitRateIndex;
    int32_t channels;
    int32_t sampleRate;
    int32_t outChannels;
    int32_t outSampleRate;
    int32_t outBitsPerSample;
    int32_t frameLengthBits;
    float frameDurationMs;
    int32_t crcError;
    int32_t noMainData;
};
static_assert(sizeof(Mp3DecoderInfo) == 52);

// Optional pull source for the input ring.
class Mp3DecoderSource {
public:
    virtual ~Mp3DecoderSource() = default;
    virtual void Read(uint8_t* destination, uint32_t count, uint32_t* got) = 0;
    virtual bool AtEnd() = 0;
};

// The decoder object behind a handle.
class IMp3Decoder {
public:
    virtual void Release() = 0;
    virtual void Reset() = 0;
    virtual Mp3Status DecodeFloat(void* output, uint32_t room, uint32_t* produced, uint8_t* ancillary,
                                  uint32_t* ancillaryLength) = 0;
    virtual Mp3Status Decode(void* output, uint32_t room, uint32_t* produced, uint8_t* ancillary,
                             uint32_t* ancillaryLength) = 0;
    virtual const Mp3DecoderInfo* GetInfo() = 0;
    virtual void SetSource(Mp3DecoderSource* source) = 0;
    virtual uint32_t Feed(const void* data, uint32_t length) = 0;
    virtual uint32_t GetFreeSpace() = 0;
    virtual uint32_t GetBufferedBytes() = 0;
    virtual void SetEndOfStream() = 0;
    virtual bool IsEndOfStream() = 0;
    virtual ~IMp3Decoder() = default;
};

// Tag "sir\0" and the object. On a 64-bit build the record is 16 bytes.
struct Mp3DecoderHandleRecord {
    char tag[4];
    IMp3Decoder* object;
};
using Mp3DecoderHandle = Mp3DecoderHandleRecord*;

Mp3Status Mp3DecoderCreate(Mp3DecoderHandle* handle, int32_t rateShift, int32_t eightBit, int32_t forceMono);
Mp3Status Mp3DecoderDestroy(Mp3DecoderHandle handle);
Mp3Status Mp3DecoderFeed(Mp3DecoderHandle handle, const void* data, uint32_t length, uint32_t* taken);
Mp3Status Mp3DecoderGetFreeSpace(Mp3DecoderHandle handle, uint32_t* freeBytes);
Mp3Status Mp3DecoderDecode(Mp3DecoderHandle handle, void* output, uint32_t room, uint32_t* produced,
                           uint8_t* ancillary, uint32_t* ancillaryLength);

// Decoder object over caller storage (at least 2048 bytes; the ring uses the
// largest power of two that fits, up to 65536). The storage must outlive it.
Mp3Status Mp3DecoderCreateOnBuffer(void* storage, uint32_t length, int32_t rateShift, int32_t eightBit,
                                   int32_t forceMono, IMp3Decoder** object);
// Bare decoder object with its own 8192-byte ring.
Mp3Status Mp3DecoderCreateObject(int32_t rateShift, int32_t eightBit, int32_t forceMono, IMp3Decoder** object);
