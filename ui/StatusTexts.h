#pragma once
// Short texts built from what the engine reports.
#include <string>

#include "common/Records.h"

class CTranslator;

// "MP-L2 S 48kHz 128kbps " and the like; empty for an unknown coding type.
std::string FormatAudioFormat(const AudioFormat& format);
// The text for a connection error of a destination kind (0 = none).
std::string FormatConnectionError(const CTranslator& translator, int kind, int code);
