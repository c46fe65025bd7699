#pragma once
// What the audio engine needs of the clip player: a PCM source for the
// outgoing audio or the local monitor, driven by commands and read from the
// engine's worker. The player implements it; the engine holds it by pointer.
#include <cstdint>

class CClipSource {
public:
    virtual int Start(int startFlag) = 0;  // 1 when the player's thread runs
    virtual void SetFileName(const char* path) = 0;
    virtual void ClearLevels() = 0;
    virtual int PostCommand(int command) = 0;  // 0 when the command slot stayed busy
    virtual void SetOutputFormat(int rate, int deviceMode) = 0;
    virtual int Read(int16_t* dst, int bytes) = 0;  // bytes; 0 before primed or at the end
    virtual int IsFinished() = 0;
    virtual int GetLengthMs() = 0;
    virtual int GetChannels() = 0;
    virtual void Close() = 0;
    virtual void GetLevels(int* left, int* right) = 0;
    virtual void SetGain(int on, double factor) = 0;  // samples divided by factor when on

protected:
    ~CClipSource() = default;  // never deleted through the interface
};

constexpr int kClipCommandOpen = 10;
