// Decoder and encoder cores driven directly: options the codec class does not
// use (routing, half width, Layer I, the reduced-rate mode, ancillary data)
// and the filters of the rate conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

#include "codecs/mpeg2/Mp2Decoder.h"
#include "codecs/mpeg2/Mp2Encoder.h"
#include "codecs/mpeg2/Mp2Filters.h"
#include "tests/codecs/mpeg2/Mp2TestSupport.h"

namespace {

using namespace mp2test;

struct Sink {
    std::vector<uint8_t> bytes;
    std::vector<int> sizes;
    static int Write(const uint8_t* frame, int* length, void* user) {
        auto* s = static_cast<Sink*>(user);
        s->bytes.insert(s->bytes.end(), frame, frame + *length);
        s->sizes.push_back(*length);
        return 0;
    }
};

// Encodes pcm (interleaved as the layout wants) frame by frame; returns the last code.
int EncodeAll(Mp2HeaderWord header, Mp2InputDescriptor desc, const std::vector<int16_t>& pcm, Sink& sink,
              const std::vector<uint8_t>& ancillary = {}, int model = 0) {
    Mp2Encoder* enc = nullptr;
    int spf = 0;
    int r = Mp2EncoderOpen(Sink::Write, &sink, &header, &desc, &spf, model, &enc);
    if (r != 0) return r;
    const int inCh = desc.layout == 0x40 ? 1 : 2;
    const size_t per = static_cast<size_t>(spf) * static_cast<size_t>(inCh);
    std::vector<uint8_t> anc = ancillary;
    for (size_t i = 0; i + per <= pcm.size(); i += per) {
        const Mp2FrameControl control{&header, &desc};
        Mp2PcmBlock block{inCh, spf, const_cast<int16_t*>(pcm.data() + i)};
        Mp2AncillaryData a{static_cast<int>(anc.size()), anc.data()};
        r = Mp2EncodeFrame(&control, &block, anc.empty() ? nullptr : &a, enc);
        if (r != 0) break;
    }
    Mp2EncoderClose(&enc);
    return r;
}

Mp2HeaderWord Header(uint32_t streamBits20) { return mp2::FromStreamBits(streamBits20); }

// 48 kHz stereo 256 kbit/s Layer II, CRC on.
constexpr uint32_t kStereo256 = 0xCC404;
// 48 kHz mono 128 kbit/s Layer II, CRC on.
constexpr uint32_t kMono128 = 0xC84C4;

TEST(Mp2FilterTest, InterpolatorsDecayAndKeepThePublishedPassBand) {
    // The published x4 design, whose poles lie outside the unit circle.
    const double pubB[] = {0.00024579215, -0.00086738943, 0.0019205342, -0.002570916, 0.0023838719, -0.00089716335,
                           -0.00089716335, 0.0023838719, -0.002570916, 0.0019205342, -0.00086738943, 0.00024579215};
    const double pubA[] = {1, -8.4956675, 34.272781, -86.261353, 150.07393, -189.14146,
                           176.00209, -120.84203, 59.984726, -20.508247, 4.3499408, -0.4342891};
    const mp2::IirFilter published{11, pubB, pubA};
    auto tail = [](const mp2::IirFilter& f) {
        std::vector<double> z(static_cast<size_t>(f.order), 0.0);
        double peakLate = 0;
        for (int n = 0; n < 20000; ++n) {
            const double y = mp2::IirStep(f, z.data(), n == 0 ? 1.0 : 0.0);
            if (n >= 19000) peakLate = std::max(peakLate, std::fabs(y));
        }
        return peakLate;
    };
    EXPECT_LT(tail(mp2::DecoderInterpolateX4()), 1e-9);
    EXPECT_LT(tail(mp2::DecoderInterpolateX2()), 1e-9);
    EXPECT_LT(tail(mp2::EncoderDecimateX2()), 1e-9);
    EXPECT_LT(tail(mp2::EncoderDecimateX4()), 1e-9);
    EXPECT_GT(tail(published), 1.0) << "the published design rings up";
    auto gainDb = [](const mp2::IirFilter& f, double w) {
        std::complex<double> num = 0, den = 0;
        for (int k = 0; k <= f.order; ++k) {
            const std::complex<double> e = std::polar(1.0, -w * k);
            num += f.b[k] * e;
            den += f.a[k] * e;
        }
        return 20 * std::log10(std::abs(num / den));
    };
    for (double w = 0.0; w < 3.1; w += 0.05)
        EXPECT_NEAR(gainDb(mp2::DecoderInterpolateX4(), w), gainDb(published, w), 0.01) << "at " << w << " rad";
}

TEST(Mp2CoreTest, DecoderOpenRefusesBadOptions) {
    std::vector<uint8_t> none;
    Source src{&none};
    Mp2Decoder* d = nullptr;
    EXPECT_EQ(Mp2DecoderOpen(5, 0x0101008D, Source::Read, &src, &d), -1001);
    EXPECT_EQ(Mp2DecoderOpen(1, 0x0101038D, Source::Read, &src, &d), -11);
    testing::internal::CaptureStdout();
    EXPECT_EQ(Mp2DecoderOpen(0x20001, 0x0101008D, Source::Read, &src, &d), -9);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n Invalid ancillary data format \n");
    EXPECT_EQ(Mp2DecoderOpen(1, 0x0101008E, Source::Read, &src, &d), -12);  // routing 14
    EXPECT_EQ(Mp2DecoderOpen(1, 0x0101000D, Source::Read, &src, &d), -12);  // one-channel routing 0
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(Mp2DecoderClose(&d), -18);
}

TEST(Mp2CoreTest, DownmixRouteGivesHalfTheSum) {
    Sink sink;
    const auto pcm = Make(Signal::Multitone, 48000, 2, 0.2);
    ASSERT_EQ(EncodeAll(Header(kStereo256), {1, 0, 0, 0, 0x86, 0, 0, 0}, pcm, sink), 0);
    const StreamResult both = DecodeStream(sink.bytes, 0x0101008D);
    const StreamResult mixed = DecodeStream(sink.bytes, 0x01010094);  // two-channel 20, one-channel 4
    const StreamResult right = DecodeStream(sink.bytes, 0x01010090);  // right alone
    const StreamResult swapped = DecodeStream(sink.bytes, 0x01010093);
    ASSERT_EQ(both.channels, 2);
    ASSERT_EQ(mixed.channels, 1);
    ASSERT_EQ(right.channels, 1);
    ASSERT_EQ(mixed.pcm.size() * 2, both.pcm.size());
    for (size_t i = 0; i < mixed.pcm.size(); ++i) {
        const double half = (both.pcm[2 * i] + both.pcm[2 * i + 1]) * 0.5;
        ASSERT_NEAR(mixed.pcm[i], half, 1.01) << i;
        ASSERT_NEAR(right.pcm[i], both.pcm[2 * i + 1], 1.0) << i;
        ASSERT_EQ(swapped.pcm[2 * i], both.pcm[2 * i + 1]);
    }
    // A mono stream spread to both sides, and to one side with silence on the other.
    Sink mono;
    ASSERT_EQ(EncodeAll(Header(kMono128), {1, 0, 0, 0, 0x40, 0, 0, 0}, Make(Signal::Tone, 48000, 1, 0.1), mono), 0);
    const StreamResult m1 = DecodeStream(mono.bytes, 0x0101008D);
    const StreamResult m7 = DecodeStream(mono.bytes, 0x010100ED);
    const StreamResult m3 = DecodeStream(mono.bytes, 0x0101006D);
    ASSERT_EQ(m7.channels, 2);
    ASSERT_EQ(m3.channels, 2);
    for (size_t i = 0; i < m1.pcm.size(); ++i) {
        ASSERT_EQ(m7.pcm[2 * i], m1.pcm[i]);
        ASSERT_EQ(m7.pcm[2 * i + 1], m1.pcm[i]);
        ASSERT_EQ(m3.pcm[2 * i], 0);
        ASSERT_NEAR(m3.pcm[2 * i + 1], m1.pcm[i], 1);
    }
}

TEST(Mp2CoreTest, LayerOneRoundTrip) {
    Sink sink;
    const auto pcm = Make(Signal::Multitone, 48000, 2, 0.5);
    // 48 kHz stereo 384 kbit/s Layer I, CRC on: FF FE C4 04.
    ASSERT_EQ(EncodeAll(Header(0xEC404), {1, 0, 0, 0, 0x86, 0, 0, 0}, pcm, sink), 0);
    ASSERT_FALSE(sink.sizes.empty());
    EXPECT_EQ(sink.sizes[0], 384);
    const StreamResult r = DecodeStream(sink.bytes);
    EXPECT_EQ(r.failures, 0);
    const double snr = Snr(pcm, r.pcm, 2, 600);
    std::printf("Layer I 384 kbit/s round trip: SNR %.1f dB\n", snr);
    EXPECT_GT(snr, 30.0);
}

TEST(Mp2CoreTest, HalfWidthKeepsLowTones) {
    Sink sink;
    const auto pcm = Make(Signal::Tone, 48000, 1, 0.5);
    ASSERT_EQ(EncodeAll(Header(kMono128), {1, 0, 0, 0, 0x40, 0, 0, 0}, pcm, sink), 0);
    const StreamResult full = DecodeStream(sink.bytes);
    const StreamResult half = DecodeStream(sink.bytes, 0x0101018D);
    ASSERT_EQ(half.pcm.size() * 2, full.pcm.size());
    // Same tone at half the rate: compare the RMS levels.
    double a = 0, b = 0;
    for (size_t i = 4000; i < half.pcm.size(); ++i) b += static_cast<double>(half.pcm[i]) * half.pcm[i];
    for (size_t i = 8000; i < full.pcm.size(); ++i) a += static_cast<double>(full.pcm[i]) * full.pcm[i];
    const double diff = 10 * std::log10((b / static_cast<double>(half.pcm.size() - 4000)) /
                                        (a / static_cast<double>(full.pcm.size() - 8000)));
    std::printf("half width: tone level %.2f dB against full width\n", diff);
    EXPECT_NEAR(diff, 0.0, 1.0);
}

TEST(Mp2CoreTest, ReducedRateStreamIsBroughtBackUp) {
    // Emphasis 2, Layer II, ID 0, 22.05 kHz field (44.1 kHz nominal), mono, index 1: class 503, x4.
    const Mp2HeaderWord w = Header(0x510C2);
    ASSERT_EQ(Mp2ReducedRateClass(w), 503);
    Sink sink;
    Mp2InputDescriptor desc{1, 0, 0, 0, 0x40, 0, 0, 1};
    int spf = 0;
    Mp2Encoder* enc = nullptr;
    ASSERT_EQ(Mp2EncoderOpen(Sink::Write, &sink, &w, &desc, &spf, 1, &enc), 0);
    EXPECT_EQ(spf, 4608);
    Mp2EncoderClose(&enc);
    const auto pcm = Make(Signal::Tone, 22050, 1, 4608.0 * 5 / 22050 + 0.01);
    ASSERT_EQ(EncodeAll(w, desc, pcm, sink, {}, 1), 0);
    ASSERT_EQ(sink.sizes.size(), 5u);
    const StreamResult r = DecodeStream(sink.bytes, 0x0101008D);
    EXPECT_EQ(r.failures, 0);
    EXPECT_EQ(r.pcm.size(), 5u * 4608);
    const StreamResult refused = DecodeStream(sink.bytes, 0x0001008D);
    EXPECT_TRUE(refused.pcm.empty());
    // Without permission the encoder refuses the header.
    Mp2InputDescriptor plain{1, 0, 0, 0, 0x40, 0, 0, 0};
    EXPECT_EQ(Mp2EncoderOpen(Sink::Write, &sink, &w, &plain, &spf, 0, &enc), -5);
}

TEST(Mp2CoreTest, AncillaryTrailers) {
    Sink sink;
    const auto pcm = Make(Signal::Tone, 48000, 1, 1152.0 * 3 / 48000 + 0.001);
    ASSERT_EQ(EncodeAll(Header(kMono128), {1, 0, 1, 0, 0x40, 0, 0, 0}, pcm, sink, {0x41, 0x42}), 0);
    ASSERT_EQ(sink.sizes.size(), 3u);
    ASSERT_EQ(sink.sizes[0], 384);
    // Written last byte first, then a zero byte and the count x 2.
    EXPECT_EQ(sink.bytes[380], 0x42);
    EXPECT_EQ(sink.bytes[381], 0x41);
    EXPECT_EQ(sink.bytes[382], 0x00);
    EXPECT_EQ(sink.bytes[383], 0x04);
    auto read = [](const std::vector<uint8_t>& bytes, int format) {
        Source src{&bytes};
        Mp2Decoder* d = nullptr;
        EXPECT_EQ(Mp2DecoderOpen(1 | (static_cast<uint32_t>(format) << 16), 0x0101008D, Source::Read, &src, &d), 0);
        std::vector<int16_t> buf(2 * kMp2MaxSamplesPerChannel);
        std::vector<uint8_t> out;
        for (int i = 0; i < 3; ++i) {
            uint8_t anc[8] = {};
            Mp2PcmBlock block{0, 0, buf.data()};
            Mp2AncillaryData a{sizeof anc, anc};
            Mp2DecodeFrame(nullptr, &block, &a, d);
            if (i == 1) out.assign(anc, anc + a.length);
        }
        Mp2DecoderClose(&d);
        return out;
    };
    EXPECT_EQ(read(sink.bytes, 1), (std::vector<uint8_t>{0x41, 0x42}));
    auto broken = sink.bytes;
    broken[382] = 0x01;  // not zero before the count: no data
    EXPECT_TRUE(read(broken, 1).empty());
    // The raw reader returns the frame's last bytes, last first.
    const auto raw = read(sink.bytes, 5);
    ASSERT_GE(raw.size(), 4u);
    EXPECT_EQ(raw[0], 0x04);
    EXPECT_EQ(raw[1], 0x00);
    EXPECT_EQ(raw[2], 0x41);
    EXPECT_EQ(raw[3], 0x42);
    // One zero byte of ancillary data ends the frame with 00 00 02.
    Sink one;
    ASSERT_EQ(EncodeAll(Header(kMono128), {1, 0, 1, 0, 0x40, 0, 0, 0}, pcm, one, {0x00}), 0);
    EXPECT_EQ(one.bytes[381], 0x00);
    EXPECT_EQ(one.bytes[382], 0x00);
    EXPECT_EQ(one.bytes[383], 0x02);
}

TEST(Mp2CoreTest, EncoderRefusals) {
    Sink sink;
    Mp2Encoder* enc = nullptr;
    int spf = 0;
    Mp2HeaderWord w = Header(kStereo256);
    const Mp2InputDescriptor good{1, 0, 1, 0, 0x86, 0, 0, 0};
    Mp2InputDescriptor d = good;
    d.layout = 0x82;  // one-channel layout, two-channel header
    EXPECT_EQ(Mp2EncoderOpen(Sink::Write, &sink, &w, &d, &spf, 0, &enc), -12);
    d = good;
    d.padding = 3;
    EXPECT_EQ(Mp2EncoderOpen(Sink::Write, &sink, &w, &d, &spf, 0, &enc), -1);
    d = good;
    d.ancFormat = 2;
    EXPECT_EQ(Mp2EncoderOpen(Sink::Write, &sink, &w, &d, &spf, 0, &enc), -9);
    EXPECT_EQ(Mp2EncoderOpen(Sink::Write, &sink, &w, &good, &spf, 2, &enc), -3003);
    const Mp2HeaderWord layer3 = Header(0xAC404);
    EXPECT_EQ(Mp2EncoderOpen(Sink::Write, &sink, &layer3, &good, &spf, 0, &enc), -2);
    EXPECT_EQ(enc, nullptr);
    // Free format with the counted trailer: -10 at every frame, nothing handed over.
    const Mp2HeaderWord freeFormat = Header(0xC0404);
    ASSERT_EQ(Mp2EncoderOpen(Sink::Write, &sink, &freeFormat, &good, &spf, 0, &enc), 0);
    std::vector<int16_t> pcm(2 * 1152, 0);
    uint8_t zero = 0;
    Mp2AncillaryData anc{1, &zero};
    Mp2PcmBlock block{2, 1152, pcm.data()};
    const Mp2FrameControl control{&freeFormat, &good};
    EXPECT_EQ(Mp2EncodeFrame(&control, &block, &anc, enc), -10);
    EXPECT_TRUE(sink.sizes.empty());
    // A block of the wrong size is refused rather than read past its end.
    Mp2PcmBlock shortBlock{2, 1000, pcm.data()};
    const Mp2FrameControl plain{&w, &good};
    Mp2EncoderClose(&enc);
    ASSERT_EQ(Mp2EncoderOpen(Sink::Write, &sink, &w, &good, &spf, 0, &enc), 0);
    EXPECT_EQ(Mp2EncodeFrame(&plain, &shortBlock, &anc, enc), -12);
    EXPECT_EQ(Mp2EncodeFrame(&plain, &block, &anc, enc), 0);
    Mp2AncillaryData empty{0, &zero};
    EXPECT_EQ(Mp2EncodeFrame(&plain, &block, &empty, enc), -3302);  // frame still made
    EXPECT_EQ(sink.sizes.size(), 2u);
    EXPECT_EQ(Mp2EncoderClose(&enc), 0);
    EXPECT_EQ(Mp2EncoderClose(&enc), -18);
}

TEST(Mp2CoreTest, FreeFormatFramesStayBounded) {
    Sink sink;
    const auto pcm = Make(Signal::Noise, 48000, 2, 0.2);
    const Mp2HeaderWord freeFormat = Header(0xC0404);
    ASSERT_EQ(EncodeAll(freeFormat, {1, 0, 0, 0, 0x86, 0, 0, 0}, pcm, sink), 0);
    ASSERT_FALSE(sink.sizes.empty());
    for (int size : sink.sizes) EXPECT_LE(size, 1152);  // the 384 kbit/s frame at 48 kHz
    const StreamResult r = DecodeStream(sink.bytes);
    EXPECT_EQ(r.pcm.size(), sink.sizes.size() * 2304);
}

}  // namespace
