// The l3core interface as the front end drives it: version, configuration,
// bit-rate check, padding cycle, open refusals, and streams that come out
// whole whatever the chunking and end with everything the input held.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "mp3enc/Mp3EncTestSupport.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreBitrate.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreEncoder.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CorePadding.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreSetup.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreTestEncode.h"

namespace {

using l3coretest::Message;

L3CoreInput Int16Input(int channels, float rate) {
    L3CoreInput in{};
    in.channels = channels;
    in.sampleRate = rate;
    in.format = kL3CoreInt16;
    in.fullScale = 32768.0f;
    return in;
}

L3CoreParams Params(int channels, float rate, int bitRate) {
    L3CoreParams p{};
    p.channels = channels;
    p.sampleRate = rate;
    p.bitRate = bitRate;
    return p;
}

using l3coretest::Stream;

// Intensity off, at the given coded rate.
Stream EncodeAll(const std::vector<int16_t>& pcm, int channels, float inRate, float codedRate, int bitRate,
                 size_t chunkBytes, int quality = 5, int crc = 0, int outRoom = 16384) {
    l3coretest::Settings s;
    s.channels = channels;
    s.inRate = inRate;
    s.codedRate = codedRate;
    s.bitRate = bitRate;
    s.chunkBytes = chunkBytes;
    s.quality = quality;
    s.crc = crc;
    s.outRoom = outRoom;
    s.intensity = false;
    return l3coretest::Encode(pcm, s);
}

}  // namespace

TEST(L3CoreSetup, VersionHandshakeAndConfiguration) {
    int library = 0;
    EXPECT_EQ(Message(L3CoreCheckVersion(0x207FFFF, &library)), "");
    EXPECT_EQ(library, kL3CoreVersion);
    library = 0;
    EXPECT_EQ(Message(L3CoreCheckVersion(0x2080000, &library)),
              "mismatch between encoder interface version and client version");
    EXPECT_EQ(library, kL3CoreVersion);

    L3CoreConfig* c = nullptr;
    ASSERT_EQ(Message(L3CoreCreateConfig(&c)), "");
    EXPECT_EQ(c->quality, 9);
    EXPECT_EQ(c->optionScope, 1);
    const int one = 1, ten = 10, three = 3;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(Message(L3CoreSetConfigParam(c, 1, &one)), "invalid function parameter");
    EXPECT_EQ(Message(L3CoreSetConfigParam(c, 9, &one)), "invalid function parameter");
    EXPECT_EQ(Message(L3CoreSetConfigParam(c, kL3CoreQuality, &ten)), "invalid function parameter");
    EXPECT_EQ(Message(L3CoreSetConfigParam(c, kL3CorePadding, &three)), "invalid function parameter");
    EXPECT_EQ(Message(L3CoreSetConfigParam(c, kL3CoreBandwidth, &nan)), "invalid function parameter");
    EXPECT_EQ(Message(L3CoreSetConfigParam(c, kL3CoreQuality, nullptr)), "invalid function parameter");
    EXPECT_EQ(c->quality, 9);
    EXPECT_EQ(Message(L3CoreSetConfigParam(c, kL3CoreIntensityOff, nullptr)), "");
    EXPECT_EQ(c->intensityOff, 1);
    L3CoreFreeConfig(c);
    L3CoreFreeConfig(nullptr);
}

TEST(L3CoreBitrate, RefusesRatesOutsideTheRangeAndPicksACodedRate) {
    const L3CoreInput in441 = Int16Input(2, 44100.0f);
    L3CoreParams p = Params(2, 0.0f, 7999);
    EXPECT_EQ(Message(L3CoreCheckBitrate(&in441, &p, nullptr)),
              "bitrates < 8000 not supported by ISO MPEG Layer-3");
    p.bitRate = 320001;
    EXPECT_EQ(Message(L3CoreCheckBitrate(&in441, &p, nullptr)),
              "bitrates > 320000 not supported by ISO MPEG Layer-3");
    p.bitRate = 16000;
    EXPECT_EQ(Message(L3CoreCheckBitrate(&in441, &p, nullptr)), "bitrate invalid for this mode");
    p = Params(1, 0.0f, 16000);
    EXPECT_EQ(Message(L3CoreCheckBitrate(&in441, &p, nullptr)), "");
    EXPECT_EQ(p.sampleRate, 16000.0f);

    L3CoreConfig c = L3CoreDefaultConfig();
    c.quality = 5;
    p = Params(2, 0.0f, 128000);  // the entry from 112000: mid/side only
    EXPECT_EQ(Message(L3CoreCheckBitrate(&in441, &p, &c)), "");
    EXPECT_EQ(p.sampleRate, 44100.0f);
    EXPECT_EQ(p.stereoTools, kL3CoreMidSide);
    p = Params(2, 0.0f, 64000);  // intensity as the table allows, unless forbidden
    EXPECT_EQ(Message(L3CoreCheckBitrate(&in441, &p, &c)), "");
    EXPECT_EQ(p.sampleRate, 22050.0f);  // 44100 / 2
    EXPECT_EQ(p.stereoTools, kL3CoreMidSide | kL3CoreIntensity);
    EXPECT_EQ(p.hfs, 1);
    c.intensityOff = 1;
    EXPECT_EQ(Message(L3CoreCheckBitrate(&in441, &p, &c)), "");
    EXPECT_EQ(p.stereoTools, kL3CoreMidSide);
    c.quality = 7;  // above 6 the preferred rate, divisor or not
    const L3CoreInput in48 = Int16Input(2, 48000.0f);
    p = Params(2, 0.0f, 128000);
    EXPECT_EQ(Message(L3CoreCheckBitrate(&in48, &p, &c)), "");
    EXPECT_EQ(p.sampleRate, 44100.0f);
    EXPECT_EQ(Message(L3CoreCheckBitrate(nullptr, &p, &c)), "invalid function parameter");
}

TEST(L3CorePadding, CycleOfPeriodAndBytes) {
    const L3CorePaddingCycle never = L3CoreGetPaddingCycle(1, 48000, 100000);
    EXPECT_EQ(never.period, 4);
    EXPECT_EQ(never.bytes, 3 * 288 + 336);
    const L3CorePaddingCycle always = L3CoreGetPaddingCycle(2, 48000, 100000);
    EXPECT_EQ(always.bytes, 3 * 288 + 336 + 4);
    const L3CorePaddingCycle iso441 =
        L3CoreGetPaddingCycle(0, 44100, 128000);  // padded frames: no whole cycle
    EXPECT_EQ(iso441.period, 1);
    EXPECT_EQ(iso441.bytes, 1);
    const L3CorePaddingCycle iso48 = L3CoreGetPaddingCycle(0, 48000, 128000);
    EXPECT_EQ(iso48.period, 1);
    EXPECT_EQ(iso48.bytes, 384);
    const L3CorePaddingCycle low = L3CoreGetPaddingCycle(1, 22050, 144000);
    EXPECT_EQ(low.bytes, 72 * 144000 / 22050);
}

TEST(L3CoreEncoder, OpenRefusesWhatItCannotCodeAndLeavesNothing) {
    L3CoreEncoder* e = reinterpret_cast<L3CoreEncoder*>(1);
    L3CoreInput in = Int16Input(2, 48000.0f);
    L3CoreParams p = Params(3, 48000.0f, 128000);
    EXPECT_EQ(Message(L3CoreOpen(nullptr, &in, &p, nullptr)), "invalid function parameter");
    EXPECT_EQ(Message(L3CoreOpen(&e, &in, &p, nullptr)), "wrong number of channels on input");
    EXPECT_EQ(e, nullptr);
    p = Params(2, 48000.0f, 128000);
    in.channels = 1;  // one input channel is never spread over two coded ones
    EXPECT_EQ(Message(L3CoreOpen(&e, &in, &p, nullptr)), "wrong number of channels on input");
    in = Int16Input(2, 48000.0f);
    in.fullScale = 0.0f;
    EXPECT_EQ(Message(L3CoreOpen(&e, &in, &p, nullptr)), "invalid function parameter");
    in = Int16Input(2, std::numeric_limits<float>::infinity());
    EXPECT_EQ(Message(L3CoreOpen(&e, &in, &p, nullptr)), "invalid function parameter");
    in = Int16Input(2, 48000.0f);
    in.format = 7;  // neither built-in kind, and no routine of the caller's
    EXPECT_EQ(Message(L3CoreOpen(&e, &in, &p, nullptr)), "invalid castFunc");
    in.format = kL3CoreInt16;
    p.sampleRate = 47000.0f;  // not a Layer III rate
    EXPECT_NE(Message(L3CoreOpen(&e, &in, &p, nullptr)), "");
    EXPECT_EQ(e, nullptr);
    L3CoreClose(nullptr);
}

TEST(L3CoreEncoder, SmallOutputRoomTakesNothingAndNullArgumentsAreErrors) {
    const L3CoreInput in = Int16Input(1, 32000.0f);
    const L3CoreParams p = Params(1, 32000.0f, 64000);
    L3CoreEncoder* e = nullptr;
    ASSERT_EQ(Message(L3CoreOpen(&e, &in, &p, nullptr)), "");
    std::vector<int16_t> pcm(4096, 100);
    std::vector<uint8_t> out(kL3CoreMinOutputRoom);
    int used = -1, written = -1;
    EXPECT_EQ(Message(L3CoreEncode(e, pcm.data(), 8192, out.data(), kL3CoreMinOutputRoom - 1, &used, &written,
                                   nullptr, nullptr)),
              "");
    EXPECT_EQ(used, 0);
    EXPECT_EQ(written, 0);
    EXPECT_EQ(Message(L3CoreEncode(e, nullptr, 8192, out.data(), kL3CoreMinOutputRoom, &used, &written,
                                   nullptr, nullptr)),
              "invalid function parameter");
    EXPECT_EQ(Message(L3CoreEncode(e, pcm.data(), 8192, out.data(), kL3CoreMinOutputRoom, nullptr, &written,
                                   nullptr, nullptr)),
              "invalid function parameter");
    // Three bytes are not a whole sample: nothing is taken, and no endless loop.
    EXPECT_EQ(Message(L3CoreEncode(e, pcm.data(), 1, out.data(), kL3CoreMinOutputRoom, &used, &written,
                                   nullptr, nullptr)),
              "");
    EXPECT_EQ(used, 0);
    L3CoreClose(e);
}

// Not-a-number and huge float samples code as a valid stream instead of
// reaching an undefined conversion in the model.
TEST(L3CoreEncoder, FloatInputOutsideFullScaleStillCodes) {
    L3CoreInput in = Int16Input(2, 48000.0f);
    in.format = kL3CoreFloat;
    in.fullScale = 1.0f;
    const L3CoreParams p = Params(2, 48000.0f, 128000);
    L3CoreEncoder* e = nullptr;
    ASSERT_EQ(Message(L3CoreOpen(&e, &in, &p, nullptr)), "");
    std::vector<float> pcm(2 * 12000);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = i % 7 == 0 ? std::numeric_limits<float>::quiet_NaN() : (i % 5 == 0 ? 1e30f : -0.5f);
    std::vector<uint8_t> out(16384), stream;
    size_t at = 0;
    for (int guard = 0; guard < 100000; ++guard) {
        const int offer = static_cast<int>(pcm.size() * 4 - at);
        int used = 0, written = 0;
        ASSERT_EQ(Message(L3CoreEncode(e, offer ? reinterpret_cast<const uint8_t*>(pcm.data()) + at : nullptr,
                                       offer, out.data(), 16384, &used, &written, nullptr, nullptr)),
                  "");
        stream.insert(stream.end(), out.begin(), out.begin() + written);
        at += static_cast<size_t>(used);
        if (offer == 0 && written == 0) break;
    }
    L3CoreClose(e);
    bool clean = false;
    EXPECT_GT(l3test::ParseFrames(stream, &clean).size(), 8u);
    EXPECT_TRUE(clean);
}

// Chunks of any size, and the smallest output room, give the bytes of one
// whole call; through the rate-converting filter as well.
TEST(L3CoreEncoder, ChunkedAndWholeInputGiveIdenticalBytes) {
    struct Case {
        int channels;
        float in, coded;
        int bitRate;
    };
    for (const Case& c : {Case{2, 48000.0f, 48000.0f, 128000}, Case{1, 44100.0f, 32000.0f, 64000}}) {
        SCOPED_TRACE(c.coded);
        const auto pcm =
            l3test::Tones(static_cast<int>(c.in), c.channels, 0.5, {{440, 0.4}, {5000, 0.1}}, {{660, 0.3}});
        const Stream whole = EncodeAll(pcm, c.channels, c.in, c.coded, c.bitRate, SIZE_MAX);
        ASSERT_EQ(whole.error, "");
        bool clean = false;
        EXPECT_GT(l3test::ParseFrames(whole.bytes, &clean).size(), 15u);
        EXPECT_TRUE(clean);
        for (size_t chunk : {size_t(2 * c.channels), size_t{1234}, size_t{4608}}) {  // one sample frame up
            const Stream chunked = EncodeAll(pcm, c.channels, c.in, c.coded, c.bitRate, chunk, 5, 0,
                                             chunk == 1234 ? kL3CoreMinOutputRoom : 16384);
            EXPECT_EQ(chunked.error, "");
            EXPECT_TRUE(chunked.bytes == whole.bytes) << chunk;
        }
    }
}

// Two encoders opened and run at once on two threads: the process-wide
// option registry, SSE flag and tables keep them apart, and each stream is
// the one the encoder codes alone.
TEST(L3CoreEncoder, TwoEncodersOnTwoThreadsCodeAsEachAlone) {
    const auto stereo = l3test::Tones(48000, 2, 0.3, {{440, 0.4}}, {{660, 0.3}});
    const auto mono = l3test::Tones(22050, 1, 0.3, {{1000, 0.4}}, {});
    const Stream aloneA = EncodeAll(stereo, 2, 48000.0f, 48000.0f, 128000, 4608, 9);
    const Stream aloneB = EncodeAll(mono, 1, 22050.0f, 22050.0f, 64000, 1000, 0);
    Stream a, b;
    std::thread ta([&] { a = EncodeAll(stereo, 2, 48000.0f, 48000.0f, 128000, 4608, 9); });
    std::thread tb([&] { b = EncodeAll(mono, 1, 22050.0f, 22050.0f, 64000, 1000, 0); });
    ta.join();
    tb.join();
    EXPECT_EQ(a.error, "");
    EXPECT_EQ(b.error, "");
    EXPECT_TRUE(a.bytes == aloneA.bytes);
    EXPECT_TRUE(b.bytes == aloneB.bytes);
}

// The whole encoder's frames at 44100 Hz and 128 kbit/s: 417 bytes or one
// padded more, every run of frames from the first within a byte of the exact
// rate (so one frame in 24 or 25 goes unpadded); between two table rates (100 kbit/s at 48000 Hz)
// the mean within 0.2 %. The reservoir never reaches back further than the
// decoder's buffer holds: not at all at 320 kbit/s.
TEST(L3CoreEncoder, PaddingRateAndReservoirOfTheWholeStream) {
    const auto pcm = l3test::Tones(44100, 2, 1.5, {{440, 0.4}, {5000, 0.1}}, {{660, 0.3}});
    const Stream s = EncodeAll(pcm, 2, 44100.0f, 44100.0f, 128000, 4608);
    bool clean = false;
    const auto frames = l3test::ParseFrames(s.bytes, &clean);
    ASSERT_TRUE(clean);
    ASSERT_GT(frames.size(), 52u);
    long long total = 0;
    std::string unpadded;
    for (size_t n = 0; n < frames.size(); ++n) {
        EXPECT_EQ(frames[n].length, 417 + frames[n].padding) << "frame " << n;
        if (!frames[n].padding) unpadded += " " + std::to_string(n);
        total += frames[n].length;
        EXPECT_LT(std::abs(static_cast<double>(total) - (n + 1) * 128000.0 * 144.0 / 44100.0), 1.0)
            << "frame " << n;
    }
    auto mainDataBegin = [](const std::vector<uint8_t>& b, const l3test::FrameHeader& f) {
        const size_t p = f.offset + 4 + (f.crc ? 2 : 0);
        return f.version == 1 ? (b[p] << 1) | (b[p + 1] >> 7) : b[p];
    };
    int deepest = 0;
    for (const auto& f : frames) deepest = std::max(deepest, mainDataBegin(s.bytes, f));
    const Stream top = EncodeAll(pcm, 2, 44100.0f, 44100.0f, 320000, 4608);
    int deepestTop = 0;
    for (const auto& f : l3test::ParseFrames(top.bytes, &clean))
        deepestTop = std::max(deepestTop, mainDataBegin(top.bytes, f));
    const auto pcm48 = l3test::Tones(48000, 2, 1.5, {{440, 0.4}}, {{660, 0.3}});
    const Stream mixed = EncodeAll(pcm48, 2, 48000.0f, 48000.0f, 100000, 4608);
    const auto mixedFrames = l3test::ParseFrames(mixed.bytes, &clean);
    EXPECT_TRUE(clean);
    const double rate = mixed.bytes.size() * 8.0 / (mixedFrames.size() * 1152.0 / 48000.0);
    std::printf(
        "[ stream ] 44100 Hz 128 kbit/s: %zu frames, %lld bytes, unpadded frames%s; reservoir up to %d bytes "
        "(320 kbit/s: %d); 48000 Hz 100 kbit/s: %.1f bit/s (%+.3f %%)\n",
        frames.size(), total, unpadded.c_str(), deepest, deepestTop, rate, 100.0 * (rate / 100000.0 - 1.0));
    EXPECT_LE(deepest, 511);
    EXPECT_GT(deepest, 0);
    EXPECT_EQ(deepestTop, 0);
    EXPECT_NEAR(rate / 100000.0, 1.0, 0.002);
}
