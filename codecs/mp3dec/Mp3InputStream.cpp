#include "codecs/mp3dec/Mp3InputStream.h"

#include "common/MpegHeader.h"

int Mp3SamplesPerFrame(int version) { return MpegFrameSamples(version == 0 ? 1 : version == 1 ? 2 : 25, 3); }

bool Mp3Header::Parse(uint32_t w) {
    *this = Mp3Header{};
    MpegHeader h;
    // Layer III only, and no free format: a frame must say its own length.
    if (!ParseMpegHeaderWord(w, &h) || h.layer != 3 || h.bitRate == 0) return false;
    word = w;
    sync = 0x7FF;
    id25 = static_cast<int32_t>((w >> 20) & 1);
    id = static_cast<int32_t>((w >> 19) & 1);
    layer = h.layer;
    protection = h.crc;
    bitRateIndex = h.bitRateIndex;
    sampleRateIndex = h.samplingIndex;
    padding = h.padding;
    privateBit = h.privateBit;
    mode = h.mode;
    modeExtension = h.modeExtension;
    copyright = h.copyright;
    original = h.original;
    emphasis = h.emphasis;
    version = h.version == 1 ? 0 : (h.version == 2 ? 1 : 2);
    channels = h.channels;
    sampleRate = h.sampleRate;
    bitRate = h.bitRate;
    frameLengthBits = 8 * h.frameBytes;
    durationMs = 1000.0f / static_cast<float>(sampleRate) * static_cast<float>(h.samplesPerChannel);
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
