#pragma once
// The settings store: every persistent setting of the program, one INI file,
// one getter and one setter per key. Nothing is cached: every getter reads the
// file again and every setter writes at once, so a value a dialog writes is
// seen by the next read anywhere. Cheap to build, copy and destroy; any
// thread (the profile calls serialise access to the file).
#include <string>
#include <utility>

class CSettings {
public:
    // "Velmora.Ini" in the current directory, fixed at construction. When the
    // environment names a file in VELMORA_SETTINGS_FILE that file is used
    // instead, so tests and side-by-side stations can keep apart.
    CSettings();
    // Any full path (tests).
    explicit CSettings(std::string path) : m_path(std::move(path)) {}

    const std::string& GetPath() const { return m_path; }

    // The four primitives.
    int ReadInt(const char* section, const char* key, int defaultValue) const;
    std::string& ReadString(const char* section, const char* key, const char* defaultValue, std::string& out,
                            unsigned size) const;
    void WriteInt(const char* section, const char* key, int value) const;
    void WriteString(const char* section, const char* key, const char* text) const;

    // Scrambles `length` bytes of `src` into `dest` and terminates it; the
    // same call undoes it. `dest` holds length + 1 bytes.
    static void ScramblePassword(char* dest, const char* src, unsigned length);

    static constexpr unsigned kStringBufferBytes = 121;  // at most 120 characters
    static constexpr unsigned kMsnBufferBytes = 20;      // at most 19 characters
    static constexpr unsigned kPasswordBufferBytes = 124;
    static constexpr char kScrambleByte = 0x1F;

    // Keys with rules of their own.
    int GetAudioInterface() const;  // an AudioInterface; falls back on the older "UseASIO"
    void SetAudioInterface(int value) const { WriteInt("Audio", "Interface", value); }
    void SetSocksPortNumber(int value) const { WriteInt("Socks", "PortNumber", value & 0xFFFF); }
    void SetTCPPortNumber(int value) const { WriteInt("TCP", "PortNumber", value & 0xFFFF); }
    std::string& GetSocksPassword(std::string& out) const;
    std::string GetSocksPassword() const {
        std::string s;
        return GetSocksPassword(s);
    }
    void SetSocksPassword(const char* text) const;
    std::string& GetISDNMSN(int channel, std::string& out) const;
    std::string GetISDNMSN(int channel) const {
        std::string s;
        return GetISDNMSN(channel, s);
    }
    void SetISDNMSN(int channel, const char* text) const;
    std::string& GetMiniISDNMp2Number(int index, std::string& out) const;
    std::string GetMiniISDNMp2Number(int index) const {
        std::string s;
        return GetMiniISDNMp2Number(index, s);
    }
    void SetMiniISDNMp2Number(int index, const char* text) const;

    // [ARIP]
    int GetARIPPortNumber() const { return ReadInt("ARIP", "PortNumber", 0); }

    // [Socks]
    int GetSocksEnable() const { return ReadInt("Socks", "Enable", 0); }
    void SetSocksEnable(int value) const { WriteInt("Socks", "Enable", value); }
    int GetSocksVersion() const { return ReadInt("Socks", "Version", 4); }
    void SetSocksVersion(int value) const { WriteInt("Socks", "Version", value); }
    std::string& GetSocksAddress(std::string& out) const {
        return ReadString("Socks", "Address", "", out, kStringBufferBytes);
    }
    std::string GetSocksAddress() const {
        std::string s;
        return GetSocksAddress(s);
    }
    void SetSocksAddress(const char* text) const { WriteString("Socks", "Address", text); }
    int GetSocksPortNumber() const { return ReadInt("Socks", "PortNumber", 1080); }
    int GetSocksNeedLogin() const { return ReadInt("Socks", "NeedLogin", 0); }
    void SetSocksNeedLogin(int value) const { WriteInt("Socks", "NeedLogin", value); }
    std::string& GetSocksUsername(std::string& out) const {
        return ReadString("Socks", "Username", "", out, kStringBufferBytes);
    }
    std::string GetSocksUsername() const {
        std::string s;
        return GetSocksUsername(s);
    }
    void SetSocksUsername(const char* text) const { WriteString("Socks", "Username", text); }

    // [TCP]
    std::string& GetTCPSelection(std::string& out) const {
        return ReadString("TCP", "Selection", "", out, kStringBufferBytes);
    }
    std::string GetTCPSelection() const {
        std::string s;
        return GetTCPSelection(s);
    }
    void SetTCPSelection(const char* text) const { WriteString("TCP", "Selection", text); }
    int GetTCPBufferSize() const { return ReadInt("TCP", "BufferSize", 10240); }
    int GetTCPPortNumber() const { return ReadInt("TCP", "PortNumber", 5003); }
    int GetTCPLastBuffering() const { return ReadInt("TCP", "LastBuffering", 0); }
    void SetTCPLastBuffering(int value) const { WriteInt("TCP", "LastBuffering", value); }
    int GetTCPLastCodingType() const { return ReadInt("TCP", "LastCodingType", 64); }
    void SetTCPLastCodingType(int value) const { WriteInt("TCP", "LastCodingType", value); }
    int GetTCPLastCodingRate() const { return ReadInt("TCP", "LastCodingRate", 128000); }
    void SetTCPLastCodingRate(int value) const { WriteInt("TCP", "LastCodingRate", value); }
    int GetTCPLastSamplerate() const { return ReadInt("TCP", "LastSamplerate", 48000); }
    void SetTCPLastSamplerate(int value) const { WriteInt("TCP", "LastSamplerate", value); }
    int GetTCPLastDeviceMode() const { return ReadInt("TCP", "LastDeviceMode", 20); }
    void SetTCPLastDeviceMode(int value) const { WriteInt("TCP", "LastDeviceMode", value); }
    int GetTCPAnswerAcceptCalls() const { return ReadInt("TCP", "AnswerAcceptCalls", 1); }
    void SetTCPAnswerAcceptCalls(int value) const { WriteInt("TCP", "AnswerAcceptCalls", value); }
    int GetTCPAnswerSameSettings() const { return ReadInt("TCP", "AnswerSameSettings", 1); }
    void SetTCPAnswerSameSettings(int value) const { WriteInt("TCP", "AnswerSameSettings", value); }
    int GetTCPAnswerCodingType() const { return ReadInt("TCP", "Answer-CodingType", 64); }
    void SetTCPAnswerCodingType(int value) const { WriteInt("TCP", "Answer-CodingType", value); }
    int GetTCPAnswerCodingRate() const { return ReadInt("TCP", "Answer-CodingRate", 128000); }
    void SetTCPAnswerCodingRate(int value) const { WriteInt("TCP", "Answer-CodingRate", value); }
    int GetTCPAnswerSamplerate() const { return ReadInt("TCP", "Answer-Samplerate", 48000); }
    void SetTCPAnswerSamplerate(int value) const { WriteInt("TCP", "Answer-Samplerate", value); }
    int GetTCPAnswerDeviceMode() const { return ReadInt("TCP", "Answer-DeviceMode", 20); }
    void SetTCPAnswerDeviceMode(int value) const { WriteInt("TCP", "Answer-DeviceMode", value); }

    // [UDP]
    std::string& GetUDPSelection(std::string& out) const {
        return ReadString("UDP", "Selection", "", out, kStringBufferBytes);
    }
    std::string GetUDPSelection() const {
        std::string s;
        return GetUDPSelection(s);
    }
    void SetUDPSelection(const char* text) const { WriteString("UDP", "Selection", text); }
    int GetUDPBufferSize() const { return ReadInt("UDP", "BufferSize", 10240); }
    int GetUDPLastBuffering() const { return ReadInt("UDP", "LastBuffering", 0); }
    void SetUDPLastBuffering(int value) const { WriteInt("UDP", "LastBuffering", value); }
    int GetUDPLastCodingType() const { return ReadInt("UDP", "LastCodingType", 64); }
    void SetUDPLastCodingType(int value) const { WriteInt("UDP", "LastCodingType", value); }
    int GetUDPLastCodingRate() const { return ReadInt("UDP", "LastCodingRate", 128000); }
    void SetUDPLastCodingRate(int value) const { WriteInt("UDP", "LastCodingRate", value); }
    int GetUDPLastSamplerate() const { return ReadInt("UDP", "LastSamplerate", 48000); }
    void SetUDPLastSamplerate(int value) const { WriteInt("UDP", "LastSamplerate", value); }
    int GetUDPLastDeviceMode() const { return ReadInt("UDP", "LastDeviceMode", 20); }
    void SetUDPLastDeviceMode(int value) const { WriteInt("UDP", "LastDeviceMode", value); }
    void SetUDPAnswerAcceptCalls(int value) const { WriteInt("UDP", "AnswerAcceptCalls", value); }
    void SetUDPAnswerSameSettings(int value) const { WriteInt("UDP", "AnswerSameSettings", value); }
    void SetUDPAnswerCodingType(int value) const { WriteInt("UDP", "Answer-CodingType", value); }
    void SetUDPAnswerCodingRate(int value) const { WriteInt("UDP", "Answer-CodingRate", value); }
    void SetUDPAnswerSamplerate(int value) const { WriteInt("UDP", "Answer-Samplerate", value); }
    void SetUDPAnswerDeviceMode(int value) const { WriteInt("UDP", "Answer-DeviceMode", value); }

    // [ISDN]
    int GetISDNDialDelay() const { return ReadInt("ISDN", "DialDelay", 1); }
    int GetISDNController() const { return ReadInt("ISDN", "Controller", 0); }
    int GetISDNSynchroStart() const { return ReadInt("ISDN", "SynchroStart", 4); }
    int GetISDNEnableTwoChannelG722() const { return ReadInt("ISDN", "EnableTwoChannelG722", 0); }
    int GetISDNSupported() const { return ReadInt("ISDN", "Supported", 1); }
    void SetISDNSupported(int value) const { WriteInt("ISDN", "Supported", value); }
    int GetISDNG711Type() const { return ReadInt("ISDN", "G711Type", 2); }
    void SetISDNG711Type(int value) const { WriteInt("ISDN", "G711Type", value); }
    std::string& GetISDNSelection(std::string& out) const {
        return ReadString("ISDN", "Selection", "", out, kStringBufferBytes);
    }
    std::string GetISDNSelection() const {
        std::string s;
        return GetISDNSelection(s);
    }
    void SetISDNSelection(const char* text) const { WriteString("ISDN", "Selection", text); }
    int GetISDNLastCodingType() const { return ReadInt("ISDN", "LastCodingType", 32); }
    void SetISDNLastCodingType(int value) const { WriteInt("ISDN", "LastCodingType", value); }
    int GetISDNLastCodingRate() const { return ReadInt("ISDN", "LastCodingRate", 64000); }
    void SetISDNLastCodingRate(int value) const { WriteInt("ISDN", "LastCodingRate", value); }
    int GetISDNLastSamplerate() const { return ReadInt("ISDN", "LastSamplerate", 48000); }
    void SetISDNLastSamplerate(int value) const { WriteInt("ISDN", "LastSamplerate", value); }
    int GetISDNLastDeviceMode() const { return ReadInt("ISDN", "LastDeviceMode", 10); }
    void SetISDNLastDeviceMode(int value) const { WriteInt("ISDN", "LastDeviceMode", value); }
    int GetISDNAnswerAcceptCalls() const { return ReadInt("ISDN", "AnswerAcceptCalls", 1); }
    void SetISDNAnswerAcceptCalls(int value) const { WriteInt("ISDN", "AnswerAcceptCalls", value); }
    int GetISDNAnswerAcceptVoice() const { return ReadInt("ISDN", "AnswerAcceptVoice", 1); }
    void SetISDNAnswerAcceptVoice(int value) const { WriteInt("ISDN", "AnswerAcceptVoice", value); }
    int GetISDNAnswerCodingType() const { return ReadInt("ISDN", "Answer-CodingType", -1); }
    void SetISDNAnswerCodingType(int value) const { WriteInt("ISDN", "Answer-CodingType", value); }
    int GetISDNAnswerSamplerate() const { return ReadInt("ISDN", "Answer-Samplerate", -1); }
    void SetISDNAnswerSamplerate(int value) const { WriteInt("ISDN", "Answer-Samplerate", value); }
    int GetISDNAnswerDeviceMode() const { return ReadInt("ISDN", "Answer-DeviceMode", -1); }
    void SetISDNAnswerDeviceMode(int value) const { WriteInt("ISDN", "Answer-DeviceMode", value); }

    // [Audio]
    int GetAudioEnableSRC() const { return ReadInt("Audio", "EnableSRC", 1); }
    void SetAudioEnableSRC(int value) const { WriteInt("Audio", "EnableSRC", value); }
    int GetAudioMp2Processing() const { return ReadInt("Audio", "Mp2Processing", 1); }
    void SetAudioMp2Processing(int value) const { WriteInt("Audio", "Mp2Processing", value); }
    int GetAudioMp3Processing() const { return ReadInt("Audio", "Mp3Processing", 0); }
    void SetAudioMp3Processing(int value) const { WriteInt("Audio", "Mp3Processing", value); }

    // [ASIO]
    int GetASIOBlockTime() const { return ReadInt("ASIO", "BlockTime", 4); }
    void SetASIOBlockTime(int value) const { WriteInt("ASIO", "BlockTime", value); }
    int GetASIOCard() const { return ReadInt("ASIO", "Card", 0); }
    void SetASIOCard(int value) const { WriteInt("ASIO", "Card", value); }
    int GetASIOOutput() const { return ReadInt("ASIO", "Output", 0); }
    void SetASIOOutput(int value) const { WriteInt("ASIO", "Output", value); }
    int GetASIOInput() const { return ReadInt("ASIO", "Input", 0); }
    void SetASIOInput(int value) const { WriteInt("ASIO", "Input", value); }

    // [CoreAudio]
    int GetCoreAudioBlockTime() const { return ReadInt("CoreAudio", "BlockTime", 3); }
    void SetCoreAudioBlockTime(int value) const { WriteInt("CoreAudio", "BlockTime", value); }
    int GetCoreAudioInput() const { return ReadInt("CoreAudio", "Input", -1); }
    void SetCoreAudioInput(int value) const { WriteInt("CoreAudio", "Input", value); }
    int GetCoreAudioOutput() const { return ReadInt("CoreAudio", "Output", -1); }
    void SetCoreAudioOutput(int value) const { WriteInt("CoreAudio", "Output", value); }

    // [Play]
    int GetPlayBlockTime() const { return ReadInt("Play", "BlockTime", 10); }
    void SetPlayBlockTime(int value) const { WriteInt("Play", "BlockTime", value); }
    int GetPlayCard() const { return ReadInt("Play", "Card", 0); }
    void SetPlayCard(int value) const { WriteInt("Play", "Card", value); }
    int GetPlayLevel() const { return ReadInt("Play", "Level", 0); }
    void SetPlayLevel(int value) const { WriteInt("Play", "Level", value); }

    // [Rec]
    int GetRecNumBlocks() const { return ReadInt("Rec", "NumBlocks", 10); }
    int GetRecBlockTime() const { return ReadInt("Rec", "BlockTime", 10); }
    void SetRecBlockTime(int value) const { WriteInt("Rec", "BlockTime", value); }
    int GetRecCard() const { return ReadInt("Rec", "Card", 0); }
    void SetRecCard(int value) const { WriteInt("Rec", "Card", value); }
    int GetRecInput() const { return ReadInt("Rec", "Input", 0); }
    void SetRecInput(int value) const { WriteInt("Rec", "Input", value); }
    int GetRecLevel() const { return ReadInt("Rec", "Level", 0); }
    int GetRecMonoMix() const { return ReadInt("Rec", "MonoMix", 0); }

    // [Library]
    std::string& GetLibraryAudioLocation(std::string& out) const {
        return ReadString("Library", "AudioLocation", ".\\", out, kStringBufferBytes);
    }
    std::string GetLibraryAudioLocation() const {
        std::string s;
        return GetLibraryAudioLocation(s);
    }
    void SetLibraryAudioLocation(const char* text) const { WriteString("Library", "AudioLocation", text); }
    std::string& GetLibraryLocation(std::string& out) const {
        return ReadString("Library", "Location", "Library", out, kStringBufferBytes);
    }
    std::string GetLibraryLocation() const {
        std::string s;
        return GetLibraryLocation(s);
    }
    void SetLibraryLocation(const char* text) const { WriteString("Library", "Location", text); }
    int GetLibrarySelection() const { return ReadInt("Library", "Selection", 0); }
    void SetLibrarySelection(int value) const { WriteInt("Library", "Selection", value); }
    int GetLibraryLevel() const { return ReadInt("Library", "Level", 0); }
    void SetLibraryLevel(int value) const { WriteInt("Library", "Level", value); }
    int GetLibraryMicOn() const { return ReadInt("Library", "MicOn", 0); }
    void SetLibraryMicOn(int value) const { WriteInt("Library", "MicOn", value); }

    // [MiniISDN]
    int GetMiniISDNEnabled() const { return ReadInt("MiniISDN", "Enabled", 0); }
    std::string& GetMiniISDNG711Number(std::string& out) const {
        return ReadString("MiniISDN", "G711Number", "", out, kStringBufferBytes);
    }
    std::string GetMiniISDNG711Number() const {
        std::string s;
        return GetMiniISDNG711Number(s);
    }
    void SetMiniISDNG711Number(const char* text) const { WriteString("MiniISDN", "G711Number", text); }
    std::string& GetMiniISDNG722Number(std::string& out) const {
        return ReadString("MiniISDN", "G722Number", "", out, kStringBufferBytes);
    }
    std::string GetMiniISDNG722Number() const {
        std::string s;
        return GetMiniISDNG722Number(s);
    }
    void SetMiniISDNG722Number(const char* text) const { WriteString("MiniISDN", "G722Number", text); }

    // [Vista]
    int GetVistaDisableWAVE() const { return ReadInt("Vista", "DisableWAVE", 1); }

    // [Main]
    int GetMainNoSplash() const { return ReadInt("Main", "NoSplash", 0); }
    int GetMainStartDelay() const { return ReadInt("Main", "StartDelay", 0); }
    int GetMainAutoDial() const { return ReadInt("Main", "AutoDial", 0); }
    void SetMainAutoDial(int value) const { WriteInt("Main", "AutoDial", value); }
    int GetMainAutoDialType() const { return ReadInt("Main", "AutoDialType", 0); }
    void SetMainAutoDialType(int value) const { WriteInt("Main", "AutoDialType", value); }
    std::string& GetMainAutoDialName(std::string& out) const {
        return ReadString("Main", "AutoDialName", "", out, kStringBufferBytes);
    }
    std::string GetMainAutoDialName() const {
        std::string s;
        return GetMainAutoDialName(s);
    }
    void SetMainAutoDialName(const char* text) const { WriteString("Main", "AutoDialName", text); }
    std::string& GetMainLanguage(std::string& out) const {
        return ReadString("Main", "Language", "", out, kStringBufferBytes);
    }
    std::string GetMainLanguage() const {
        std::string s;
        return GetMainLanguage(s);
    }
    void SetMainLanguage(const char* text) const { WriteString("Main", "Language", text); }
    int GetMainFastCPU() const { return ReadInt("Main", "FastCPU", -1); }
    void SetMainFastCPU(int value) const { WriteInt("Main", "FastCPU", value); }
    int GetMainLibrary() const { return ReadInt("Main", "Library", 0); }
    void SetMainLibrary(int value) const { WriteInt("Main", "Library", value); }
    std::string& GetMainIDString(std::string& out) const {
        return ReadString("Main", "IDString", "", out, kStringBufferBytes);
    }
    std::string GetMainIDString() const {
        std::string s;
        return GetMainIDString(s);
    }
    void SetMainIDString(const char* text) const { WriteString("Main", "IDString", text); }
    std::string& GetMainPhoneFile(std::string& out) const {
        return ReadString("Main", "PhoneFile", "My Phonebook.Pb", out, kStringBufferBytes);
    }
    std::string GetMainPhoneFile() const {
        std::string s;
        return GetMainPhoneFile(s);
    }
    void SetMainPhoneFile(const char* text) const { WriteString("Main", "PhoneFile", text); }
    int GetMainPage() const { return ReadInt("Main", "Page", 0); }
    void SetMainPage(int value) const { WriteInt("Main", "Page", value); }
    int GetMainXPos() const { return ReadInt("Main", "XPos", 100); }
    void SetMainXPos(int value) const { WriteInt("Main", "XPos", value); }
    int GetMainYPos() const { return ReadInt("Main", "YPos", 100); }
    void SetMainYPos(int value) const { WriteInt("Main", "YPos", value); }
    int GetMainOnTop() const { return ReadInt("Main", "OnTop", 0); }
    void SetMainOnTop(int value) const { WriteInt("Main", "OnTop", value); }
    std::string& GetMainWinClass(std::string& out) const {
        return ReadString("Main", "WinClass", "VelmoraClass", out, kStringBufferBytes);
    }
    std::string GetMainWinClass() const {
        std::string s;
        return GetMainWinClass(s);
    }

    // [Options]
    int GetOptionsTrace() const { return ReadInt("Options", "Trace", 0); }
    int GetOptionsDebug() const { return ReadInt("Options", "Debug", 0); }
    void SetOptionsXPos(int value) const { WriteInt("Options", "XPos", value); }
    void SetOptionsYPos(int value) const { WriteInt("Options", "YPos", value); }

private:
    std::string m_path;
};
