#include "codecs/mp3dec/Mp3InputStream.h"

#include "codecs/mp3dec/Mp3Tables.h"

bool Mp3Header::Parse(uint32_t w) {
    *this = Mp3Header{};
    const uint32_t layerBits = (w >> 17) & 3;
    const uint32_t rateIndex = (w >> 12) & 15;
    const uint32_t srIndex = (w >> 10) & 3;
    const uint32_t b20 = (w >> 20) & 1;
    const uint32_t b19 = (w >> 19) & 1;
    if ((w >> 21) != 0x7FF || layerBits != 1 || rateIndex == 0 || rateIndex == 15 || srIndex == 3 ||
        (b20 == 0 && b19 == 1))
        return false;
    word = w;
    sync = 0x7FF;
    id25 = static_cast<int32_t>(b20);
    id = static_cast<int32_t>(b19);
    layer = 4 - static_cast<int32_t>(layerBits);
    protection = ((w >> 16) & 1) == 0 ? 1 : 0;
    bitRateIndex = static_cast<int32_t>(rateIndex);
    sampleRateIndex = static_cast<int32_t>(srIndex);
    padding = static_cast<int32_t>((w >> 9) & 1);
    privateBit = static_cast<int32_t>((w >> 8) & 1);
    mode = static_cast<int32_t>((w >> 6) & 3);
    modeExtension = static_cast<int32_t>((w >> 4) & 3);
    copyright = static_cast<int32_t>((w >> 3) & 1);
    original = static_cast<int32_t>((w >> 2) & 1);
    emphasis = static_cast<int32_t>(w & 3);
    version = b19 ? 0 : (b20 ? 1 : 2);
    channels = mode == 3 ? 1 : 2;
    sampleRate = mp3tables::kSampleRateHz[version][srIndex];
    bitRate = mp3tables::kBitRateKbps[version == 0 ? 0 : 1][rateIndex] * 1000;
    const int spf = SamplesPerFrame();
    frameLengthBits = 8 * ((bitRate / 8) * spf / sampleRate + padding);
    durationMs = 1000.0f / static_cast<float>(sampleRate) * static_cast<float>(spf);
    valid = 1;
    return true;
}

void CMp3InputStream::Reset() {
    m_ring.Clear();
    m_state = MP3STATUS_W_SEARCHED;
    m_locked = 0;
    m_verify = 0;
    m_skipped = 0;
}

Mp3Status CMp3InputStream::Synchronise() {
    if (m_state == MP3STATUS_W_EOF) return m_state;
    if (m_ring.Source() &&
        ((m_header.valid && m_ring.Fill() < m_header.frameLengthBits) || m_state == MP3STATUS_W_NEEDDATA ||
         m_state == MP3STATUS_W_SEARCHED || m_ring.Fill() == 0))
        m_ring.Refill();
    Mp3Status next;
    if (m_ring.Fill() < 32) {
        next = (m_state == MP3STATUS_OK || m_state == MP3STATUS_W_NEEDDATA) ? MP3STATUS_W_NEEDDATA
                                                                             : MP3STATUS_W_SEARCHED;
    } else if (m_state == MP3STATUS_W_SEARCHED || m_state == MP3STATUS_W_LOST) {
        next = Search();
    } else {
        next = Check();
    }
    if (m_ring.EndOfInput() && (next == MP3STATUS_W_SEARCHED || next == MP3STATUS_W_NEEDDATA))
        next = MP3STATUS_W_EOF;
    m_state = next;
    return next;
}

Mp3Status CMp3InputStream::Search() {
    for (;;) {
        m_ring.SetMark(0);
        if (m_ring.Fill() < 32) return MP3STATUS_W_SEARCHED;
        const uint32_t w = m_ring.Read32();
        if (m_header.Parse(w)) {
            if (m_ring.Fill() < m_header.frameLengthBits) {
                m_ring.Unread(m_ring.Mark());
                return MP3STATUS_W_SEARCHED;
            }
            m_ring.Skip(m_header.frameLengthBits - 32);
            const uint32_t next = m_ring.Read32();
            if ((next & kMp3HeaderMask) == (w & kMp3HeaderMask)) {
                m_locked = w & kMp3HeaderMask;
                m_verify = 10;
                m_ring.Unread(m_ring.Mark());
                return MP3STATUS_OK;
            }
        }
        ++m_skipped;
        m_ring.Unread(m_ring.Mark() - 1);
    }
}

Mp3Status CMp3InputStream::Check() {
    m_ring.SetMark(0);
    m_skipped = 0;
    const uint32_t w = m_ring.Read32();
    if ((w & kMp3HeaderMask) != m_locked || !m_header.Parse(w)) {
        m_ring.Unread(m_ring.Mark());
        return MP3STATUS_W_LOST;
    }
    if (m_ring.Fill() + 32 < m_header.frameLengthBits) {
        m_ring.Unread(m_ring.Mark());
        return MP3STATUS_W_NEEDDATA;
    }
    if (m_verify != 0 && m_ring.Fill() >= m_header.frameLengthBits) {
        m_ring.Skip(m_header.frameLengthBits - 32);
        const uint32_t next = m_ring.Read32();
        if ((next & kMp3HeaderMask) != m_locked) {
            m_ring.Unread(m_ring.Mark());
            return MP3STATUS_W_LOST;
        }
    }
    if (m_verify != 0) --m_verify;
    m_ring.Unread(m_ring.Mark());
    return MP3STATUS_OK;
}
