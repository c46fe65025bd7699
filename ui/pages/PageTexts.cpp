#include "ui/pages/PageTexts.h"

#include <cstdio>
#include <cstring>

#include "common/Codes.h"
#include "common/Phonebook.h"
#include "common/Translator.h"
#include "ui/StatusTexts.h"
#include "ui/pages/PageTraits.h"

namespace {

constexpr int kLabels = 2;

std::string Label(const CTranslator& t, int line, const char* text) { return t.GetSectionText(kLabels, line, text); }

std::string Field(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }

std::string Printf(const std::string& format, int value) {
    char text[128];
    std::snprintf(text, sizeof(text), format.c_str(), value);
    return text;
}

// The connection type after the port: "Type 1", "Type 3, reliable", "Type 3, 1.5s".
std::string TypeText(const CTranslator& t, const ConnectionInfo& c, bool fixedBuffer) {
    switch (c.connectionType) {
    case CONNTYPE_1:
        return Label(t, 16, "Type 1");
    case CONNTYPE_2:
        return Label(t, 17, "Type 2");
    case CONNTYPE_3:
        if (c.bufferingMode == BUFMODE_MEASURE_RELIABLE) return Label(t, 18, "Type 3, reliable");
        if (c.bufferingMode == BUFMODE_MEASURE_DELAY) return Label(t, 19, "Type 3, low delay");
        if (c.bufferingMode == BUFMODE_FIXED && fixedBuffer) {
            char seconds[32];
            std::snprintf(seconds, sizeof(seconds), " %.1fs", c.bufferMs * 0.001);
            return Label(t, 20, "Type 3,") + seconds;
        }
        return "";
    default:
        return "";
    }
}

}  // namespace

SelectionTexts SelectionTextsOf(const CTranslator& t, int kind, const PhonebookEntry& e) {
    SelectionTexts s;
    const ConnectionInfo& c = e.connection;
    s.name = Field(e.name, sizeof(e.name));
    s.icon = PhonebookImageOfDirection(e.format.direction);
    const std::string autoText = e.autoReconnect ? "Auto" : "";
    if (kind == TRANSPORT_ISDN) {
        s.first = Field(c.isdn.number1, sizeof(c.isdn.number1));
        if (e.format.bitRate != 64000) s.second = Field(c.isdn.number2, sizeof(c.isdn.number2));
        s.format = FormatAudioFormat(e.format);
        s.autoReconnect = autoText;
        return s;
    }
    s.first = Field(c.address, sizeof(c.address));
    const std::string port = Printf("%d", c.port) + " - ";
    if (kind == TRANSPORT_MULTICAST) {
        if (c.flag) {
            s.icon = 1;
            s.second = port + (c.hops == 1 ? Label(t, 21, "Max 1 router") : Printf(Label(t, 22, "Max %d routers"), c.hops));
            s.direction = Label(t, 4, "Transmit");
            s.activity = Label(t, 2, "Transmitting");
            s.format = FormatAudioFormat(e.format);
        } else {
            s.icon = 2;
            s.second = port + TypeText(t, c, false);
            s.direction = Label(t, 3, "Receive");
            s.activity = Label(t, 1, "Receiving");
        }
        return s;
    }
    s.second = port + TypeText(t, c, true);
    s.format = FormatAudioFormat(e.format);
    s.autoReconnect = autoText;
    return s;
}

ConnectionLines ConnectionLinesOf(const CTranslator& t, int kind, bool available, const ConnectionInfo* info) {
    ConnectionLines lines;
    if (!available) {
        const PageTraits& traits = PageTraitsOf(kind);
        lines.first = t.GetSectionText(CTranslator::kErrorSection, traits.notAvailableLine, traits.notAvailableText);
        return lines;
    }
    if (kind == TRANSPORT_ISDN) {
        lines.first = Label(t, 11, "Line 1:") + " ";
        lines.second = Label(t, 12, "Line 2:") + " ";
        if (info) {
            lines.first += Field(info->isdn.number1, sizeof(info->isdn.number1));
            lines.second += Field(info->isdn.number2, sizeof(info->isdn.number2));
        }
        return lines;
    }
    lines.first = Label(t, 13, "Addr:") + " ";
    lines.second = Label(t, 14, "Port:");
    if (info) {
        lines.first += Field(info->address, sizeof(info->address));
        lines.second += Printf(" %d", info->port);
    }
    return lines;
}

std::string RemoteNameLine(const CTranslator& t, const char* name) {
    if (!name || !name[0]) return "";
    return Label(t, 15, "Name:") + " " + name;
}
