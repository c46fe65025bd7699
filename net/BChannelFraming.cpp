#include "net/BChannelFraming.h"

#include <cstring>

#include "common/MpegHeader.h"

namespace {
constexpr uint8_t kFillerByte = 0xFE;
constexpr int kMarkerChannelStep = 0x20;
constexpr int kStraddlingMarker = 26;  // the mono reading of bits 10

// The private bits of a Layer III block: where they are and how many.
struct PrivateBits {
    int offsets[2] = {-1, -1};  // byte holding the bits of each part
    int shift = 0;              // of the lowest bit in that byte
    int count = 0;              // bits per part
    int parts = 0;
};

bool FindPrivateBits(const uint8_t* block, int n, PrivateBits* out) {
    MpegHeader h;
    if (!block || n < 8 || !ParseMpegHeader(block, &h) || h.layer != 3) return false;
    const int sideStart = h.crc ? 6 : 4;
    const bool mono = h.channels == 1;
    PrivateBits p;
    if (h.version == 1) {
        // main_data_begin is 9 bits: the private bits follow in the next byte.
        p.offsets[0] = sideStart + 1;
        p.count = mono ? 5 : 3;
        p.shift = 7 - p.count;
        p.parts = 1;
    } else {
        // main_data_begin is 8 bits: one private bit in mono, two otherwise.
        const int frame = h.frameBytes;
        p.offsets[0] = sideStart + 1;
        if (mono) {
            if (frame <= 0 || 2 * frame > n) return false;
            MpegHeader second;
            if (!ParseMpegHeader(block + frame, &second) || second.layer != 3) return false;
            p.offsets[1] = frame + (second.crc ? 6 : 4) + 1;
            p.count = 1;
            p.parts = 2;
        } else {
            p.count = 2;
            p.parts = 1;
        }
        p.shift = 8 - p.count;
    }
    for (int i = 0; i < p.parts; ++i) {
        if (p.offsets[i] >= n) return false;
    }
    *out = p;
    return true;
}

// The marker's bits for counter c, most significant first, in `width` bits.
unsigned MarkerBits(int counter, int width, bool mpeg1Mono) {
    if (mpeg1Mono) return counter == 0 ? 0x18 : counter == 1 ? 0x19 : 0x1F;
    const unsigned all = (1u << width) - 1;
    return counter == 0 ? 0 : counter == 1 ? 1 : all;
}
}  // namespace

uint8_t CBChannelFraming::Reverse(uint8_t b) {
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i) {
        if (b & (1 << i)) r = static_cast<uint8_t>(r | (0x80 >> i));
    }
    return r;
}

uint8_t CBChannelFraming::OddNibble(uint8_t b) {
    return static_cast<uint8_t>(((b >> 1) & 1) * 8 + ((b >> 3) & 1) * 4 + ((b >> 5) & 1) * 2 + ((b >> 7) & 1));
}

uint8_t CBChannelFraming::EvenNibble(uint8_t b) {
    return static_cast<uint8_t>((b & 1) * 8 + ((b >> 2) & 1) * 4 + ((b >> 4) & 1) * 2 + ((b >> 6) & 1));
}

int CBChannelFraming::FillerFrame(int sampleRate, uint8_t* out) {
    static constexpr struct {
        int rate;
        int length;
        uint8_t header[4];
    } kFillers[] = {
        {48000, 192, {0xFF, 0xFC, 0x44, 0xCC}},
        {32000, 288, {0xFF, 0xFC, 0x48, 0xCC}},
        {24000, 384, {0xFF, 0xF5, 0x85, 0xCC}},
    };
    for (const auto& f : kFillers) {
        if (f.rate != sampleRate) continue;
        if (out) {
            std::memcpy(out, f.header, 4);
            std::memset(out + 4, kFillerByte, static_cast<size_t>(f.length - 4));
        }
        return f.length;
    }
    return 0;
}

int CBChannelFraming::OneFrameMarker(int mode, int x, int channel) {
    const int step = channel ? kMarkerChannelStep : 0;
    switch (mode) {
        case 1: return Reverse(0);
        case 10: return Reverse(static_cast<uint8_t>(x + 0x60 + step));
        case 20:
        case 21: return Reverse(static_cast<uint8_t>(x + 0x40 + step));
        case 22: return Reverse(static_cast<uint8_t>(x + step));
        default: return -1;
    }
}

int CBChannelFraming::NextMarkerMode(int mode, int x) {
    if (mode == 20 && x == 31) return 21;
    if (mode == 21 && x == 22) return 22;
    return mode;
}

void CBChannelFraming::SplitLayer2(const uint8_t* frame, int n, int counter, uint8_t* first, uint8_t* second) {
    const int half = n / 2;
    for (int k = 0; k + 1 < half; ++k) {
        const uint8_t x = frame[2 * k];
        const uint8_t y = frame[2 * k + 1];
        first[k] = static_cast<uint8_t>(OddNibble(y) * 16 + OddNibble(x));
        second[k] = static_cast<uint8_t>(EvenNibble(y) * 16 + EvenNibble(x));
    }
    const int c = counter & 0x1F;
    first[half - 1] = Reverse(static_cast<uint8_t>(c));
    second[half - 1] = Reverse(static_cast<uint8_t>(c + 32));
}

bool CBChannelFraming::MarkLayer3(uint8_t* block, int n, int counter) {
    PrivateBits p;
    if (!FindPrivateBits(block, n, &p)) return false;
    MpegHeader h;
    ParseMpegHeader(block, &h);
    const bool mpeg1Mono = h.version == 1 && h.channels == 1;
    const int width = p.count * p.parts;
    const unsigned bits = MarkerBits(counter, width, mpeg1Mono);
    if (p.parts == 1) {
        block[p.offsets[0]] = static_cast<uint8_t>(block[p.offsets[0]] | (bits << p.shift));
    } else {
        // One bit per frame: the first frame carries the high bit.
        block[p.offsets[0]] = static_cast<uint8_t>(block[p.offsets[0]] | (((bits >> 1) & 1) << p.shift));
        block[p.offsets[1]] = static_cast<uint8_t>(block[p.offsets[1]] | ((bits & 1) << p.shift));
    }
    return true;
}

int CBChannelFraming::ReadLayer3Marker(const uint8_t* block, int n) {
    PrivateBits p;
    if (!FindPrivateBits(block, n, &p)) return -1;
    const unsigned mask = (1u << p.count) - 1;
    unsigned v = 0;
    for (int i = 0; i < p.parts; ++i) v = (v << p.count) | ((block[p.offsets[i]] >> p.shift) & mask);
    MpegHeader h;
    ParseMpegHeader(block, &h);
    if (h.version == 1 && h.channels == 1) return static_cast<int>(v);
    if (h.version == 1) return static_cast<int>(v) + 24;
    if (p.parts == 1 && 2 * h.frameBytes <= n) {
        PrivateBits next;
        if (FindPrivateBits(block + h.frameBytes, n - h.frameBytes, &next) &&
            ((block[h.frameBytes + next.offsets[0]] >> next.shift) & mask) != 0)
            return kStraddlingMarker;
    }
    return v == 3 ? 31 : static_cast<int>(v) + 24;
}
