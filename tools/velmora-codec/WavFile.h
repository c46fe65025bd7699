#pragma once
// 16-bit PCM WAVE files for velmora-codec, read as they are coded (CWavWriter writes).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class CWavReader {
public:
    CWavReader() = default;
    ~CWavReader();
    CWavReader(const CWavReader&) = delete;
    CWavReader& operator=(const CWavReader&) = delete;

    // Reads the header up to the data chunk; false with a reason in *error for
    // a file that is not 16-bit PCM WAVE.
    bool Open(const std::string& path, std::string* error);
    int SampleRate() const { return m_sampleRate; }
    int Channels() const { return m_channels; }
    // Up to room interleaved samples; 0 at the end of the data. Failed() tells
    // an end from a read error.
    size_t Read(int16_t* samples, size_t room);
    bool Failed() const { return m_failed; }

private:
    std::FILE* m_file = nullptr;
    uint64_t m_left = 0;  // data bytes still to come; UINT64_MAX: up to the end of the file
    int m_sampleRate = 0;
    int m_channels = 0;
    bool m_failed = false;
};

// The whole data chunk of a WAVE file, for what codes all at once.
struct WavData {
    int sampleRate = 0;
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
};
bool ReadWav(const std::string& path, WavData* wav, std::string* error);

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);
