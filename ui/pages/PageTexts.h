#pragma once
// The texts of a phonebook page's selection and connection panels, built
// from an entry or a running connection. Pure functions over the
// translator's section 2 (labels) and 16 (messages); GUI thread.
#include <string>

#include "common/Records.h"

class CTranslator;

struct SelectionTexts {
    std::string name;
    int icon = -1;  // 0 both ways, 1 transmit only, 2 receive only, -1 none
    std::string first;
    std::string second;
    std::string format;
    std::string autoReconnect;
    std::string direction;  // multicast: "Transmit" / "Receive"
    std::string activity;   // multicast: "Transmitting" / "Receiving"
};

struct ConnectionLines {
    std::string first;
    std::string second;
};

SelectionTexts SelectionTextsOf(const CTranslator& translator, int kind, const PhonebookEntry& entry);
// The two lines of the connection panel; without `info` only their prefixes,
// with the transport not available its text.
ConnectionLines ConnectionLinesOf(const CTranslator& translator, int kind, bool available, const ConnectionInfo* info);
// "Name: Studio A", or empty for an empty name.
std::string RemoteNameLine(const CTranslator& translator, const char* name);
