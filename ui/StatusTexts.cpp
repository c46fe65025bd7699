#include "ui/StatusTexts.h"

#include <cstdio>

#include "codecs/CodingTable.h"
#include "common/MainWindowMessages.h"
#include "common/Translator.h"

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

std::string FormatConnectionError(const CTranslator& translator, int kind, int code) {
    constexpr int kMessages = 16 << 16;
    if (static_cast<LPARAM>(static_cast<uint32_t>(code)) == ERROR_REMOTE_NO_FIXED_DELAY) {
        std::string text = translator.GetText(kMessages | 99, "The remote version of Velmora does not support the fixed delay mode.");
        text += "\n\n";
        text += translator.GetText(kMessages | 100, "- Please upgrade the remote Velmora or,");
        text += "\n";
        text += translator.GetText(kMessages | 101, "- Select a different network type in the phonebook.");
        return text;
    }
    // The texts of ISDN causes and network errors come with the status-text
    // builders of the pages; until then a kind's error has no text.
    (void)kind;
    return std::string();
}
