#pragma once
// Lists the WAVE devices for the device dialog, and the texts shared by both
// WAVE device classes for a failed open.
#include <string>

#include "platform/WaveApi.h"

class CWaveDeviceInfo {
public:
    explicit CWaveDeviceInfo(int direction) : m_direction(direction) {}  // 0 output, 1 input

    int GetDeviceCount() const;
    // Product name into buffer (size bytes, NUL-terminated); 0 on failure.
    int GetDeviceName(int id, char* buffer, int size) const;
    // 1 when the device lists 44.1 kHz stereo 16-bit and opens 48000 or 44100 Hz stereo.
    int SupportsFormat(int id) const;

private:
    int m_direction;
};

class CTranslator;

// "Output device error: <reason>" / "Input device error: <reason>" in the
// loaded language; empty for 0.
std::string WaveOpenErrorText(bool output, MMRESULT result, const CTranslator& translator);

// Peak level word of a block, as kept in the upper bits of a header's dwUser.
constexpr DWORD_PTR PackLevels(int left, int right) {
    return (static_cast<DWORD_PTR>(left & ~1) << 16) | (static_cast<DWORD_PTR>(right & 0xFFFE) << 1);
}
constexpr int UnpackLeft(DWORD_PTR word) { return static_cast<int>((word >> 16) & 0xFFFE); }
constexpr int UnpackRight(DWORD_PTR word) { return static_cast<int>((word >> 1) & 0xFFFE); }
