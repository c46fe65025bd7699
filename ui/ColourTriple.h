#pragma once
// A COLORREF (0x00BBGGRR) as the toolkit's colour, and the darker shades the
// custom controls draw their edges with. GUI thread.
#include <wx/colour.h>

#include "platform/WinTypes.h"

class CColourTriple {
public:
    CColourTriple() = default;
    explicit CColourTriple(COLORREF c) : m_blue((c >> 16) & 0xFF), m_green((c >> 8) & 0xFF), m_red(c & 0xFF) {}

    COLORREF Ref() const {
        return static_cast<COLORREF>(m_red | (m_green << 8) | (m_blue << 16));
    }
    // Each channel minus n, kept within 0..255.
    CColourTriple Darker(int n) const {
        CColourTriple d = *this;
        d.m_blue = Clamp(m_blue - n);
        d.m_green = Clamp(m_green - n);
        d.m_red = Clamp(m_red - n);
        return d;
    }
    wxColour Wx() const {
        return wxColour(static_cast<unsigned char>(m_red), static_cast<unsigned char>(m_green),
                        static_cast<unsigned char>(m_blue));
    }

private:
    static int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }
    int m_blue = 0, m_green = 0, m_red = 0;
};

inline wxColour WxColour(COLORREF c) { return CColourTriple(c).Wx(); }
