#include "codecs/mp3dec/Mp3StreamInfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "codecs/mp3dec/Mp3InputStream.h"

namespace {

uint32_t Be(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | p[i];
    return v;
}

// Count, sum, extremes and constancy of one header field over the scanned frames.
struct Mp3ValueStats {
    int64_t count = 0;
    int64_t sum = 0;
    int64_t min = 0;
    int64_t max = 0;
    bool same = true;
    void Add(int64_t v) {
        if (count == 0) {
            min = max = v;
        } else {
            if (v != min || v != max) same = false;
            min = std::min(min, v);
            max = std::max(max, v);
        }
        ++count;
        sum += v;
    }
    int64_t Average() const { return count ? sum / count : 0; }
};

// Smallest period 1..4 with which a sequence repeats, 0 when none.
struct Mp3PeriodDetector {
    int64_t last[4] = {};
    int count = 0;
    bool alive[5] = {false, true, true, true, true};
    void Add(int64_t v) {
        for (int p = 1; p <= 4; ++p)
            if (count >= p && last[p - 1] != v) alive[p] = false;
        for (int i = 3; i > 0; --i) last[i] = last[i - 1];
        last[0] = v;
        ++count;
    }
    int Period() const {
        for (int p = 1; p <= 4; ++p)
            if (alive[p]) return p;
        return 0;
    }
    int64_t SumOfPeriod(int p) const {
        int64_t s = 0;
        for (int i = 0; i < p && i < count; ++i) s += last[i];
        return s;
    }
};

}  // namespace

bool Mp3ParseXing(const uint8_t* frame, uint32_t available, int version, int channels, int sampleRate,
                  Mp3XingHeader& out) {
    out = Mp3XingHeader{};
    if (sampleRate < 16000) return false;
    uint32_t offset;
    if (version == 0) offset = channels == 2 ? 36 : 21;
    else offset = channels == 2 ? 21 : 13;
    if (available < offset + 120) return false;
    const uint8_t* p = frame + offset;
    if (std::memcmp(p, "Xing", 4) != 0) return false;
    Mp3XingHeader x;
    x.flags = Be(p + 4, 4);
    uint32_t at = 8;
    // offset + 120 covers every field: 4 + 4 + 4 + 4 + 100 + 4.
    if (x.flags & 1) {
        x.frames = Be(p + at, 4);
        at += 4;
        if (x.frames == 0) return false;  // a zero duration would be divided by
    }
    if (x.flags & 2) {
        x.bytes = Be(p + at, 4);
        at += 4;
    }
    if (x.flags & 4) {
        std::memcpy(x.toc, p + at, 100);
        at += 100;
    }
    if (x.flags & 8) x.quality = Be(p + at, 4);
    x.found = true;
    out = x;
    return true;
}

bool Mp3ParseVbri(const uint8_t* frame, uint32_t available, Mp3VbriHeader& out) {
    out = Mp3VbriHeader{};
    if (available < 62) return false;
    const uint8_t* p = frame + 36;
    if (std::memcmp(p, "VBRI", 4) != 0) return false;
    Mp3VbriHeader v;
    v.version = Be(p + 4, 2);
    if (v.version != 1) return false;
    v.delay = Be(p + 6, 2);
    v.quality = Be(p + 8, 2);
    v.bytes = Be(p + 10, 4);
    v.frames = Be(p + 14, 4);
    v.entries = Be(p + 18, 2);
    v.scale = Be(p + 20, 2);
    v.entrySize = Be(p + 22, 2);
    v.framesPerEntry = Be(p + 24, 2);
    // Damaged headers: nothing to divide by, no entry wider than a 32-bit word.
    if (v.framesPerEntry == 0 || v.frames == 0 || v.entrySize == 0 || v.entrySize > 4) return false;
    if (static_cast<uint64_t>(v.entries) * v.entrySize + 62 > available) return false;
    v.positions.assign(v.entries + 1, 0);
    const uint8_t* e = frame + 62;
    uint64_t pos = 0;
    for (uint32_t i = 1; i <= v.entries; ++i) {
        pos += static_cast<uint64_t>(Be(e + (i - 1) * v.entrySize, static_cast<int>(v.entrySize))) * v.scale;
        v.positions[i] = static_cast<uint32_t>(std::min<uint64_t>(pos, 0xFFFFFFFFu));
    }
    v.found = true;
    out = std::move(v);
    return true;
}

int32_t CMp3StreamInfo::Scan(const uint8_t* data, uint32_t length) {
    const uint32_t size = std::min<uint32_t>(length, 65536u);
    if (size < 4) return -1;
    CMp3InputStream in;
    if (!in.Create(size)) return -1;
    in.Reset();
    in.Ring().Write(data, size);
    in.Ring().SetEndOfInput(true);
    Mp3ValueStats chans, rates, bitRates, padding, protection;
    Mp3PeriodDetector lengths, rateSeq;
    int32_t first = -1;
    int version = 0, channels = 0, sampleRate = 0;
    for (;;) {
        const Mp3Status s = in.Synchronise();
        if (s == MP3STATUS_W_EOF) break;
        if ((s & 0xC0000000u) == 0xC0000000u) return -1;
        if (!Mp3Succeeded(s)) continue;
        const Mp3Header& h = in.Header();
        if (first < 0) {
            first = in.SkippedBits();
            version = h.version;
            channels = h.channels;
            sampleRate = h.sampleRate;
        }
        chans.Add(h.channels);
        rates.Add(h.sampleRate);
        bitRates.Add(h.bitRate);
        padding.Add(h.padding);
        protection.Add(h.protection);
        lengths.Add(h.frameLengthBits / 8);
        rateSeq.Add(h.bitRate);
        in.Ring().Skip(h.frameLengthBits);
    }
    if (first < 0) return -1;

    m_format = Mp3WaveFormat{};
    m_format.channels = static_cast<uint16_t>(chans.Average());
    m_format.samplesPerSec = static_cast<uint32_t>(rates.Average());
    const int ratePeriod = rateSeq.Period();
    int64_t avgRate = ratePeriod ? rateSeq.SumOfPeriod(ratePeriod) / ratePeriod : bitRates.Average();
    uint32_t flags = 0;
    if (padding.same) flags |= padding.min == 0 ? 2u : 1u;
    if (protection.same) flags |= protection.min ? 16u : 32u;
    if (ratePeriod == 0) flags |= 0x100u;
    if (!bitRates.same || padding.same) {
        const int lp = lengths.Period();
        m_format.blockSize = static_cast<uint16_t>(lp ? lengths.SumOfPeriod(lp) : 1);
        m_format.framesPerBlock = static_cast<uint16_t>(lp ? lp : 1);
    } else {
        m_format.blockSize = 1;
        m_format.framesPerBlock = 1;
    }

    m_xing = Mp3XingHeader{};
    if (first % 8 == 0 && static_cast<uint32_t>(first / 8) < length) {
        const uint8_t* frame = data + first / 8;
        const uint32_t available = length - static_cast<uint32_t>(first / 8);
        if (!Mp3ParseVbri(frame, available, m_vbri)) Mp3ParseXing(frame, available, version, channels, sampleRate, m_xing);
        uint32_t frames = 0, bytes = 0;
        if (m_vbri.found) {
            frames = m_vbri.frames;
            bytes = m_vbri.bytes;
        } else if (m_xing.found && (m_xing.flags & 3) == 3) {
            frames = m_xing.frames;
            bytes = m_xing.bytes;
        }
        const int spf = Mp3SamplesPerFrame(version);
        if (frames && bytes) {
            avgRate = static_cast<int64_t>(bytes) * 8 * sampleRate / (static_cast<int64_t>(frames) * spf);
            flags |= 0x100u;
        }
    } else {
        m_vbri = Mp3VbriHeader{};
    }
    m_format.flags = flags;
    m_format.avgBytesPerSec = static_cast<uint32_t>(avgRate / 8);
    m_block.bitRate = static_cast<int32_t>(avgRate);
    return first;
}

int CMp3StreamInfo::Open(const uint8_t* data, uint32_t length, uint32_t totalSize) {
    m_block = Mp3StreamInfoBlock{};
    m_totalSize = totalSize;
    m_xing = Mp3XingHeader{};
    m_vbri = Mp3VbriHeader{};
    m_firstFrameBits = data ? Scan(data, length) : -1;
    if (m_firstFrameBits < 0) {
        m_block = Mp3StreamInfoBlock{};
        return 0;
    }
    m_block.channels = m_format.channels;
    m_block.sampleRate = static_cast<int32_t>(m_format.samplesPerSec);
    if (m_totalSize && m_block.bitRate > 0)
        m_block.durationMs = static_cast<int32_t>(static_cast<int64_t>(m_totalSize) * 8000 / m_block.bitRate);
    m_block.vbr = (m_format.flags & 0x100u) ? 1 : 0;
    m_block.header = 0;
    m_block.seekable = m_block.vbr ? 0 : 1;
    const int spf = Mp3SamplesPerFrame(m_block.sampleRate <= 24000 ? 1 : 0);
    m_frameDurationMs = m_block.sampleRate ? 1000.0f / static_cast<float>(m_block.sampleRate) * spf : 0.0f;
    bool changed = false;
    auto fromFrames = [&](uint32_t frames) {
        const double d = static_cast<double>(frames) * m_frameDurationMs;
        m_block.durationMs = static_cast<int32_t>(std::min(d, 2147483647.0));
        if (m_block.durationMs > 0) {
            m_block.bitRate = static_cast<int32_t>(static_cast<double>(m_totalSize) * 8.0 / (m_block.durationMs / 1000.0));
            changed = true;
        }
    };
    if (m_vbri.found) {
        m_totalSize = m_vbri.bytes;
        fromFrames(m_vbri.frames);
        m_block.vbr = m_block.header = m_block.seekable = 1;
    } else if (m_xing.found) {
        if (m_xing.flags & 2) m_totalSize = m_xing.bytes;
        if (m_xing.flags & 1) fromFrames(m_xing.frames);
        m_block.vbr = m_block.header = 1;
        m_block.seekable = (m_xing.flags & 4) ? 1 : 0;
    }
    if (changed) m_format.avgBytesPerSec = static_cast<uint32_t>(m_block.bitRate / 8);
    return 1;
}

uint32_t CMp3StreamInfo::PositionFromPercent(float percent) {
    float p = std::clamp(percent, 0.0f, 100.0f);
    if (m_xing.found && (m_xing.flags & 4) && m_totalSize) {
        const int i = std::min(static_cast<int>(p), 99);
        const float a = m_xing.toc[i];
        const float b = i == 99 ? 256.0f : static_cast<float>(m_xing.toc[i + 1]);
        const double pos = static_cast<double>(m_totalSize) * (a + (b - a) * (p - i)) / 256.0;
        return static_cast<uint32_t>(std::min(pos, static_cast<double>(m_totalSize)));
    }
    return PositionFromTime(static_cast<uint32_t>(p * 0.01 * m_block.durationMs));
}

uint32_t CMp3StreamInfo::PositionFromTime(uint32_t ms) {
    const uint32_t duration = static_cast<uint32_t>(std::max(m_block.durationMs, 0));
    const uint32_t t = std::min(ms, duration);
    if (m_xing.found && (m_xing.flags & 4) && m_totalSize) {
        if (duration == 0) return 0;
        return PositionFromPercent(static_cast<float>(t) / static_cast<float>(duration) * 100.0f);
    }
    const double total = m_totalSize;
    if (!(m_frameDurationMs > 0.0f)) return 0;
    const double f = t / static_cast<double>(m_frameDurationMs);
    if (m_vbri.found && m_vbri.framesPerEntry) {
        const double le = f / m_vbri.framesPerEntry;
        const uint32_t l = static_cast<uint32_t>(std::min<double>(le, m_vbri.entries));
        const double a = m_vbri.positions[l];
        const double b = l < m_vbri.entries ? static_cast<double>(m_vbri.positions[l + 1]) : total;
        const double fa = static_cast<double>(l) * m_vbri.framesPerEntry;
        const double fb = l < m_vbri.entries ? fa + m_vbri.framesPerEntry : static_cast<double>(m_vbri.frames);
        double pos = a;
        if (fb > fa) pos = a + (b - a) * std::clamp((f - fa) / (fb - fa), 0.0, 1.0);
        return static_cast<uint32_t>(std::clamp(pos, 0.0, total));
    }
    if (m_format.blockSize > 1 && m_format.framesPerBlock != 0) {
        const double pos = std::floor(f / m_format.framesPerBlock) * m_format.blockSize;
        return static_cast<uint32_t>(std::min(pos, total));
    }
    const double pos = static_cast<double>(t) * m_block.bitRate / 8000.0;
    return static_cast<uint32_t>(std::min(pos, total));
}

Mp3Status Mp3StreamInfoCreateObject(IMp3StreamInfo** object) {
    if (!object) return MP3STATUS_E_PARAM;
    *object = new (std::nothrow) CMp3StreamInfo();
    return *object ? MP3STATUS_OK : MP3STATUS_E_NOMEM;
}

Mp3Status Mp3StreamInfoCreate(Mp3StreamInfoHandle* handle) {
    if (!handle) return MP3STATUS_E_PARAM;
    *handle = nullptr;
    auto* h = new (std::nothrow) Mp3StreamInfoHandleRecord{};
    if (!h) return MP3STATUS_E_NOMEM;
    IMp3StreamInfo* o = nullptr;
    if (Mp3StreamInfoCreateObject(&o) != MP3STATUS_OK) {
        delete h;
        return MP3STATUS_E_NOMEM;
    }
    std::memcpy(h->tag, "Mp3I", 4);
    h->object = o;
    *handle = h;
    return MP3STATUS_OK;
}

Mp3Status Mp3StreamInfoDestroy(Mp3StreamInfoHandle handle) {
    if (!handle || std::memcmp(handle->tag, "Mp3I", 4) != 0 || !handle->object) return MP3STATUS_E_HANDLE;
    handle->object->Release();
    delete handle;
    return MP3STATUS_OK;
}
