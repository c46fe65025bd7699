#pragma once
// Short texts built from what the engine and the connections report: bit
// rates, audio formats and the texts of ISDN causes, network, proxy and
// connection errors. Stateless; any thread that may read the translator.
#include <string>

#include "common/Records.h"

class CTranslator;

// The longest text a builder makes: an ISDN cause number with the longest cause.
constexpr size_t kMaxStatusTextLength = 71;

// "128kbps", "10000bps", "4Mbps".
std::string FormatBitRate(int bitRate);
// "MP-L2 S 48kHz 128kbps " and the like; empty for an unknown coding type.
std::string FormatAudioFormat(const AudioFormat& format);
// "349f Remote party disconnected"; only "3490 " for a code without a text.
std::string FormatIsdnCause(const CTranslator& translator, int code);
// Bit 31 set: a failure towards the proxy, its text alone (empty when unknown).
// Else "10061 Connection refused", or only "00123 " when unknown.
std::string FormatNetworkError(const CTranslator& translator, int code);
// The text for a connection error of a destination kind (0 = none).
std::string FormatConnectionError(const CTranslator& translator, int kind, int code);
