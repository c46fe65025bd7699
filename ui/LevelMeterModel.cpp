#include "ui/LevelMeterModel.h"

#include <cmath>

CLevelMeterModel::CLevelMeterModel(Clock clock) : m_clock(std::move(clock)) {}

void CLevelMeterModel::SetSegmentGeometry(int width, int height, int xStep, int yStep) {
    m_segWidth = width;
    m_segHeight = height;
    m_xStepStored = -xStep;
    m_yStep = yStep;
}

void CLevelMeterModel::SetZones(int z1, int z2, int z3, int z4) {
    m_zones[0] = z1;
    m_zones[1] = z2;
    m_zones[2] = z3;
    m_zones[3] = z4;
    m_segmentCount = z1 + z2 + z3 + z4;
}

void CLevelMeterModel::SetBarLayout(int barStepX, int barStepY, int bars) {
    m_barStepX = barStepX;
    m_barStepY = barStepY;
    m_bars = bars;
}

void CLevelMeterModel::SetRange(int minimum, int maximum, double dbPerSegment) {
    m_minimum = minimum;
    m_maximum = maximum;
    m_dbPerSegment = dbPerSegment;
    if (m_created) Layout();
}

bool CLevelMeterModel::Create(int x, int y) {
    if (m_segmentCount <= 0 || m_bars <= 0) return false;
    m_originX = x - m_segmentCount * m_xStepStored;
    m_originY = y;
    m_barState.assign(static_cast<size_t>(m_bars), BarState());
    m_segments.assign(static_cast<size_t>(m_bars) * m_segmentCount, LevelMeterSegment());
    m_created = true;
    Layout();
    return true;
}

void CLevelMeterModel::Layout() {
    int barX = m_originX, barY = m_originY;
    for (int b = 0; b < m_bars; ++b) {
        int x = barX, y = barY;
        for (int j = m_segmentCount - 1; j >= 0; --j) {
            x += m_xStepStored;
            y += m_yStep;
            LevelMeterSegment& s = m_segments[Index(b, j)];
            s.x = x;
            s.y = y;
            s.width = m_segWidth;
            s.height = m_segHeight;
            s.dbBelow = (m_segmentCount - 1 - j) * m_dbPerSegment;
            s.threshold = static_cast<int>(m_maximum / std::pow(10.0, s.dbBelow / 20.0));
            s.zone = j < m_zones[0] ? 1 : j < m_zones[0] + m_zones[1] ? 2 : j < m_zones[0] + m_zones[1] + m_zones[2] ? 3 : 4;
        }
        barX += m_barStepX;
        barY += m_barStepY;
        if (b % 2 == 1) {  // bars come in pairs
            barX += m_segWidth - 1;
            barY += m_segHeight - 1;
        }
        m_barState[b] = BarState();
    }
    m_fullRedraw = true;
}

bool CLevelMeterModel::SetLevel(int bar, int level, bool redraw) {
    if (!m_created || bar < 0 || bar >= m_bars) return false;
    m_barState[bar].level = level;
    for (int j = 0; j < m_segmentCount; ++j) {
        LevelMeterSegment& s = m_segments[Index(bar, j)];
        s.lit = s.threshold < level;
    }
    RunPeakHold(bar);
    return m_active && redraw;
}

void CLevelMeterModel::RunPeakHold(int bar) {
    BarState& st = m_barState[bar];
    const uint32_t now = m_clock();
    int i = 0;
    while (i < m_segmentCount && m_segments[Index(bar, i)].threshold < st.level) ++i;
    int candidate;
    if (i >= st.peak) {
        candidate = i;
        st.holdStart = now;
        st.decayTime = 0;
    } else {
        candidate = st.peak;
    }
    if (st.holdStart && now - st.holdStart > kHoldMs) {
        st.holdStart = 0;
        st.decayTime = now;
    }
    if (st.decayTime && now - st.decayTime > kFallStepMs) {
        st.decayTime = now;
        --candidate;
    }
    // Segment 0 as a marker would light the meter for silence: a peak that
    // reaches the bottom is gone.
    if (candidate >= 0 && candidate < m_segmentCount) {
        st.peak = candidate;
        if (candidate > 0) m_segments[Index(bar, candidate)].lit = true;
    }
}

bool CLevelMeterModel::SetActive(bool on) {
    if (on == m_active) return false;
    for (BarState& st : m_barState) st = BarState();
    for (LevelMeterSegment& s : m_segments) s.lit = false;
    m_active = on;
    return true;
}

bool CLevelMeterModel::NeedsFill(int bar, int j) const {
    return m_fullRedraw || Segment(bar, j).drawn != ShownLit(bar, j);
}

void CLevelMeterModel::MarkDrawn(int bar, int j) { m_segments[Index(bar, j)].drawn = ShownLit(bar, j); }

bool CLevelMeterModel::HasScaleLabel(int j) const {
    const int tenths = static_cast<int>((m_segmentCount - 1 - j) * m_dbPerSegment * 10.0);
    return tenths % 60 == 0;
}
