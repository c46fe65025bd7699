#pragma once
// A 16-bit PCM WAVE file written as the samples come: big blocks to the file,
// the sizes in the header filled in when it is closed.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class CWavWriter {
public:
    CWavWriter() = default;
    ~CWavWriter();
    CWavWriter(const CWavWriter&) = delete;
    CWavWriter& operator=(const CWavWriter&) = delete;

    // False with a reason in *error when the file cannot be created.
    bool Open(const std::string& path, int sampleRate, int channels, std::string* error);
    // Interleaved samples; false once the file cannot take them (see Close).
    bool Append(const int16_t* samples, size_t count);
    // Writes what is held and the header's sizes; false with a reason when any
    // write failed or the data outgrew what a WAVE header can say.
    bool Close(std::string* error);

private:
    bool Flush();

    std::FILE* m_file = nullptr;
    std::string m_path;
    std::vector<uint8_t> m_block;
    size_t m_held = 0;
    uint64_t m_dataBytes = 0;
    int m_sampleRate = 0;
    int m_channels = 0;
    bool m_failed = false;
    bool m_tooLong = false;
};
