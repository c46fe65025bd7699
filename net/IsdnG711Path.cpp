#include "net/IsdnG711Path.h"

#include <algorithm>
#include <cstring>

#include "common/Codes.h"

int CIsdnG711Path::Init(int blockLength, int blocks) {
    if (blockLength <= 0 || blocks <= 0) return 0;
    m_blockLength = blockLength;
    m_buffer.assign(static_cast<size_t>(blockLength) * static_cast<size_t>(blocks), 0);
    m_fill = 0;
    return 1;
}

void CIsdnG711Path::SetLaw(int law) {
    m_law = law == CODING_G711_ULAW ? CODING_G711_ULAW : CODING_G711_ALAW;
    m_formatChanged = 1;
}

void CIsdnG711Path::GetFormat(AudioFormat* format) {
    AudioFormat f;
    f.codingType = m_law;
    f.bitRate = 64000;
    f.sampleRate = 8000;
    f.deviceMode = DEVICEMODE_MONO;
    f.frameBytes = m_blockLength;
    *format = f;
    m_formatChanged = 0;
}

int CIsdnG711Path::Write(const uint8_t* bytes, int n) {
    if (n < 0 || static_cast<size_t>(m_fill + n) > m_buffer.size()) return 0;
    std::memcpy(m_buffer.data() + m_fill, bytes, static_cast<size_t>(n));
    m_fill += n;
    return 1;
}

int CIsdnG711Path::Read(uint8_t* dst, int n) {
    const int take = std::max(0, std::min(n, m_fill));
    if (take == 0) return 0;
    std::memcpy(dst, m_buffer.data(), static_cast<size_t>(take));
    std::memmove(m_buffer.data(), m_buffer.data() + take, static_cast<size_t>(m_fill - take));
    m_fill -= take;
    return take;
}
