#include "net/IsdnG722Path.h"

#include <algorithm>
#include <cstring>

#include "common/Codes.h"

namespace {
// How much a byte looks like a G.722 code byte: bit 4 set (what a G.722
// encoder sets most often), a higher-band code other than 0 and a
// lower-band code of 8 or more (both hardly ever otherwise). Bit 4 alone
// misleads on steady tones: a low tone near full scale sets the higher
// band's sign bit more often, and at some shift a 1 kHz tone's bits line up
// so that another bit leads.
int CodeLikeness(uint8_t b) { return ((b >> 4) & 1) + ((b & 0xC0) != 0 ? 1 : 0) + ((b & 0x38) != 0 ? 1 : 0); }
constexpr int kMinLead = 3;      // the winning shift leads every other one by this much
constexpr int kNeighbours = 5;   // refused while unlocked: two equal bytes among these
constexpr int kMinAlign = 20;    // bytes realigned at a time
}  // namespace

int CIsdnG722Path::Init(int blockLength, int capacity) {
    if (blockLength <= 0 || capacity < blockLength) return 0;
    m_blockLength = blockLength;
    m_in.assign(static_cast<size_t>(capacity), 0);
    m_out.assign(static_cast<size_t>(capacity), 0);
    Clear();
    return 1;
}

void CIsdnG722Path::Clear() {
    m_inFill = 0;
    m_outFill = 0;
    m_shift = 0;
    m_previous = 0;
    m_locked = 0;
    m_formatChanged = 0;
    m_matches = 0;
    m_mismatches = 0;
    m_idleRun = 0;
    m_idleBytes = 0;
}

int CIsdnG722Path::Write(const uint8_t* bytes, int n) {
    if (!bytes || n < 0 || static_cast<size_t>(m_inFill + n) > m_in.size()) return 0;
    std::memcpy(m_in.data() + m_inFill, bytes, static_cast<size_t>(n));
    m_inFill += n;
    return 1;
}

int CIsdnG722Path::Detect() {
    const int n = m_inFill;
    const uint8_t* in = m_in.data();
    if (!m_locked) {
        for (int k = 0; k + 1 < std::min(n, kNeighbours); ++k) {
            if (in[k] == in[k + 1]) return 0;
        }
    }
    // Input of nothing but idle fill tells no shift: the lock holds while
    // the fill does not outlast the mismatch bound.
    if (m_locked && std::all_of(in, in + n, [](uint8_t b) { return b == 0xFF; })) {
        m_idleBytes += n;
        if (m_idleBytes <= kUnlockBytes) return m_locked;
        m_idleBytes = 0;
        m_matches = 0;
        m_locked = 0;
        m_formatChanged = 1;
        return 0;
    }
    m_idleBytes = 0;
    // Each shift's score: how much the bytes it gives look like code bytes.
    int score[8] = {};
    for (int k = 0; k < n; ++k) {
        const int word = ((k > 0 ? in[k - 1] : m_previous) << 8) | in[k];
        for (int s = 0; s < 8; ++s) score[s] += CodeLikeness(static_cast<uint8_t>(word >> (8 - s)));
    }
    int s = 0;
    for (int q = 1; q < 8; ++q) {
        if (score[q] > score[s]) s = q;
    }
    if (!m_locked) {
        for (int q = 0; q < 8; ++q) {
            if (q != s && score[q] + kMinLead > score[s]) return 0;
        }
    }
    if (s == m_shift) {
        m_mismatches = 0;
        if (m_matches < kLockBytes) m_matches += n;
        if (m_matches >= kLockBytes && !m_locked) {
            m_locked = 1;
            m_formatChanged = 1;
        }
        return m_locked;
    }
    m_mismatches += n;
    if (m_mismatches > kUnlockBytes) {
        m_matches = 0;
        if (m_locked) {
            m_locked = 0;
            m_formatChanged = 1;
        }
    }
    if (m_matches < kLockBytes) {
        m_shift = s;
        m_matches = 0;
    }
    return m_locked;
}

void CIsdnG722Path::Align() {
    const int held = std::min(m_idleRun, kMinIdleRun);
    if (m_inFill < kMinAlign || static_cast<int>(m_out.size()) - m_outFill < m_inFill + held) return;
    for (int k = 0; k < m_inFill; ++k) {
        const int word = (m_previous << 8) | m_in[k];
        const uint8_t b = m_shift == 0 ? m_in[k] : static_cast<uint8_t>(word >> (8 - m_shift));
        m_previous = m_in[k];
        if (b == 0xFF) {
            ++m_idleRun;
            continue;
        }
        // A short run of 0xFF was code; a long one was the line's idle fill
        // where the sender had nothing, and the stream goes on after it.
        if (m_idleRun < kMinIdleRun) {
            std::memset(m_out.data() + m_outFill, 0xFF, static_cast<size_t>(m_idleRun));
            m_outFill += m_idleRun;
        }
        m_idleRun = 0;
        m_out[static_cast<size_t>(m_outFill++)] = b;
    }
    m_inFill = 0;
}

void CIsdnG722Path::Process() {
    // A lone byte waits for the next ones rather than being lost.
    if (m_inFill < 2) return;
    if (Detect()) {
        Align();
    } else {
        m_inFill = 0;
        m_idleRun = 0;
    }
}

void CIsdnG722Path::GetFormat(AudioFormat* format) {
    AudioFormat f;
    f.aptxOption = 0;
    if (m_locked) {
        f.codingType = CODING_G722;
        f.bitRate = 64000;
        f.sampleRate = 16000;
        f.deviceMode = DEVICEMODE_MONO;
        f.frameBytes = m_blockLength;
        f.aptxOption = 1;
    }
    if (format) *format = f;
    m_formatChanged = 0;
}

int CIsdnG722Path::Read(uint8_t* dst, int n) {
    const int take = std::max(0, std::min(n, m_outFill));
    if (take == 0 || !dst) return 0;
    std::memcpy(dst, m_out.data(), static_cast<size_t>(take));
    std::memmove(m_out.data(), m_out.data() + take, static_cast<size_t>(m_outFill - take));
    m_outFill -= take;
    return take;
}
