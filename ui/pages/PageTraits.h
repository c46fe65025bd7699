#pragma once
// How the three phonebook pages differ, as data: one row per destination
// kind (ISDN 32, Network / IP 16, multicast 128). Control ids are the pages'
// own; colours are COLORREF (0x00BBGGRR).
#include "platform/WinTypes.h"
#include "ui/DialogColours.h"

struct PageTraits {
    int kind;
    const char* caption;
    // Connect/Stop caption when idle and when connected (main section lines).
    int idleLine;
    const char* idleText;
    int busyLine;
    const char* busyText;
    // Not-available text, section 16.
    int notAvailableLine;
    const char* notAvailableText;
    int meterBars;
    bool oneIndicator;  // multicast shows one direction only
    // Control ids.
    int list, search, add, copy, edit, remove, connect;
    int inputSlider, outputSlider, selectInput, selectOutput, inputName, outputName, meter;
    int receiveIndicator, transmitIndicator;
    // Palette.
    COLORREF heading, value, panel, hover, buttonText, gradientBase;
    COLORREF dialogControlText, dialogQuestionText, dialogEdit, dialogBackground;
};

// The row of a kind; the Network / IP row for an unknown kind.
const PageTraits& PageTraitsOf(int kind);

// The four colours a page gives every dialog it opens.
DialogColours DialogColoursOf(const PageTraits& traits);
