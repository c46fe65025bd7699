#include "ui/StatusTexts.h"

#include <cstdio>

#include "codecs/CodingTable.h"
#include "common/MainWindowMessages.h"
#include "common/Translator.h"

namespace {

constexpr int kMessages = CTranslator::kErrorSection << 16;

struct CodeText {
    int code;
    int line;
    const char* text;
};

constexpr char kUnknownNetworkError[] = "Unknown network error";

constexpr CodeText kIsdnCauses[] = {
    {0x3301, 20, "Cable not connected?"},
    {0x3302, 21, "Protocol error layer 2"},
    {0x3303, 22, "Protocol error layer 3"},
    {0x3304, 23, "Another application got that call"},
    {0x3481, 24, "Unallocated (unassigned) number"},
    {0x3482, 25, "No route to specified transit network"},
    {0x3483, 26, "No route to destination"},
    {0x3486, 27, "Channel unacceptable"},
    {0x3491, 28, "User busy"},
    {0x3492, 29, "No user responding"},
    {0x3493, 29, "No user responding"},
    {0x3495, 30, "Call rejected"},
    {0x3496, 31, "Number changed"},
    {0x349A, 32, "Non-selected user clearing"},
    {0x349B, 33, "Destination out of order"},
    {0x349C, 34, "Invalid number format"},
    {0x349D, 35, "Facility rejected"},
    {0x349F, 118, "Remote party disconnected"},
    {0x34A2, 36, "No circuit / channel available"},
    {0x34A6, 37, "Network out of order"},
    {0x34A9, 38, "Temporary failure"},
    {0x34AA, 39, "Switching equipment congestion"},
    {0x34AB, 40, "Access information discarded"},
    {0x34AC, 41, "Requested circuit / channel not available"},
    {0x34AF, 42, "Resources unavailable, unspecified"},
    {0x34B1, 43, "Quality of service unavailable"},
    {0x34B2, 44, "Requested facility not subscribed"},
    {0x34B9, 45, "Bearer capability not authorized"},
    {0x34BA, 46, "Bearer capability not presently available"},
    {0x34BF, 47, "Service or option not available, unspecified"},
    {0x34C1, 48, "Bearer capability not implemented"},
    {0x34C2, 49, "Channel type not implemented"},
    {0x34C5, 50, "Requested facility not implemented"},
    {0x34C6, 51, "Only restricted digital information bearer capability is available"},
    {0x34CF, 52, "Service or option not implemented, unspecified"},
    {0x34D1, 53, "Invalid call reference value"},
    {0x34D2, 54, "Identified channel does not exist"},
    {0x34D8, 55, "Incompatible destination"},
    {0x34DB, 56, "Invalid transit network selection"},
    {0x34DF, 57, "Invalid message, unspecified"},
    {0x3487, 58, kUnknownNetworkError},
    {0x349E, 58, kUnknownNetworkError},
    {0x34D3, 58, kUnknownNetworkError},
    {0x34D4, 58, kUnknownNetworkError},
    {0x34D5, 58, kUnknownNetworkError},
    {0x34D6, 58, kUnknownNetworkError},
    {0x34E0, 58, kUnknownNetworkError},
    {0x34E1, 58, kUnknownNetworkError},
    {0x34E2, 58, kUnknownNetworkError},
    {0x34E3, 58, kUnknownNetworkError},
    {0x34E4, 58, kUnknownNetworkError},
    {0x34E5, 58, kUnknownNetworkError},
    {0x34E6, 58, kUnknownNetworkError},
    {0x34EF, 58, kUnknownNetworkError},
    {0x34FF, 58, kUnknownNetworkError},
};

constexpr CodeText kProxyErrors[] = {
    {8, 78, "Not enough memory"},
    {10050, 72, "No firewall - The network is down"},
    {10051, 73, "Unable to reach the network to the firewall"},
    {10065, 73, "Unable to reach the network to the firewall"},
    {10053, 74, "Firewall connection closed due to protocol error or timeout"},
    {10060, 75, "Connection to firewall timed out"},
    {10061, 76, "Connection to firewall refused"},
    {10091, 77, "The network to the firewall is unavailable."},
    {0x40001, 59, "The firewall rejected the connection"},
    {0x50006, 59, "The firewall rejected the connection"},
    {0x40002, 60, "The firewall could not find the remote"},
    {0x40003, 61, "The firewall rejected the computername"},
    {0x50001, 62, "The firewall reported a general failure"},
    {0x50002, 63, "The firewall disallowed the connection"},
    {0x50003, 64, "The firewall could not find a network"},
    {0x50004, 65, "The firewall could not find the remote"},
    {0x50005, 66, "The firewall could not connect to remote"},
    {0x50007, 67, "The firewall does not support the command"},
    {0x50008, 68, "The firewall does not support the addresstype"},
    {0x50009, 69, "The firewall returned an unknown error"},
    {0x51001, 70, "The firewall rejected the login details"},
    {0x51002, 71, "Firewall authorisation is incompatible"},
};

constexpr CodeText kRemoteErrors[] = {
    {8, 78, "Not enough memory"},
    {10048, 79, "The IP or Port number is already in use"},
    {10049, 80, "The IP or Port number is not available"},
    {10050, 81, "The network is down"},
    {10051, 82, "Unable to reach the network to the remote"},
    {10065, 82, "Unable to reach the network to the remote"},
    {10053, 83, "Connection closed due to protocol error or timeout"},
    {10054, 84, "Connection closed by the other party"},
    {10060, 85, "Connection timed out"},
    {10061, 86, "Connection refused"},
    {10091, 87, "The network is unavailable."},
    {11001, 87, "The network is unavailable."},
    {11004, 87, "The network is unavailable."},
};

template <size_t N>
const char* Lookup(const CTranslator& translator, const CodeText (&table)[N], int code) {
    for (const CodeText& entry : table) {
        if (entry.code == code) return translator.GetText(kMessages | entry.line, entry.text);
    }
    return nullptr;
}

}  // namespace

std::string FormatBitRate(int bitRate) {
    char text[32];
    if (bitRate > 4000000) {
        std::snprintf(text, sizeof text, "%dMbps", bitRate / 1000000);
    } else if (bitRate < 10001) {
        std::snprintf(text, sizeof text, "%dbps", bitRate);
    } else {
        std::snprintf(text, sizeof text, "%dkbps", bitRate / 1000);
    }
    return text;
}

std::string FormatAudioFormat(const AudioFormat& format) {
    const CodingDescriptor* row = FindCoding(format.codingType);
    if (!row) return std::string();
    std::string text = row->statusText;
    switch (format.deviceMode) {
        case DEVICEMODE_MONO: text += "M "; break;
        case DEVICEMODE_STEREO: text += "S "; break;
        case DEVICEMODE_JOINT_STEREO: text += "JS "; break;
        case DEVICEMODE_DUAL_MONO: text += "DM "; break;
        default: break;
    }
    char part[32];
    std::snprintf(part, sizeof part, "%dkHz ", static_cast<int>((static_cast<int64_t>(format.sampleRate) + 500) / 1000));
    text += part;
    if (format.codingType != 1) {
        std::snprintf(part, sizeof part, "%dkbps ", static_cast<int>((static_cast<int64_t>(format.bitRate) + 500) / 1000));
        text += part;
    }
    return text;
}

std::string FormatIsdnCause(const CTranslator& translator, int code) {
    char number[16];
    std::snprintf(number, sizeof number, "%04x ", static_cast<unsigned>(code) & 0xFFFFu);
    std::string text = number;
    if (const char* cause = Lookup(translator, kIsdnCauses, code)) text += cause;
    return text;
}

std::string FormatNetworkError(const CTranslator& translator, int code) {
    const uint32_t value = static_cast<uint32_t>(code);
    if (value & 0x80000000u) {
        const char* text = Lookup(translator, kProxyErrors, static_cast<int>(value & 0x7FFFFFFFu));
        return text ? text : std::string();
    }
    char number[16];
    std::snprintf(number, sizeof number, "%05d ", code);
    std::string text = number;
    if (const char* remote = Lookup(translator, kRemoteErrors, code)) text += remote;
    return text;
}

std::string FormatConnectionError(const CTranslator& translator, int kind, int code) {
    if (static_cast<LPARAM>(static_cast<uint32_t>(code)) == ERROR_REMOTE_NO_FIXED_DELAY) {
        std::string text = translator.GetText(kMessages | 99, "The remote version of Velmora does not support the fixed delay mode.");
        text += "\n\n";
        text += translator.GetText(kMessages | 100, "- Please upgrade the remote Velmora or,");
        text += "\n";
        text += translator.GetText(kMessages | 101, "- Select a different network type in the phonebook.");
        return text;
    }
    switch (kind) {
        case 16:
        case 128: return FormatNetworkError(translator, code);
        case 32: return FormatIsdnCause(translator, code);
        default: return std::string();
    }
}
