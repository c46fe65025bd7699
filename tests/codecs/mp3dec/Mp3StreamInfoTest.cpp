#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "Mp3TestUtil.h"
#include "codecs/mp3dec/Mp3StreamInfo.h"

using namespace mp3test;

namespace {

void PutBe(std::vector<uint8_t>& v, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) v[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * (bytes - 1 - i)));
}

// 44100 Hz, 128 kbit/s stereo frames, padding as lame sets it (one frame in 40 without).
std::vector<uint8_t> CbrFrames(int n) {
    std::vector<uint8_t> out;
    for (int i = 0; i < n; ++i) {
        FrameSpec f;
        f.padding = (i % 40) != 0;
        const auto b = BuildFrame(f);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

std::vector<uint8_t> XingFrame(uint32_t flags, uint32_t frames, uint32_t bytes, FrameSpec f = FrameSpec{}) {
    auto frame = BuildFrame(f);
    const size_t at = f.version == 0 ? (f.mode == 3 ? 21 : 36) : (f.mode == 3 ? 13 : 21);
    std::memcpy(frame.data() + at, "Xing", 4);
    PutBe(frame, at + 4, flags, 4);
    size_t p = at + 8;
    if (flags & 1) {
        PutBe(frame, p, frames, 4);
        p += 4;
    }
    if (flags & 2) {
        PutBe(frame, p, bytes, 4);
        p += 4;
    }
    if (flags & 4)
        for (int i = 0; i < 100; ++i) frame[p + static_cast<size_t>(i)] = static_cast<uint8_t>(i * 256 / 100);
    return frame;
}

// VBRI in the first frame: entries of 2 bytes, scale 1.
std::vector<uint8_t> VbriFrame(uint32_t frames, uint32_t bytes, uint32_t entries, uint32_t framesPerEntry,
                               uint32_t entryBytes) {
    FrameSpec f;
    f.bitRateIndex = 14;  // room for the table
    auto frame = BuildFrame(f);
    std::memcpy(frame.data() + 36, "VBRI", 4);
    PutBe(frame, 40, 1, 2);
    PutBe(frame, 42, 576, 2);
    PutBe(frame, 44, 75, 2);
    PutBe(frame, 46, bytes, 4);
    PutBe(frame, 50, frames, 4);
    PutBe(frame, 54, entries, 2);
    PutBe(frame, 56, 1, 2);
    PutBe(frame, 58, 2, 2);
    PutBe(frame, 60, framesPerEntry, 2);
    for (uint32_t i = 0; i < entries; ++i) PutBe(frame, 62 + 2 * i, entryBytes, 2);
    return frame;
}

}  // namespace

TEST(Mp3StreamInfo, NoFrameNoInfo) {
    CMp3StreamInfo s;
    std::vector<uint8_t> junk(5000, 0x55);
    EXPECT_EQ(s.Open(junk.data(), static_cast<uint32_t>(junk.size()), 5000), 0);
    EXPECT_EQ(s.Open(nullptr, 0, 0), 0);
    EXPECT_EQ(s.GetInfo()->bitRate, 0);
}

TEST(Mp3StreamInfo, ConstantBitRateDurationAndPosition) {
    CMp3StreamInfo s;
    const auto bytes = CbrFrames(60);
    ASSERT_EQ(s.Open(bytes.data(), static_cast<uint32_t>(bytes.size()), 1600000), 1);
    const Mp3StreamInfoBlock* b = s.GetInfo();
    EXPECT_EQ(b->bitRate, 128000);
    EXPECT_EQ(b->channels, 2);
    EXPECT_EQ(b->sampleRate, 44100);
    EXPECT_EQ(b->durationMs, 100000);
    EXPECT_EQ(b->vbr, 0);
    EXPECT_EQ(b->header, 0);
    EXPECT_EQ(b->seekable, 1);
    EXPECT_EQ(s.PositionFromTime(50000), 800000u);
    EXPECT_EQ(s.PositionFromPercent(50.0f), 800000u);
    EXPECT_EQ(s.PositionFromTime(900000), 1600000u);  // limited to the duration
    EXPECT_EQ(s.Format().formatTag, 0x55);
    EXPECT_EQ(s.Format().avgBytesPerSec, 16000u);
    EXPECT_EQ(s.Format().flags & 0x100u, 0u);
    EXPECT_EQ(s.Format().flags & 3u, 0u);  // padding varies
    EXPECT_EQ(s.Format().flags & 0x30u, 32u);  // no CRC, constant
    // Garbage in front: the first frame's bit offset is reported.
    std::vector<uint8_t> shifted(3, 0);
    shifted.insert(shifted.end(), bytes.begin(), bytes.end());
    ASSERT_EQ(s.Open(shifted.data(), static_cast<uint32_t>(shifted.size()), 0), 1);
    EXPECT_EQ(s.FirstFrameBitOffset(), 24);
    EXPECT_EQ(s.GetInfo()->durationMs, 0);  // total size unknown
}

TEST(Mp3StreamInfo, XingHeaderGivesDurationAndTableOfContents) {
    auto stream = XingFrame(15, 1000, 418000);
    const auto rest = CbrFrames(20);
    stream.insert(stream.end(), rest.begin(), rest.end());
    CMp3StreamInfo s;
    ASSERT_EQ(s.Open(stream.data(), static_cast<uint32_t>(stream.size()), 0), 1);
    const Mp3StreamInfoBlock* b = s.GetInfo();
    EXPECT_EQ(b->durationMs, static_cast<int32_t>(1000 * (1000.0f / 44100.0f * 1152.0f)));
    EXPECT_EQ(b->vbr, 1);
    EXPECT_EQ(b->header, 1);
    EXPECT_EQ(b->seekable, 1);
    EXPECT_NEAR(b->bitRate, 418000.0 * 8 / (b->durationMs / 1000.0), 2.0);
    EXPECT_EQ(s.PositionFromPercent(100.0f), 418000u);
    EXPECT_EQ(s.PositionFromPercent(0.0f), 0u);
    EXPECT_EQ(s.PositionFromPercent(50.0f), 418000u * 128u / 256u);
    EXPECT_LE(s.PositionFromTime(static_cast<uint32_t>(b->durationMs)), 418000u);
}

TEST(Mp3StreamInfo, DamagedHeadersAreRefused) {
    // A Xing header with zero frames would give zero duration: ignored.
    auto xing = XingFrame(3, 0, 418000);
    const auto rest = CbrFrames(10);
    xing.insert(xing.end(), rest.begin(), rest.end());
    CMp3StreamInfo s;
    ASSERT_EQ(s.Open(xing.data(), static_cast<uint32_t>(xing.size()), 4170), 1);
    EXPECT_FALSE(s.Xing().found);
    EXPECT_EQ(s.GetInfo()->header, 0);
    EXPECT_EQ(s.GetInfo()->bitRate, 128000);
    // A VBRI header with zero frames per entry: no table to index, no division.
    auto vbri = VbriFrame(100, 50000, 10, 0, 500);
    vbri.insert(vbri.end(), rest.begin(), rest.end());
    ASSERT_EQ(s.Open(vbri.data(), static_cast<uint32_t>(vbri.size()), 4170), 1);
    EXPECT_FALSE(s.Vbri().found);
    EXPECT_EQ(s.GetInfo()->header, 0);
    s.PositionFromTime(1000);
    // A table longer than the data is refused too.
    auto longTable = VbriFrame(100, 50000, 10, 10, 500);
    PutBe(longTable, 54, 20000, 2);
    EXPECT_EQ(s.Open(longTable.data(), static_cast<uint32_t>(longTable.size()), 0), 0);  // one frame: no lock
    longTable.insert(longTable.end(), rest.begin(), rest.end());
    ASSERT_EQ(s.Open(longTable.data(), static_cast<uint32_t>(longTable.size()), 0), 1);
    EXPECT_FALSE(s.Vbri().found);
}

TEST(Mp3StreamInfo, VbriSeekTableInterpolates) {
    auto stream = VbriFrame(100, 50000, 10, 10, 500);
    const auto rest = CbrFrames(10);
    stream.insert(stream.end(), rest.begin(), rest.end());
    CMp3StreamInfo s;
    ASSERT_EQ(s.Open(stream.data(), static_cast<uint32_t>(stream.size()), 0), 1);
    ASSERT_TRUE(s.Vbri().found);
    const float frameMs = 1000.0f / 44100.0f * 1152.0f;
    EXPECT_EQ(s.GetInfo()->durationMs, static_cast<int32_t>(100 * frameMs));
    EXPECT_EQ(s.GetInfo()->seekable, 1);
    EXPECT_EQ(s.PositionFromTime(0), 0u);
    // Frame 25: entry 2 plus half of entry 3.
    EXPECT_NEAR(s.PositionFromTime(static_cast<uint32_t>(std::lround(25 * frameMs))), 1250.0, 30.0);
}

TEST(Mp3StreamInfo, Mpeg25HasNoXingHeader) {
    FrameSpec f{2, 0, 8, 0, 0};
    auto stream = XingFrame(15, 100, 10000, f);
    const auto more = Repeat(BuildFrame(f), 5);
    stream.insert(stream.end(), more.begin(), more.end());
    CMp3StreamInfo s;
    ASSERT_EQ(s.Open(stream.data(), static_cast<uint32_t>(stream.size()), 0), 1);
    EXPECT_FALSE(s.Xing().found);
    EXPECT_EQ(s.GetInfo()->sampleRate, 11025);
    Mp3XingHeader x;
    EXPECT_FALSE(Mp3ParseXing(stream.data(), static_cast<uint32_t>(stream.size()), 2, 2, 11025, x));
}

TEST(Mp3StreamInfo, HandleIsTaggedMp3I) {
    Mp3StreamInfoHandle h = nullptr;
    ASSERT_EQ(Mp3StreamInfoCreate(&h), MP3STATUS_OK);
    EXPECT_EQ(std::memcmp(h->tag, "Mp3I", 4), 0);
    // Not a decoder handle.
    EXPECT_EQ(Mp3DecoderDestroy(reinterpret_cast<Mp3DecoderHandle>(h)), MP3STATUS_E_HANDLE);
    EXPECT_EQ(Mp3StreamInfoDestroy(h), MP3STATUS_OK);
    EXPECT_EQ(Mp3StreamInfoCreate(nullptr), MP3STATUS_E_PARAM);
}

namespace {
struct Probe {
    double duration = 0.0;
    double bitRate = 0.0;
};
// ffprobe starts slowly: every file is probed at once in the background and
// the answers are read from <file>.probe and <file>.packets afterwards.
void FfProbeAll(const CTempDir& dir, const std::vector<std::string>& names) {
    std::string cmd = "cd '" + dir.Path().string() + "' && { ";
    for (const auto& n : names) {
        cmd += "ffprobe -v error -show_entries format=duration,bit_rate -of default=nw=1 " + n + " > " + n +
               ".probe 2>/dev/null & ";
        if (n == "vbr_plain.mp3")
            cmd += "ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " + n + " > " + n +
                   ".packets 2>/dev/null & ";
    }
    cmd += "wait; }";
    mp3test::Run(cmd);
}

std::string ReadText(const std::string& path) {
    const auto b = ReadFile(path);
    return std::string(b.begin(), b.end());
}

Probe FfProbe(const std::string& file) {
    Probe p;
    const std::string out = ReadText(file + ".probe");
    std::sscanf(out.c_str() + std::min(out.find("duration="), out.size()), "duration=%lf", &p.duration);
    const size_t br = out.find("bit_rate=");
    if (br != std::string::npos) std::sscanf(out.c_str() + br, "bit_rate=%lf", &p.bitRate);
    return p;
}
}  // namespace

TEST(Mp3StreamInfo, AgreesWithFfprobe) {
    if (!HaveTool("lame") || !HaveTool("ffprobe")) GTEST_SKIP() << "lame or ffprobe not on PATH";
    CTempDir dir("probe");
    WriteWav(dir / "in.wav", TestSignal(44100, 2, 1.5, 3), 44100, 2);
    WriteWav(dir / "lo.wav", TestSignal(22050, 1, 1.5, 4), 22050, 1);
    struct Case {
        const char* name;
        const char* cmd;
        bool vbrWithoutHeader;
    };
    const Case cases[] = {
        {"cbr_info.mp3", "lame --quiet -b 128 in.wav cbr_info.mp3", false},
        {"cbr_plain.mp3", "lame --quiet -t -b 192 in.wav cbr_plain.mp3", false},
        {"vbr_xing.mp3", "lame --quiet -V 3 in.wav vbr_xing.mp3", false},
        {"lsf_vbr_xing.mp3", "lame --quiet -V 5 lo.wav lsf_vbr_xing.mp3", false},
        {"vbr_plain.mp3", "lame --quiet -t -V 3 in.wav vbr_plain.mp3", true},
    };
    std::string encode = "cd '" + dir.Path().string() + "' && { ";
    for (const Case& c : cases) encode += std::string(c.cmd) + " & ";
    ASSERT_TRUE(mp3test::Run(encode + "wait; }"));
    for (const Case& c : cases) ASSERT_TRUE(std::filesystem::exists(dir / c.name)) << c.cmd;
    // A VBRI file: the Xing frame of the VBR stream rewritten as a VBRI frame.
    {
        auto v = ReadFile(dir / "vbr_xing.mp3");
        CMp3StreamInfo s;
        ASSERT_EQ(s.Open(v.data(), static_cast<uint32_t>(v.size()), static_cast<uint32_t>(v.size())), 1);
        ASSERT_TRUE(s.Xing().found);
        const size_t first = static_cast<size_t>(s.FirstFrameBitOffset() / 8);
        const uint32_t frames = s.Xing().frames;
        std::fill(v.begin() + static_cast<long>(first) + 36, v.begin() + static_cast<long>(first) + 36 + 120, 0);
        const size_t at = first + 36;
        std::memcpy(v.data() + at, "VBRI", 4);
        PutBe(v, at + 4, 1, 2);
        PutBe(v, at + 10, static_cast<uint32_t>(v.size() - first), 4);
        PutBe(v, at + 14, frames, 4);
        PutBe(v, at + 18, 0, 2);  // no table entries
        PutBe(v, at + 20, 1, 2);
        PutBe(v, at + 22, 2, 2);
        PutBe(v, at + 24, 10, 2);
        WriteFile(dir / "vbri.mp3", v);
    }
    const std::vector<std::string> names = {"cbr_info.mp3",  "cbr_plain.mp3", "vbr_xing.mp3",
                                            "lsf_vbr_xing.mp3", "vbr_plain.mp3", "vbri.mp3"};
    FfProbeAll(dir, names);
    for (const std::string& nameStr : names) {
        const char* name = nameStr.c_str();
        const auto bytes = ReadFile(dir / name);
        CMp3StreamInfo s;
        ASSERT_EQ(s.Open(bytes.data(), static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(bytes.size())), 1)
            << name;
        const Probe p = FfProbe(dir / name);
        double refDuration = p.duration;
        if (std::string(name) == "vbr_plain.mp3") {
            // Without a header ffprobe only guesses from the first frame; count its packets instead.
            int packets = 0;
            std::sscanf(ReadText((dir / name) + ".packets").c_str(), "%d", &packets);
            refDuration = packets * 1152.0 / 44100.0;
        }
        const double ours = s.GetInfo()->durationMs / 1000.0;
        const double frame = (s.GetInfo()->sampleRate <= 24000 ? 576.0 : 1152.0) / s.GetInfo()->sampleRate;
        std::printf("[ info ] %-18s ours %.3f s %7d bit/s  ffprobe %.3f s %7.0f bit/s  header %d vbr %d\n", name, ours,
                    s.GetInfo()->bitRate, refDuration, p.bitRate, s.GetInfo()->header, s.GetInfo()->vbr);
        // Within two frames (the Info frame of a CBR file counts as audio for us) or 2 %.
        EXPECT_NEAR(ours, refDuration, std::max(2.0 * frame + 0.002, 0.02 * refDuration)) << name;
        if (std::string(name) != "vbr_plain.mp3") {
            EXPECT_NEAR(s.GetInfo()->bitRate, p.bitRate, 0.02 * p.bitRate) << name;
        }
    }
}
