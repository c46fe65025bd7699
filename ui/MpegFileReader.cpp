#include "ui/MpegFileReader.h"

#include <algorithm>
#include <cstring>

#include "common/Codes.h"
#include "common/MpegHeader.h"

CMpegFileReader::CMpegFileReader() { m_format.aptxOption = 1; }

int CMpegFileReader::TestHeader(const uint8_t* bytes, AudioFormat* out) {
    MpegHeader h;
    // The four sync bits after 0xFF: MPEG-1 and MPEG-2, not MPEG-2.5.
    if (bytes[0] != 0xFF || (bytes[1] & 0xF0) != 0xF0 || !ParseMpegHeader(bytes, &h)) return 0;
    if (h.layer != 2 && h.layer != 3) return 0;
    // Free format gives no block size to step or measure by.
    if (h.bitRate <= 0) return 0;
    static constexpr int kModes[4] = {DEVICEMODE_STEREO, DEVICEMODE_JOINT_STEREO, DEVICEMODE_DUAL_MONO,
                                      DEVICEMODE_MONO};
    AudioFormat f;
    f.codingType = h.layer == 2 ? CODING_MPEG_L2 : CODING_MPEG_L3;
    f.bitRate = h.bitRate;
    f.sampleRate = h.sampleRate;
    f.deviceMode = kModes[h.mode & 3];
    f.frameBytes = MpegBytesPer1152Samples(h.bitRate, h.sampleRate);
    if (f.frameBytes <= 0) return 0;
    if (out) *out = f;
    return 1;
}

int CMpegFileReader::FindSync(int start) {
    if (m_file.Seek(start, 0) != start) return -1;
    uint8_t window[4 + kSyncBlockBytes] = {};
    for (int block = 0; block < kSyncBlocks; ++block) {
        std::memcpy(window, window + kSyncBlockBytes, 4);
        if (m_file.Read(window + 4, kSyncBlockBytes) != kSyncBlockBytes) return -1;
        for (int i = 0; i < kSyncBlockBytes; ++i) {
            const int at = start + block * kSyncBlockBytes - 4 + i;
            if (at + 4 > m_fileSize) return -1;
            if (window[i] == 0xFF && TestHeader(window + i, &m_format)) return at;
        }
    }
    return -1;
}

int CMpegFileReader::SkipInfoFrame(int position) {
    // An encoder's info frame ("Xing", "Info" or "VBRI" after the side
    // information) is a valid header over no audio: players skip it, and so do we.
    uint8_t frame[64];
    MpegHeader h;
    if (m_file.Seek(position, 0) != position || m_file.Read(frame, sizeof frame) != sizeof frame ||
        !ParseMpegHeader(frame, &h) || h.layer != 3 || h.frameBytes <= 0) {
        return position;
    }
    const int side = h.version == 1 ? (h.channels == 1 ? 17 : 32) : (h.channels == 1 ? 9 : 17);
    const uint8_t* tag = frame + 4 + (h.crc ? 2 : 0) + side;
    const bool info = std::memcmp(tag, "Xing", 4) == 0 || std::memcmp(tag, "Info", 4) == 0 ||
                      std::memcmp(frame + 36, "VBRI", 4) == 0;
    return info ? position + h.frameBytes : position;
}

int CMpegFileReader::Open(const char* name, int mode) {
    if (mode != FILEMODE_READ) {
        Close();
        m_errorText.clear();
        return 0;
    }
    return OpenAt(name, 0, -1);
}

int CMpegFileReader::OpenRange(const char* name, int64_t position, int64_t size) {
    return OpenAt(name, position, size);
}

int CMpegFileReader::OpenAt(const char* name, int64_t start, int64_t size) {
    Close();
    m_errorText.clear();
    if (name == nullptr || start < 0 || start >= INT32_MAX) return 0;
    if (!m_file.Open(name, FILEMODE_READ)) return 0;
    const int64_t fileSize = m_file.GetSize();
    const int64_t end = size < 0 ? fileSize : std::min(fileSize, start + size);
    m_fileSize = static_cast<int>(std::min<int64_t>(end, INT32_MAX));
    const int position = FindSync(static_cast<int>(start));
    if (position < 0) {
        Close();
        return 0;
    }
    m_dataPosition = SkipInfoFrame(position);
    const int opened = m_format.codingType == CODING_MPEG_L2 ? m_layer2.OpenDecoder() : m_layer3.OpenFileDecoder();
    if (!opened || m_file.Seek(m_dataPosition, 0) != m_dataPosition) {
        Close();
        m_errorText = "The MPEG decoder could not be opened.";
        return 0;
    }
    if (!m_input) m_input = std::make_unique<uint8_t[]>(kInputBytes);
    m_atEnd = 0;
    return 1;
}

void CMpegFileReader::Close() {
    m_layer2.CloseDecoder();
    m_layer3.CloseDecoder();
    m_file.Close();
    m_fileSize = m_fill = m_inputDone = m_stalls = m_locked = 0;
    m_frameOffset = m_frameBytes = 0;
    m_dataPosition = 0;
    m_format = AudioFormat{};
    m_format.aptxOption = 1;
    m_atEnd = 1;
}

int CMpegFileReader::Read(void* buffer, int bytes) {
    if (buffer == nullptr || bytes <= 0 || !m_file.IsOpen()) return 0;
    if (m_fill < kInputBytes && !m_inputDone) {
        // Nothing past the end of the data: a WAV file's later chunks are no audio.
        const long at = m_file.Seek(0, 1);
        const int want = at < 0 ? 0 : static_cast<int>(std::min<int64_t>(kInputBytes - m_fill, m_fileSize - at));
        const int got = want > 0 ? static_cast<int>(m_file.Read(m_input.get() + m_fill, static_cast<DWORD>(want))) : 0;
        if (got <= 0) m_inputDone = 1;
        m_fill += std::max(got, 0);
    }
    auto* dst = static_cast<uint8_t*>(buffer);
    if (m_format.codingType == CODING_MPEG_L2) return ReadLayer2(dst, bytes);
    if (m_inputDone && m_fill == 0) m_layer3.SetEndOfInput();
    int consumed = 0;
    const int produced = m_layer3.Decode(m_input.get(), m_fill, &consumed, reinterpret_cast<int16_t*>(dst), bytes);
    // A decoder that neither takes nor gives while its input is full is stuck on the data: that ends the file.
    m_stalls = consumed > 0 || produced > 0 ? 0 : m_stalls + 1;
    if (m_stalls > kMaxStalls) {
        m_atEnd = 1;
        return 0;
    }
    if (consumed > 0) {
        m_fill -= consumed;
        std::memmove(m_input.get(), m_input.get() + consumed, static_cast<size_t>(m_fill));
    } else if (produced == 0 && m_inputDone && m_fill < m_format.frameBytes) {
        // Everything fed was decoded (the end of input lets the last frame out).
        if (m_fill == 0) m_layer3.SetEndOfInput();
        const int last = m_layer3.Decode(m_input.get(), 0, &consumed, reinterpret_cast<int16_t*>(dst), bytes);
        if (last > 0) return last;
        m_atEnd = 1;
    }
    return produced;
}

int CMpegFileReader::ReadLayer2(uint8_t* dst, int bytes) {
    if (m_frameBytes == 0) {
        // A frame with its padding slot is one byte longer than the block:
        // offer that byte too; the codec leaves it here when it belongs to the next frame.
        const int offer = std::min(m_fill, m_format.frameBytes + 1);
        int consumed = 0;
        const int produced =
            m_fill >= m_format.frameBytes
                ? m_layer2.Decode(m_input.get(), offer, &consumed, m_frame, static_cast<int>(sizeof m_frame))
                : 0;
        if (consumed > 0 && produced == 0 && !m_locked) {
            // The codec's first call only locks onto the header: offer the same frame again.
            m_locked = 1;
        } else if (consumed > 0) {
            m_fill -= consumed;
            std::memmove(m_input.get(), m_input.get() + consumed, static_cast<size_t>(m_fill));
        } else if (produced == 0 && m_fill < m_format.frameBytes && m_inputDone) {
            m_atEnd = 1;
            return 0;
        }
        m_frameOffset = 0;
        m_frameBytes = produced;
        if (produced == 0) return 0;
    }
    const int n = std::min(bytes, m_frameBytes);
    std::memcpy(dst, reinterpret_cast<const uint8_t*>(m_frame) + m_frameOffset, static_cast<size_t>(n));
    m_frameOffset += n;
    m_frameBytes -= n;
    return n;
}

int CMpegFileReader::GetLength() const {
    if (m_format.frameBytes <= 0) return 0;
    const int64_t frames = (m_fileSize - m_dataPosition) / m_format.frameBytes;
    const int64_t bytes = frames * 2304 * (m_format.deviceMode == DEVICEMODE_MONO ? 1 : 2);
    return static_cast<int>(std::min<int64_t>(bytes, INT32_MAX));
}
