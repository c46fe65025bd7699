#include "codecs/aptx/AptxStdEngine.h"

#include <cstring>
#include <new>

namespace {

uint16_t Swap16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }

uint16_t LoadNative(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

void StoreNative(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

bool IsLocked(const AptxStdEngine* e) { return e->tracker && e->tracker->lockedOffset >= 0; }

// Forgets every candidate so that a new lock needs three fresh blocks; kept
// candidates would carry stale confirmation counts.
void ClearCandidates(AptxStdTracker& t) {
    for (AptxStdCandidate& c : t.candidates) c = AptxStdCandidate{};
    t.insertIndex = 0;
}

void ResetTracker(AptxStdTracker& t) { t = AptxStdTracker{}; }

void Lock(AptxStdEngine* e, int key) {
    AptxStdTracker& t = *e->tracker;
    int d = (key & 0xFF) ^ 15;
    if (e->options & kAptxStdCodeBigEndian) d ^= 8;
    const int i = key >> 8;
    if (d < 9) {
        t.lockedOffset = 8 - d;
        t.lockedPosition = (i - 9) & 127;
    } else {
        t.lockedOffset = 16 * e->channels + 8 - d;
        t.lockedPosition = (i - 8) & 127;
    }
    t.misses = 0;
    t.partialBits = 0;
    t.partialCount = 0;
    e->flagVote = -1;
}

void Unlock(AptxStdTracker& t) {
    t.lockedOffset = -1;
    t.lockedPosition = -1;
    t.partialBits = 0;
    t.partialCount = 0;
    ClearCandidates(t);
}

// Returns true when the offer locks the tracker.
bool Offer(AptxStdEngine* e, int key) {
    AptxStdTracker& t = *e->tracker;
    const uint8_t previous = static_cast<uint8_t>(t.block - 1);
    for (AptxStdCandidate& c : t.candidates) {
        if (c.key == key && c.block == previous) {
            c.block = t.block;
            if (c.remaining <= 1) {
                Lock(e, key);
                return true;
            }
            --c.remaining;
            return false;
        }
    }
    t.candidates[t.insertIndex] = AptxStdCandidate{static_cast<int16_t>(key), t.block, 2, t.nextSerial++};
    // Next free slot: one not seen in this block or the previous one. A stream
    // that repeats the pattern at many positions can keep all 32 busy; then the
    // oldest entry gives way instead of searching for ever.
    for (int step = 1; step <= kAptxStdCandidates; ++step) {
        const int j = (t.insertIndex + step) % kAptxStdCandidates;
        const AptxStdCandidate& c = t.candidates[j];
        if (c.key < 0 || (c.block != t.block && c.block != previous)) {
            t.insertIndex = j;
            return false;
        }
    }
    int oldest = 0;
    for (int j = 1; j < kAptxStdCandidates; ++j)
        if (t.candidates[j].serial - t.candidates[oldest].serial > 0x80000000u) oldest = j;
    t.insertIndex = oldest;
    ++t.evictions;
    return false;
}

void Search(AptxStdEngine* e, const uint8_t* code, int words) {
    AptxStdTracker& t = *e->tracker;
    const int pattern = kAptxStdSyncPatterns[e->syncIndex];
    for (int p = 0; p < words; ++p) {
        const int position = (e->wordPosition + p) & 127;
        for (int c = 0; c < e->channels; ++c) {
            const uint16_t v = LoadNative(code + 2 * (p * e->channels + c));
            for (int k = 0; k < 16; ++k) {
                int32_t& reg = t.history[16 * c + k];
                reg = static_cast<int32_t>((static_cast<uint32_t>(reg) << 1) | ((v >> k) & 1u));
                if ((reg & 0x3FF) == pattern && Offer(e, 16 * c + k + 256 * position)) return;
            }
        }
        if (position == 127) ++t.block;
    }
}

// The code words of a call as the decoder sees them at bit offset t.
struct StreamReader {
    const uint8_t* code;
    int channels;
    bool bigEndian;
    uint32_t previous;  // the two stream words before the call, older in the high half
    int offset;

    uint32_t Word(int index) const {
        if (index < 0) return index == -1 ? previous & 0xFFFF : previous >> 16;
        const uint16_t v = LoadNative(code + 2 * index);
        return bigEndian ? Swap16(v) : v;
    }
    uint16_t CodeWord(int period, int channel) const {
        const int s = period * channels + channel;
        const uint64_t window = (uint64_t{Word(s - 2)} << 32) | (uint64_t{Word(s - 1)} << 16) | Word(s);
        return static_cast<uint16_t>(window >> offset);
    }
};

// Reads the sync slots of the call; returns false when the lock was lost.
bool Track(AptxStdEngine* e, const StreamReader& reader, int words) {
    AptxStdTracker& t = *e->tracker;
    const int pattern = kAptxStdSyncPatterns[e->syncIndex];
    e->presence = e->flagVote >= 0 ? 1 : 0;
    int block = 0;
    for (int p = 0; p < words; ++p) {
        const int slot = (e->wordPosition + p - t.lockedPosition) & 127;
        if (slot >= 11) continue;
        if (slot == 0) {
            t.partialBits = 0;
            t.partialCount = 0;
        }
        if (t.partialCount != slot) continue;  // joined in the middle of a block
        t.partialBits = (t.partialBits << 1) | ((reader.CodeWord(p, 0) >> 7) & 1);
        if (++t.partialCount < 11) continue;
        t.partialCount = 0;
        ++block;
        if (t.partialBits & 1) {
            if (e->flagVote < 3) ++e->flagVote;
        } else if (e->flagVote > -4) {
            --e->flagVote;
        }
        if (e->flagVote >= 0 && block < 31) e->presence |= 1 << block;
        if ((t.partialBits >> 1) == pattern) {
            if (t.misses > 0) --t.misses;
        } else if (++t.misses > 2) {
            Unlock(t);
            return false;
        }
    }
    return true;
}

void StoreUserByte(AptxStdUserChannel& u, int& count, uint8_t byte) {
    if (count < kAptxStdUserBufferBytes)
        u.received[count++] = byte;
    else
        ++u.dropped;  // the buffer is bounded; a long call loses its tail bytes
}

// Next 8 user bits of a group for the encoder.
uint8_t NextUserByte(AptxStdUserChannel& u, const AptxUserData& d, int& cursor, bool stuffed) {
    auto nextPresent = [&](uint8_t& byte) {
        while (cursor < 32) {
            const int i = cursor++;
            if (static_cast<uint32_t>(d.mask) & (1u << i)) {
                byte = d.bytes[i];
                return true;
            }
        }
        return false;
    };
    uint8_t byte = 0;
    if (!stuffed) {
        nextPresent(byte);
        return byte;
    }
    // Stuffed: 1, inverted byte, 1 per present byte; zeros while idle. A unit
    // cut by the end of a call continues at the next carrying group.
    while (u.count < 8 && nextPresent(byte)) {
        u.bits = (u.bits << 10) | 0x201u | ((~byte & 0xFFu) << 1);
        u.count += 10;
    }
    if (u.count < 8) {
        u.bits <<= 8 - u.count;
        u.count = 8;
    }
    const uint8_t out = static_cast<uint8_t>(u.bits >> (u.count - 8));
    u.count -= 8;
    u.bits &= (1u << u.count) - 1u;
    return out;
}

}  // namespace

AptxStdEngine* AptxStdCreate(int32_t options, int32_t syncIndex, const int32_t* userModes, int32_t channels) {
    if (channels < 1 || channels > 2 || syncIndex > 7) return nullptr;
    AptxStdEngine* e = new (std::nothrow) AptxStdEngine;
    if (!e) return nullptr;
    if (!(options & kAptxStdEncoder) && syncIndex >= 0) {
        e->tracker = new (std::nothrow) AptxStdTracker;
        if (!e->tracker) {
            delete e;
            return nullptr;
        }
    }
    AptxStdInit(e, options, syncIndex, userModes, channels);
    return e;
}

void AptxStdInit(AptxStdEngine* e, int32_t options, int32_t syncIndex, const int32_t* userModes, int32_t channels) {
    if (!e) return;
    // The portable coder is the only one built: the vector twin would give the
    // same results, so bit 31 (vector coder in use) is never set.
    e->options = options & ~static_cast<int32_t>(0x80000000u);
    e->syncIndex = syncIndex < 0 ? -1 : syncIndex;
    e->channels = channels < 1 ? 1 : (channels > 2 ? 2 : channels);
    e->flagVote = -3;
    e->wordPosition = 0;
    e->presence = 0;
    e->previousWords = 0;
    if (e->tracker) ResetTracker(*e->tracker);
    for (int c = 0; c < 2; ++c) {
        AptxStdResetChannel(e->channel[c]);
        e->user[c] = AptxStdUserChannel{};
        if (userModes && c < e->channels) e->user[c].mode = userModes[c];
    }
}

void AptxStdFree(AptxStdEngine* e) {
    if (!e) return;
    delete e->tracker;
    delete e;
}

int AptxStdEncode(AptxStdEngine* e, int32_t length, const int16_t* pcm, uint8_t* code, const AptxUserData* user) {
    if (!e || length < 0 || length % 32 != 0) return 2;
    const int words = length / 4;
    const int ch = e->channels;
    const bool sync = e->syncIndex >= 0;
    const bool pcmSwap = e->options & kAptxStdPcmBigEndian;
    for (int c = 0; c < ch; ++c) {
        AptxStdUserChannel& u = e->user[c];
        const bool giveUser = user && user[c].bytes;
        int cursor = 0;
        uint8_t groupByte = 0;
        int32_t presence = e->presence;
        for (int k = 0; k < words; ++k) {
            const int w = (e->wordPosition + k) & 127;
            const bool slot = c == 0 && sync && (w >= 118 || w == 0);
            if (u.mode == 2 && w == 0) presence >>= 1;
            const bool userBit = u.mode == 1 || (u.mode == 2 && (presence & 1));
            int16_t x[4];
            for (int i = 0; i < 4; ++i) {
                const int16_t s = pcm[(4 * k + i) * ch + c];
                x[i] = pcmSwap ? static_cast<int16_t>(Swap16(static_cast<uint16_t>(s))) : s;
            }
            uint16_t word = AptxStdEncodeWord(e->channel[c], x, slot, userBit);
            if (giveUser && userBit) {
                if (k % 8 == 0) groupByte = NextUserByte(u, user[c], cursor, e->options & kAptxStdStuffed);
                word |= static_cast<uint16_t>(((groupByte >> (7 - k % 8)) & 1) << 13);
            }
            StoreNative(code + 2 * (k * ch + c), word);
        }
    }
    if (sync) {
        const int pattern = kAptxStdSyncPatterns[e->syncIndex];
        for (int k = 0; k < words; ++k) {
            const int w = (e->wordPosition + k) & 127;
            int bit;
            if (w >= 118)
                bit = (pattern >> (127 - w)) & 1;
            else if (w == 0)
                bit = (e->options & kAptxStdFlagBit) ? 1 : 0;
            else
                continue;
            uint8_t* p = code + 2 * (k * ch);
            StoreNative(p, static_cast<uint16_t>(LoadNative(p) | (bit << 7)));
        }
    }
    if (e->options & kAptxStdCodeBigEndian)
        for (int i = 0; i < words * ch; ++i) StoreNative(code + 2 * i, Swap16(LoadNative(code + 2 * i)));
    e->wordPosition = (e->wordPosition + words) & 127;
    return 0;
}

int AptxStdDecode(AptxStdEngine* e, int32_t length, int16_t* pcm, const uint8_t* code, AptxUserData* user) {
    if (!e || length < 0 || length % 32 != 0) return 2;
    const int words = length / 4;
    const int ch = e->channels;
    StreamReader reader{code, ch, (e->options & kAptxStdCodeBigEndian) != 0, e->previousWords, 0};
    auto finish = [&] {
        const int n = words * ch;
        if (n >= 2)
            e->previousWords = (reader.Word(n - 2) << 16) | reader.Word(n - 1);
        else if (n == 1)
            e->previousWords = (e->previousWords << 16) | reader.Word(0);
        e->wordPosition = (e->wordPosition + words) & 127;
    };
    if (e->tracker) {
        if (!IsLocked(e)) Search(e, code, words);
        if (IsLocked(e)) {
            reader.offset = e->tracker->lockedOffset;
            Track(e, reader, words);
        }
        if (!IsLocked(e)) {
            std::memset(pcm, 0, sizeof(int16_t) * static_cast<size_t>(length) * ch);
            if (user)
                for (int c = 0; c < ch; ++c) user[c] = AptxUserData{};
            finish();
            return 1;
        }
    }
    const bool locked = IsLocked(e);
    const bool pcmSwap = e->options & kAptxStdPcmBigEndian;
    const bool stuffed = e->options & kAptxStdStuffed;
    int received[2] = {0, 0};
    bool userOn[2];
    for (int c = 0; c < ch; ++c) userOn[c] = e->user[c].mode == 1 || (e->user[c].mode == 2 && (e->presence & 1));
    for (int p = 0; p < words; ++p) {
        const int slot = locked ? (e->wordPosition + p - e->tracker->lockedPosition) & 127 : 127;
        if (slot == 10) {
            e->presence >>= 1;
            for (int c = 0; c < ch; ++c)
                if (e->user[c].mode == 2) userOn[c] = e->presence & 1;
        }
        for (int c = 0; c < ch; ++c) {
            const uint16_t word = reader.CodeWord(p, c);
            AptxStdUserChannel& u = e->user[c];
            if (user && userOn[c]) {
                const uint32_t bit = (word >> 13) & 1;
                if (stuffed) {
                    u.bits = ((u.bits << 1) | bit) & 0x3FF;
                    if ((u.bits & 0x201) == 0x201) {
                        StoreUserByte(u, received[c], static_cast<uint8_t>(~(u.bits >> 1)));
                        u.bits = 0;
                    }
                } else {
                    u.bits = (u.bits << 1) | bit;
                    if (++u.count == 8) {
                        StoreUserByte(u, received[c], static_cast<uint8_t>(u.bits));
                        u.bits = 0;
                        u.count = 0;
                    }
                }
            }
            int16_t out[4];
            AptxStdDecodeWord(e->channel[c], word, c == 0 && slot < 11, userOn[c], out);
            for (int i = 0; i < 4; ++i)
                pcm[(4 * p + i) * ch + c] =
                    pcmSwap ? static_cast<int16_t>(Swap16(static_cast<uint16_t>(out[i]))) : out[i];
        }
    }
    if (user)
        for (int c = 0; c < ch; ++c) {
            const int n = received[c];
            user[c].bytes = e->user[c].received;
            user[c].mask = n >= 32 ? -1 : static_cast<int32_t>((1u << n) - 1u);
        }
    finish();
    return 0;
}
