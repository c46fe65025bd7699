#pragma once
// The segmented peak meter of the pages, drawn from CLevelMeterModel. Only
// segments whose state changed are filled, into a backing picture that a
// paint copies to the screen; DrawTo() draws the same into any DC.
//
// Threads: GUI thread only.
#include <wx/bitmap.h>
#include <wx/control.h>

#include "platform/WinTypes.h"
#include "ui/LevelMeterModel.h"

class CLevelMeter : public wxControl {
public:
    struct ZoneColours {
        COLORREF lit, unlit;
    };
    static constexpr ZoneColours kZones[4] = {
        {0x44FF44, 0x004400}, {0x44FFFF, 0x004444}, {0x4444FF, 0x000044}, {0xAAAAFF, 0x224466}};

    // The pages' meter: 34 segments of 6 x 2 pixels every 3 pixels, bars 23
    // pixels apart, four bars (two on the multicast page).
    CLevelMeter(wxWindow* parent, int id, const wxPoint& pos, const wxSize& size, int bars,
                CLevelMeterModel::Clock clock);

    CLevelMeterModel& Model() { return m_model; }
    void SetColours(COLORREF background, COLORREF label);
    // Levels of every bar at once (one repaint).
    void SetLevels(const int* levels, int count);
    void SetActive(bool on);

    // Brings the picture up to date (only changed segments) and copies it.
    void DrawTo(wxDC& dc);
    // Segment fills done by the last update, for the tests.
    int LastFillCount() const { return m_lastFills; }

    wxSize DoGetBestSize() const override;
    bool AcceptsFocus() const override { return false; }

private:
    void DrawChanges(wxDC& dc);
    void DrawScale(wxDC& dc);

    CLevelMeterModel m_model;
    COLORREF m_background = 0;
    COLORREF m_label = 0x808080;
    wxBitmap m_picture;
    int m_lastFills = 0;
};
