#pragma once
// The Network / IP page of the answer settings: accept, listening port and
// the fixed answer format with the lists and mode rules of the codings.
// Plain logic under CAnswerIpPage: every change recomputes which controls
// are enabled and may move the lists' selections and the mode.
//
// Threads: GUI thread.
#include <string>
#include <vector>

class CSettings;

class CAnswerIpLogic {
public:
    // Entries of the coding list, in list order.
    enum Coding { kPcm = 0, kLayer3 = 1, kLayer2 = 2, kAptx = 3, kEnhancedAptx = 4 };
    static constexpr int kCodingCount = 5;
    enum Result { kOk = 0, kNeedCodingRate, kNeedSamplerate };
    static constexpr int kPortLength = 5;

    struct Enabling {
        bool portList = false, portEdit = false, sameSettings = false;
        bool coding = false, bitrate = false, samplerate = false;
        bool mono = false, joint = false, stereo = false, dual = false;
    };

    // otherText is the port list's "Other ->" entry in the loaded language.
    void Load(const CSettings& settings, const std::string& otherText);
    // Checks what OK needs; writes nothing.
    Result Validate() const;
    // Writes the page's keys when Validate passes (returns its result).
    // Before Load it writes nothing and passes.
    Result Store(const CSettings& settings) const;

    void SetAcceptCalls(bool on);
    void SetSameSettings(bool on);
    // An entry of PortEntries(); an unknown text is ignored.
    void SelectPort(const std::string& text);
    void SetOtherPort(const std::string& text) { m_otherPort = text.substr(0, kPortLength); }
    void SelectCoding(int entry);
    // 0 clears the selection; a rate not in the list is ignored.
    void SelectBitrate(int bitsPerSecond);
    void SelectSamplerate(int rate);
    // 10, 20, 21 or 22; a disabled mode is ignored.
    void SetMode(int mode);

    bool AcceptCalls() const { return m_accept; }
    bool SameSettings() const { return m_same; }
    // Sorted by text, "Other ->" among them.
    const std::vector<std::string>& PortEntries() const { return m_portEntries; }
    const std::string& SelectedPort() const { return m_portEntries[m_port]; }
    bool OtherPortChosen() const { return m_portEntries[m_port] == m_otherText; }
    const std::string& OtherPort() const { return m_otherPort; }
    int CodingEntry() const { return m_coding; }
    const std::vector<int>& Bitrates() const { return m_bitrates; }
    int Bitrate() const { return m_bitrate; }  // 0 without a selection
    const std::vector<int>& Samplerates() const { return m_samplerates; }
    int Samplerate() const { return m_samplerate; }  // 0 without a selection
    int Mode() const { return m_mode; }
    const Enabling& Enabled() const { return m_enabled; }

    // The coding type an entry stands for, and the entry of a coding type.
    static int CodingTypeOf(int entry);
    static int EntryOfCodingType(int type);

private:
    bool IsMpeg() const { return m_coding == kLayer3 || m_coding == kLayer2; }
    void FillBitrates();
    void FillSamplerates();
    void Update();
    int PortNumber() const;

    bool m_loaded = false;
    bool m_accept = true;
    bool m_same = true;
    std::string m_otherText = "Other ->";
    std::vector<std::string> m_portEntries;
    size_t m_port = 0;
    std::string m_otherPort;
    int m_coding = kLayer3;
    std::vector<int> m_bitrates;
    int m_bitrate = 0;
    std::vector<int> m_samplerates;
    int m_samplerate = 0;
    int m_mode = 20;
    Enabling m_enabled;
};
