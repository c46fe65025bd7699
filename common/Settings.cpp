#include "common/Settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "common/Codes.h"
#include "platform/Profile.h"
#include "platform/WorkingDirectory.h"

namespace {
constexpr const char* kFileName = "Velmora.Ini";
}

CSettings::CSettings() {
    if (const char* chosen = std::getenv("VELMORA_SETTINGS_FILE"); chosen && *chosen) {
        m_path = chosen;
        return;
    }
    std::string dir;
    if (!platform::GetWorkingDirectory(dir) || dir.empty()) {
        m_path = kFileName;
        return;
    }
    m_path = dir;
    if (m_path.back() != '/') m_path += '/';
    m_path += kFileName;
}

int CSettings::ReadInt(const char* section, const char* key, int defaultValue) const {
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, m_path.c_str()));
}

std::string& CSettings::ReadString(const char* section, const char* key, const char* defaultValue,
                                   std::string& out, unsigned size) const {
    out.clear();
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[size == 0 ? 1 : size]);
    if (!buffer) return out;
    const DWORD n = GetPrivateProfileStringA(section, key, defaultValue, buffer.get(), size, m_path.c_str());
    out.assign(buffer.get(), n);
    return out;
}

void CSettings::WriteInt(const char* section, const char* key, int value) const {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    WriteString(section, key, text);
}

void CSettings::WriteString(const char* section, const char* key, const char* text) const {
    // A refused write (read-only file, no rights) is lost without a word, as
    // every caller expects.
    WritePrivateProfileStringA(section, key, text, m_path.c_str());
}

void CSettings::ScramblePassword(char* dest, const char* src, unsigned length) {
    for (unsigned i = 0; i < length; ++i) dest[i] = static_cast<char>(src[i] ^ kScrambleByte);
    dest[length] = '\0';
}

int CSettings::GetAudioInterface() const {
    const int kind = ReadInt("Audio", "Interface", 0);
    if (kind != 0) return kind;
    return ReadInt("Audio", "UseASIO", 0) != 0 ? INTERFACE_ASIO : INTERFACE_NONE;
}

std::string& CSettings::GetSocksPassword(std::string& out) const {
    // Read with the setter's own limit, so every password it stores comes back whole.
    std::string stored;
    ReadString("Socks", "Password", "", stored, kPasswordBufferBytes);
    char clear[kPasswordBufferBytes];
    ScramblePassword(clear, stored.data(), static_cast<unsigned>(stored.size()));
    out.assign(clear);  // a stray scramble byte in a hand-written file ends the text
    return out;
}

void CSettings::SetSocksPassword(const char* text) const {
    if (!text) text = "";
    size_t length = std::strlen(text);
    if (length > kPasswordBufferBytes - 1) length = kPasswordBufferBytes - 1;
    // Two spare bytes for the quotes below.
    char scrambled[kPasswordBufferBytes + 2];
    ScramblePassword(scrambled + 1, text, static_cast<unsigned>(length));
    const char* value = scrambled + 1;
    // A scrambled text that begins or ends with a blank, or is itself enclosed
    // in quotes, would be trimmed or unquoted on reading; enclosing it in one
    // more pair of quotes keeps it whole. Readers of every station drop that
    // pair, and unquoted files from other stations read as before.
    const char first = value[0];
    const char last = length ? value[length - 1] : '\0';
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; };
    const bool quoted = length >= 2 && (first == '"' || first == '\'') && last == first;
    if (length && (blank(first) || blank(last) || quoted)) {
        scrambled[0] = '"';
        scrambled[length + 1] = '"';
        scrambled[length + 2] = '\0';
        value = scrambled;
    }
    WriteString("Socks", "Password", value);
}

std::string& CSettings::GetISDNMSN(int channel, std::string& out) const {
    char key[32];
    std::snprintf(key, sizeof key, "MSN-%d", channel);
    return ReadString("ISDN", key, "", out, kMsnBufferBytes);
}

void CSettings::SetISDNMSN(int channel, const char* text) const {
    char key[32];
    std::snprintf(key, sizeof key, "MSN-%d", channel);
    WriteString("ISDN", key, text);
}

std::string& CSettings::GetMiniISDNMp2Number(int index, std::string& out) const {
    char key[32];
    std::snprintf(key, sizeof key, "Mp2Number-%d", index);
    return ReadString("MiniISDN", key, "", out, kStringBufferBytes);
}

void CSettings::SetMiniISDNMp2Number(int index, const char* text) const {
    char key[32];
    std::snprintf(key, sizeof key, "Mp2Number-%d", index);
    WriteString("MiniISDN", key, text);
}
