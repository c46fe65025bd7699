#pragma once
// 16-bit PCM WAVE files for velmora-codec: whole-file read (CWavWriter writes).
#include <cstdint>
#include <string>
#include <vector>

struct WavData {
    int sampleRate = 0;
    int channels = 0;
    std::vector<int16_t> samples;  // interleaved
};

// False with a reason in *error for a file that is not 16-bit PCM WAVE.
bool ReadWav(const std::string& path, WavData* wav, std::string* error);

// Raw bytes of a whole file; false with a reason on failure.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);
