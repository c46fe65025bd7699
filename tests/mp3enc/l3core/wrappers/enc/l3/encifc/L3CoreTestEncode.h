// 16-bit PCM through one l3core encoder as the front end drives it: the
// bit-rate check, open, encode chunk by chunk, drain until a call writes
// nothing. For the interface, peer and quality tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreBitrate.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreEncoder.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreSetup.h"
#include "mp3enc/util/VectorOps.h"

namespace l3coretest {

// A build with the address, undefined-behaviour or thread checker: it codes
// the same bytes, only slower.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define L3CORE_CHECKED_BUILD 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define L3CORE_CHECKED_BUILD 1
#endif
#ifdef L3CORE_CHECKED_BUILD
inline constexpr bool kCheckedBuild = true;
#else
inline constexpr bool kCheckedBuild = false;
#endif

// The message of the chain's first link; the chain is freed. "" for null.
inline std::string Message(EncError* e) {
    const std::string m = e && e->message ? e->message : "";
    L3CoreFreeError(e);
    return m;
}

struct Settings {
    int channels = 2;  // input and coded
    float inRate = 48000.0f;
    float codedRate = 0.0f;  // 0: the input rate
    int bitRate = 128000;
    int quality = 5;
    int crc = 0;
    bool intensity = true;  // as the bit-rate check allows it
    size_t chunkBytes = 4608;
    int outRoom = 16384;
    int sse = -1;  // 0 or 1 sets the process-wide flag for this stream, -1 leaves it
    // Tuning options for the stages, set in a scope of the caller's own. Open
    // then sets none of its own; these come first, then the ones it would set
    // for the quality (amp, mol, noCmdct, padding, hfs) that they do not name.
    std::vector<std::pair<const char*, const char*>> options;
};

struct Stream {
    std::vector<uint8_t> bytes;
    L3CoreInfo info{};
    std::string error;
};

inline Stream Encode(const std::vector<int16_t>& pcm, const Settings& s) {
    Stream out;
    L3CoreConfig config = L3CoreDefaultConfig();
    config.quality = s.quality;
    config.intensityOff = s.intensity ? 0 : 1;
    const L3CoreInput in{s.channels, s.inRate, kL3CoreInt16, 32768.0f, nullptr};
    L3CoreParams p{};
    p.channels = s.channels;
    p.bitRate = s.bitRate;
    out.error = Message(L3CoreCheckBitrate(&in, &p, &config));
    if (!out.error.empty()) return out;
    p.sampleRate = s.codedRate > 0.0f ? s.codedRate : s.inRate;
    p.crc = s.crc;
    L3CoreCheckVersionOnce();  // it turns SSE on: a flag of ours comes after it
    const int sseBefore = VecGetSse();
    if (s.sse >= 0) {
        EXPECT_EQ(Message(L3CoreSetSSE(s.sse)), "");
    }
    const bool ownScope = !s.options.empty();
    if (ownScope) {
        config.optionScope = 0;
        EXPECT_EQ(UciBegin(), kUciDone);
        for (const auto& [name, value] : s.options) UciSet(name, value);  // the first of a name wins
        UciSet("noCmdct", "");
        UciSet("amp", s.quality < 7 ? "2" : "1");
        UciSet("mol", s.quality < 7 ? "14" : "400");
        UciSet("padding", "0");
        if (p.hfs) UciSet("hfs", "");
    }
    L3CoreEncoder* e = nullptr;
    out.error = Message(L3CoreOpen(&e, &in, &p, &config));
    if (ownScope) UciEnd();
    if (e) {
        L3CoreGetInfo(e, &out.info);
        std::vector<uint8_t> buffer(static_cast<size_t>(s.outRoom));
        const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
        const size_t total = pcm.size() * 2;
        size_t at = 0;
        for (int guard = 0; guard < 1000000 && out.error.empty(); ++guard) {
            const size_t offer = std::min(s.chunkBytes, total - at);
            int used = 0, written = 0;
            out.error = Message(L3CoreEncode(e, offer ? bytes + at : nullptr, static_cast<int>(offer),
                                             buffer.data(), s.outRoom, &used, &written, nullptr, nullptr));
            out.bytes.insert(out.bytes.end(), buffer.begin(), buffer.begin() + written);
            at += static_cast<size_t>(used);
            if (offer == 0 && written == 0) break;
        }
        L3CoreClose(e);
    }
    if (s.sse >= 0) Message(L3CoreSetSSE(sseBefore));
    return out;
}

}  // namespace l3coretest
