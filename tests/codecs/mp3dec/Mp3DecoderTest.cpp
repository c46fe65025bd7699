#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "Mp3TestUtil.h"
#include "codecs/mp3dec/Mp3Decoder.h"
#include "mp3enc/Mp3EncTestSupport.h"

using namespace mp3test;

namespace {
struct Decoder {
    Mp3DecoderHandle h = nullptr;
    explicit Decoder(int rateShift = 0, int eightBit = 0, int forceMono = 0) {
        EXPECT_EQ(Mp3DecoderCreate(&h, rateShift, eightBit, forceMono), MP3STATUS_OK);
    }
    ~Decoder() {
        if (h) Mp3DecoderDestroy(h);
    }
    uint32_t Feed(const std::vector<uint8_t>& bytes) {
        uint32_t taken = 0;
        EXPECT_EQ(Mp3DecoderFeed(h, bytes.data(), static_cast<uint32_t>(bytes.size()), &taken), MP3STATUS_OK);
        return taken;
    }
    Mp3Status Decode(std::vector<uint8_t>& out, uint32_t room, uint32_t* produced) {
        out.assign(room + 16, 0xEE);
        return Mp3DecoderDecode(h, out.data(), room, produced, nullptr, nullptr);
    }
};
}  // namespace

TEST(Mp3Decoder, StatusTextsAndSeverities) {
    EXPECT_STREQ(Mp3DecoderStatusText(MP3STATUS_OK), "(Mp3Status) success: no error");
    EXPECT_STREQ(Mp3DecoderStatusText(MP3STATUS_E_IO_READ), "(Mp3Status) error: I/O - read error");
    EXPECT_STREQ(Mp3DecoderStatusText(MP3STATUS_I_NOMAINDATA),
                 "(Mp3Status) info: Decoder - not enough main data present");
    EXPECT_STREQ(Mp3DecoderStatusText(MP3STATUS_W_EOF), "(Mp3Status) warning: Decoder - sync eof");
    EXPECT_STREQ(Mp3DecoderStatusText(0x12345678u), "(Mp3Status) unknown status");
    EXPECT_TRUE(Mp3Succeeded(MP3STATUS_I_CRC));
    EXPECT_FALSE(Mp3Succeeded(MP3STATUS_W_SEARCHED));
    EXPECT_FALSE(Mp3Succeeded(MP3STATUS_E_IO));  // warning bits despite the "error" text
}

TEST(Mp3Decoder, HandleAndParameterChecks) {
    EXPECT_EQ(Mp3DecoderCreate(nullptr, 0, 0, 0), MP3STATUS_E_PARAM);
    Decoder d;
    uint32_t n = 0;
    EXPECT_EQ(Mp3DecoderFeed(d.h, "x", 1, nullptr), MP3STATUS_E_PARAM);
    EXPECT_EQ(Mp3DecoderGetFreeSpace(d.h, nullptr), MP3STATUS_E_PARAM);
    EXPECT_EQ(Mp3DecoderGetFreeSpace(nullptr, &n), MP3STATUS_E_HANDLE);
    EXPECT_EQ(Mp3DecoderDecode(nullptr, nullptr, 0, nullptr, nullptr, nullptr), MP3STATUS_E_HANDLE);
    d.h->tag[0] = 'S';
    EXPECT_EQ(Mp3DecoderDestroy(d.h), MP3STATUS_E_HANDLE);  // nothing freed
    EXPECT_EQ(Mp3DecoderFeed(d.h, "x", 1, &n), MP3STATUS_E_HANDLE);
    d.h->tag[0] = 's';
    EXPECT_EQ(Mp3DecoderGetFreeSpace(d.h, &n), MP3STATUS_OK);
    EXPECT_EQ(n, 8192u);
}

TEST(Mp3Decoder, FeedTakesWhatFitsTheRing) {
    Decoder d;
    EXPECT_EQ(d.Feed(std::vector<uint8_t>(10000, 0)), 8192u);
    uint32_t n = 1;
    Mp3DecoderGetFreeSpace(d.h, &n);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(d.h->object->GetBufferedBytes(), 8192u);
}

TEST(Mp3Decoder, OneFrameAloneOnlySearches) {
    Decoder d;
    const auto frame = BuildFrame(FrameSpec{});
    d.Feed(frame);
    std::vector<uint8_t> out;
    uint32_t produced = 99;
    EXPECT_EQ(d.Decode(out, 4608, &produced), MP3STATUS_W_SEARCHED);
    EXPECT_EQ(produced, 0u);
    d.Feed(std::vector<uint8_t>(frame.begin(), frame.begin() + 4));
    EXPECT_EQ(d.Decode(out, 4608, &produced), MP3STATUS_OK);
    EXPECT_EQ(produced, 4608u);
}

TEST(Mp3Decoder, TooLittleRoomConsumesNothing) {
    Decoder d;
    d.Feed(Repeat(BuildFrame(FrameSpec{}), 3));
    std::vector<uint8_t> out;
    uint32_t produced = 7;
    EXPECT_EQ(d.Decode(out, 4607, &produced), MP3STATUS_E_BUFFER);
    EXPECT_EQ(produced, 0u);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(d.h->object->GetBufferedBytes(), 3u * 417u);
    EXPECT_EQ(d.Decode(out, 4608, &produced), MP3STATUS_OK);
    EXPECT_EQ(produced, 4608u);
    EXPECT_EQ(out[4608], 0xEE);  // not one byte beyond the frame
    EXPECT_EQ(d.h->object->GetBufferedBytes(), 2u * 417u);
}

TEST(Mp3Decoder, OutputSizeFollowsVersionChannelsAndOptions) {
    struct Case {
        FrameSpec f;
        int rateShift, eightBit, forceMono;
        uint32_t bytes;
    };
    FrameSpec mono;
    mono.mode = 3;
    FrameSpec lsf{1, 0, 8, 0, 0};
    FrameSpec lsfMono{1, 0, 8, 0, 3};
    FrameSpec m25{2, 2, 8, 0, 1};
    const Case cases[] = {
        {FrameSpec{}, 0, 0, 0, 4608}, {mono, 0, 0, 0, 2304}, {lsf, 0, 0, 0, 2304}, {lsfMono, 0, 0, 0, 1152},
        {m25, 0, 0, 0, 2304},         {FrameSpec{}, 1, 0, 0, 2304}, {FrameSpec{}, 0, 1, 0, 2304},
        {FrameSpec{}, 0, 0, 1, 2304}, {FrameSpec{}, 2, 1, 1, 288},
    };
    for (const Case& c : cases) {
        Decoder d(c.rateShift, c.eightBit, c.forceMono);
        d.Feed(Repeat(BuildFrame(c.f), 2));
        std::vector<uint8_t> out;
        uint32_t produced = 0;
        ASSERT_EQ(d.Decode(out, 4608, &produced), MP3STATUS_OK);
        EXPECT_EQ(produced, c.bytes) << c.f.version << " " << c.f.mode << " " << c.rateShift << c.eightBit
                                     << c.forceMono;
        // Silence: zero samples, or 0x80 bytes with 8-bit output.
        for (uint32_t i = 0; i < produced; ++i) ASSERT_EQ(out[i], c.eightBit ? 0x80 : 0) << i;
        const Mp3DecoderInfo* info = d.h->object->GetInfo();
        EXPECT_EQ(info->layer, 3);
        EXPECT_EQ(info->version, c.f.version);
        EXPECT_EQ(info->outBitsPerSample, c.eightBit ? 8 : 16);
        EXPECT_EQ(info->outSampleRate, info->sampleRate >> c.rateShift);
        EXPECT_EQ(info->outChannels, c.forceMono ? 1 : info->channels);
    }
}

TEST(Mp3Decoder, NullOutputOnlySynchronises) {
    Decoder d;
    d.Feed(Repeat(BuildFrame(FrameSpec{}), 2));
    uint32_t produced = 5;
    EXPECT_EQ(Mp3DecoderDecode(d.h, nullptr, 0, &produced, nullptr, nullptr), MP3STATUS_OK);
    EXPECT_EQ(produced, 0u);
    EXPECT_EQ(d.h->object->GetInfo()->bitRate, 128000);
    EXPECT_EQ(d.h->object->GetInfo()->frameLengthBits, 3336);
    EXPECT_EQ(d.h->object->GetBufferedBytes(), 834u);
}

TEST(Mp3Decoder, ResetForgetsTheStream) {
    Decoder d;
    d.Feed(Repeat(BuildFrame(FrameSpec{}), 4));
    std::vector<uint8_t> out;
    uint32_t produced = 0;
    ASSERT_EQ(d.Decode(out, 4608, &produced), MP3STATUS_OK);
    d.h->object->Reset();
    EXPECT_EQ(d.h->object->GetBufferedBytes(), 0u);
    EXPECT_EQ(d.Decode(out, 4608, &produced), MP3STATUS_W_SEARCHED);
}

TEST(Mp3Decoder, EndOfStreamIsSticky) {
    Decoder d;
    d.Feed(Repeat(BuildFrame(FrameSpec{}), 2));
    d.h->object->SetEndOfStream();
    std::vector<uint8_t> out;
    uint32_t produced = 0;
    EXPECT_EQ(d.Decode(out, 4608, &produced), MP3STATUS_OK);
    EXPECT_EQ(d.Decode(out, 4608, &produced), MP3STATUS_OK);  // the last frame needs no successor once locked
    EXPECT_FALSE(d.h->object->IsEndOfStream());
    EXPECT_EQ(d.Decode(out, 4608, &produced), MP3STATUS_W_EOF);
    EXPECT_TRUE(d.h->object->IsEndOfStream());
    d.Feed(Repeat(BuildFrame(FrameSpec{}), 2));
    EXPECT_EQ(d.Decode(out, 4608, &produced), MP3STATUS_W_EOF);
}

TEST(Mp3Decoder, ObjectOverCallerStorage) {
    IMp3Decoder* o = reinterpret_cast<IMp3Decoder*>(1);
    std::vector<uint8_t> storage(3000);
    EXPECT_EQ(Mp3DecoderCreateOnBuffer(storage.data(), 2047, 0, 0, 0, &o), MP3STATUS_E_BUFFER);
    EXPECT_EQ(o, nullptr);
    EXPECT_EQ(Mp3DecoderCreateOnBuffer(storage.data(), 3000, 0, 0, 0, nullptr), MP3STATUS_E_PARAM);
    ASSERT_EQ(Mp3DecoderCreateOnBuffer(storage.data(), 3000, 0, 0, 0, &o), MP3STATUS_OK);
    EXPECT_EQ(o->GetFreeSpace(), 2048u);  // largest power of two inside the storage
    const auto frames = Repeat(BuildFrame(FrameSpec{}), 2);
    EXPECT_EQ(o->Feed(frames.data(), static_cast<uint32_t>(frames.size())), frames.size());
    std::vector<uint8_t> out(4608);
    uint32_t produced = 0;
    EXPECT_EQ(o->Decode(out.data(), 4608, &produced, nullptr, nullptr), MP3STATUS_OK);
    EXPECT_EQ(produced, 4608u);
    o->Release();
}

namespace {
// Hands out a stream in pieces of at most 100 bytes, then reports its end.
class CPieceSource : public Mp3DecoderSource {
public:
    explicit CPieceSource(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    void Read(uint8_t* destination, uint32_t count, uint32_t* got) override {
        const uint32_t n = std::min<uint32_t>({count, 100u, static_cast<uint32_t>(m_bytes.size() - m_pos)});
        std::memcpy(destination, m_bytes.data() + m_pos, n);
        m_pos += n;
        *got = n;
    }
    bool AtEnd() override { return m_pos >= m_bytes.size(); }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_pos = 0;
};
}  // namespace

TEST(Mp3Decoder, PullsFromAnAttachedSource) {
    Decoder d;
    CPieceSource source(Repeat(BuildFrame(FrameSpec{}), 5));
    d.h->object->SetSource(&source);
    std::vector<uint8_t> out;
    int frames = 0;
    for (int i = 0; i < 200; ++i) {
        uint32_t produced = 0;
        const Mp3Status s = d.Decode(out, 4608, &produced);
        if (produced) ++frames;
        if (s == MP3STATUS_W_EOF) break;
    }
    EXPECT_EQ(frames, 5);
    EXPECT_TRUE(d.h->object->IsEndOfStream());
}

TEST(Mp3Decoder, AncillaryBytesLieBetweenMainData) {
    // part2_3_length 0 everywhere: all of a frame's main data is ancillary
    // data, handed out with the next frame.
    std::vector<uint8_t> main(381, 0);
    std::memcpy(main.data(), "hello", 5);
    auto stream = BuildFrame(FrameSpec{}, {}, main);
    const auto rest = Repeat(BuildFrame(FrameSpec{}), 2);
    stream.insert(stream.end(), rest.begin(), rest.end());
    Decoder d;
    d.Feed(stream);
    std::vector<uint8_t> out(4608);
    std::vector<uint8_t> anc(2049, 0xAA);
    uint32_t produced = 0;
    uint32_t ancLen = 99;
    ASSERT_EQ(Mp3DecoderDecode(d.h, out.data(), 4608, &produced, anc.data(), &ancLen), MP3STATUS_OK);
    EXPECT_EQ(ancLen, 0u);
    ASSERT_EQ(Mp3DecoderDecode(d.h, out.data(), 4608, &produced, anc.data(), &ancLen), MP3STATUS_OK);
    EXPECT_EQ(ancLen, 381u);
    EXPECT_EQ(std::memcmp(anc.data(), "hello", 5), 0);
    EXPECT_EQ(anc[381], 0);  // followed by a zero byte
}

// Our encoder's intensity stereo through our decoder: one source panned 6 dB
// to the left keeps its level ratio, with and without mid/side beside it, up
// to the top band (which has no scale factor and rides on the band below).
TEST(Mp3Decoder, PlaysIntensityStereoWithTheChannelLevelRatio) {
    struct Case {
        int rate, bitRate;
        float bandwidth;
    };
    for (const Case c : {Case{48000, 64000, 0.0f}, Case{32000, 64000, 0.0f}, Case{44100, 96000, 0.0f},
                         Case{24000, 64000, 12000.0f}, Case{22050, 32000, 0.0f}, Case{8000, 16000, 0.0f},
                         Case{48000, 96000, 24000.0f}}) {
        for (bool pink : {false, true}) {
            char label[80];
            std::snprintf(label, sizeof label, "%d Hz, %d bit/s, bandwidth %.0f, %s", c.rate, c.bitRate, c.bandwidth,
                          pink ? "pink noise" : "tone");
            SCOPED_TRACE(label);
            l3test::EncodeSettings s;
            s.rate = c.rate;
            s.bitRate = c.bitRate;
            s.bandwidth = c.bandwidth;
            const auto pcm = l3test::Panned(c.rate, 1.0, pink, -6.0);
            const l3test::EncodeResult r = l3test::Encode(pcm, s);
            ASSERT_TRUE(r.opened);
            bool clean = false;
            size_t intensity = 0;
            for (const auto& f : l3test::ParseFrames(r.stream, &clean)) intensity += f.modeExtension & 1;
            EXPECT_GT(intensity, 0u);
            const DecodeResult d = DecodeAll(r.stream);
            EXPECT_TRUE(d.statuses.empty() || (d.statuses.size() == 1 && d.statuses[0] == MP3STATUS_W_EOF));
            const double ratio = l3test::RightToLeftDb(AsSamples(d.pcm), static_cast<size_t>(r.delay));
            std::printf("[ intensity ] ours: %-44s right %+.2f dB of the left (input -6.02)\n", label, ratio);
            EXPECT_NEAR(ratio, -6.02, 2.0);
            // With the top band in use, its position is the one below it, as mpg123 has it too.
            if (c.bandwidth == 0.0f || !pink || !HaveTool("mpg123")) continue;
            CTempDir dir;
            WriteFile(dir.File("s.mp3"), r.stream);
            const std::string cmd = "mpg123 -q --no-gapless -s " + dir.File("s.mp3") + " > " + dir.File("s.raw");
            ASSERT_EQ(std::system(cmd.c_str()), 0);
            const auto ours = AsSamples(d.pcm);
            const auto peer = AsSamples(ReadFile(dir.File("s.raw")));
            for (int ch = 0; ch < 2; ++ch) {
                double signal = 0.0, error = 0.0;
                for (size_t i = static_cast<size_t>(ch); i < std::min(ours.size(), peer.size()); i += 2) {
                    signal += static_cast<double>(peer[i]) * peer[i];
                    error += static_cast<double>(ours[i] - peer[i]) * (ours[i] - peer[i]);
                }
                const double snr = 10.0 * std::log10(signal / std::max(error, 1.0));
                std::printf("[ intensity ] ours against mpg123, channel %d: %.1f dB\n", ch, snr);
                EXPECT_GT(snr, 80.0);
            }
        }
    }
}
