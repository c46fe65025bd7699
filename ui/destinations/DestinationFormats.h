#pragma once
// Which bit rates, sample rates and modes the Network / IP and multicast
// destination dialogs offer for a coding type, and what a change of one does
// to the others. The dialogs only show the lists these functions give. Pure
// functions; any thread.
#include <vector>

#include "common/Records.h"

enum class FormatDialog { Network, Multicast };

struct FormatLists {
    bool bitRatesEnabled = false;
    std::vector<int> bitRates;     // bit/s
    std::vector<int> sampleRates;  // Hz, in the dialog's order
    std::vector<int> modes;        // device modes, in the dialog's order
};

// Coding type of a compression combo index and back. A coding type the combo
// does not list (G.722 or G.711 from an old file or the remote control) has
// index -1: the dialog shows it as an extra item and keeps it.
int CodingTypeOfCompressionIndex(int index);
int CompressionIndexOfCodingType(int codingType);

// Fills the three lists for `format` and moves the bit rate, sample rate and
// mode to what the lists hold: a bit rate the list lacks becomes 128000, or
// -1 when that is missing too; a sample rate or mode the list lacks becomes -1.
// A coding type the dialog does not offer keeps its own values, each the one
// item of its list.
FormatLists UpdateFormatLists(AudioFormat& format, FormatDialog dialog);

// The bit rate stored on OK: MPEG keeps the chosen rate, the others derive it.
int BitRateOnOk(const AudioFormat& format);
