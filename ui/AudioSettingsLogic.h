#pragma once
// The audio settings: Layer II and Layer III processing quality, the block
// times of the four interfaces and sample-rate conversion. Plain logic
// under CAudioSettingsDlg.
//
// Threads: GUI thread.
class CSettings;

class CAudioSettingsLogic {
public:
    enum Block { kPlay = 0, kRec, kAsio, kEndpoint };
    static constexpr int kBlockCount = 4;
    static constexpr int kMp2Entries = 2;  // "Fast Coding", "Studio Quality"
    static constexpr int kMp3Entries = 1;  // "Studio Quality"

    void Load(const CSettings& settings);
    void Store(const CSettings& settings) const;

    // Slider range and the position of a block time: WAVE in steps of 10 ms
    // (0-6), ASIO and endpoints in ms (2-8).
    static int SliderMin(Block block) { return IsWave(block) ? 0 : 2; }
    static int SliderMax(Block block) { return IsWave(block) ? 6 : 8; }
    int SliderPosition(Block block) const;
    void MoveSlider(Block block, int position);
    int BlockTime(Block block) const { return m_times[block]; }

    int Mp2Selection() const { return m_mp2; }  // -1 without one
    int Mp3Selection() const { return m_mp3; }
    void SelectMp2(int index) { m_mp2 = index >= 0 && index < kMp2Entries ? index : -1; }
    void SelectMp3(int index) { m_mp3 = index >= 0 && index < kMp3Entries ? index : -1; }
    bool SrcDisabled() const { return m_srcDisabled; }
    void SetSrcDisabled(bool on) { m_srcDisabled = on; }

private:
    static bool IsWave(Block block) { return block == kPlay || block == kRec; }

    int m_times[kBlockCount] = {10, 10, 4, 3};
    int m_mp2 = 1;
    int m_mp3 = 0;
    bool m_srcDisabled = false;
};
