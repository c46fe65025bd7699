#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "Mp3TestUtil.h"
#include "codecs/mp3dec/Mp3Decoder.h"

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
