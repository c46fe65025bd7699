#pragma once
// The segmented peak meter without any drawing: where each segment lies,
// its zone and threshold, which segments are lit, the peak hold and its
// fall, and which segments a paint must fill. The view (CLevelMeter) draws
// what this model says. All memory is taken in Create.
//
// Threads: GUI thread only. Time comes from the injected millisecond clock.
#include <cstdint>
#include <functional>
#include <vector>

struct LevelMeterSegment {
    int x = 0, y = 0, width = 0, height = 0;
    int threshold = 0;
    double dbBelow = 0.0;
    int zone = 1;          // 1 lowest .. 4 top
    bool lit = false;      // by the level or as the peak marker
    bool drawn = false;    // what the last paint showed
};

class CLevelMeterModel {
public:
    using Clock = std::function<uint32_t()>;
    static constexpr uint32_t kHoldMs = 500;
    static constexpr uint32_t kFallStepMs = 50;

    explicit CLevelMeterModel(Clock clock);

    // Setup, before Create.
    void SetSegmentGeometry(int width, int height, int xStep, int yStep);
    void SetZones(int z1, int z2, int z3, int z4);
    void SetBarLayout(int barStepX, int barStepY, int bars);
    void SetRange(int minimum, int maximum, double dbPerSegment);
    // Lays the bars out from (x, y); false without segments.
    bool Create(int x, int y);

    // Ignored for a bar out of range or before Create. True when the view
    // should repaint (active and redraw asked for).
    bool SetLevel(int bar, int level, bool redraw);
    // A change clears every level, peak and segment. True when it changed.
    bool SetActive(bool on);

    bool IsActive() const { return m_active; }
    bool IsCreated() const { return m_created; }
    int Bars() const { return m_bars; }
    int Segments() const { return m_segmentCount; }
    int Level(int bar) const { return m_barState[bar].level; }
    int Peak(int bar) const { return m_barState[bar].peak; }
    const LevelMeterSegment& Segment(int bar, int j) const { return m_segments[Index(bar, j)]; }

    // Painting: the state a segment shows now, whether it needs filling, and
    // the bookkeeping after a paint.
    bool ShownLit(int bar, int j) const { return m_active && Segment(bar, j).lit; }
    bool NeedsFill(int bar, int j) const;
    void MarkDrawn(int bar, int j);
    bool FullRedrawPending() const { return m_fullRedraw; }
    void RequestFullRedraw() { m_fullRedraw = true; }
    void EndPaint() { m_fullRedraw = false; }
    // Segments whose dB value x 10 is a multiple of 60 get a scale label.
    bool HasScaleLabel(int j) const;
    int BarStepX() const { return m_barStepX; }
    int BarStepY() const { return m_barStepY; }
    int XStep() const { return -m_xStepStored; }

private:
    struct BarState {
        int level = 0;
        int peak = 0;  // 0: no marker
        uint32_t holdStart = 0;
        uint32_t decayTime = 0;
    };
    size_t Index(int bar, int j) const { return static_cast<size_t>(bar) * m_segmentCount + j; }
    void Layout();
    void RunPeakHold(int bar);

    Clock m_clock;
    bool m_active = false;
    bool m_fullRedraw = true;
    bool m_created = false;
    int m_originX = 0, m_originY = 0;
    int m_segmentCount = 0, m_bars = 1;
    int m_segWidth = 0, m_segHeight = 0, m_xStepStored = 0, m_yStep = 0;
    double m_dbPerSegment = 1.0;
    int m_minimum = 0, m_maximum = 32767;
    int m_barStepX = 0, m_barStepY = 0;
    int m_zones[4] = {0, 0, 0, 0};
    std::vector<BarState> m_barState;
    std::vector<LevelMeterSegment> m_segments;
};
