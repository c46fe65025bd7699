#pragma once
// The wire format of coded audio on 64 kbit/s B-channels, between two
// stations of this program: the bit-reverse and nibble tables, the filler
// frames, the last-byte markers of one-frame blocks, the two-channel
// Layer II split and the Layer III private-bit marker. Pure functions; any
// thread.
#include <cstdint>

class CBChannelFraming {
public:
    // Bit 7 becomes bit 0 and so on: every byte on a B-channel.
    static uint8_t Reverse(uint8_t b);
    // The odd bits (1, 3, 5, 7) and the even bits (0, 2, 4, 6) of a byte as a
    // nibble, in the order the line sends them.
    static uint8_t OddNibble(uint8_t b);
    static uint8_t EvenNibble(uint8_t b);

    // The Layer II filler frame of a sample rate (48000, 32000, 24000) into
    // out (room for 384 bytes); its length, 0 for any other rate.
    static int FillerFrame(int sampleRate, uint8_t* out);

    // The marker byte that replaces the last byte of a one-frame block, for
    // marker mode `mode`, frame counter x (before it advances) and channel 0
    // or 1; -1 when the mode puts none.
    static int OneFrameMarker(int mode, int x, int channel);
    // The marker mode after sending counter x in `mode`.
    static int NextMarkerMode(int mode, int x);

    // Two-channel Layer II: frame of n bytes (n even) into two n/2-byte
    // halves, each ending with its counter byte (c and c + 32, reversed).
    // The last two frame bytes are not carried.
    static void SplitLayer2(const uint8_t* frame, int n, int counter, uint8_t* first, uint8_t* second);

    // The Layer III block's marker for counter c, ORed into the private bits
    // in place, so that every frame stays valid. An MPEG-1 frame: mono 5
    // bits 11000 / 11001 / 11111, otherwise 3 bits 000 / 001 / 111. A block
    // of two MPEG-2 frames (which have one private bit in mono, two
    // otherwise): 00 / 01 / 11 in the first frame's two bits, or in mono the
    // first and the second frame's bit. Read back as 24, 25 and 31.
    // False (nothing written) when the block is no such Layer III block.
    static bool MarkLayer3(uint8_t* block, int n, int counter);
    // The reading of that marker in a block as sent by the codec (not
    // inverted); -1 when the block is no such Layer III block. Read from a
    // block's second frame on (the bits of two blocks), MPEG-2 gives 26 in
    // mono and, in stereo, whenever the frame after it carries bits (only a
    // block's first frame does): a value no block carries.
    static int ReadLayer3Marker(const uint8_t* block, int n);
};
