#pragma once
// RIFF WAVE files: 16-bit PCM is handed through, every other coding goes
// through the compressed-WAV converter to 16-bit PCM (coding type 4096);
// MPEG Layer II and III data (tags 0x0050, 0x0055) through our MPEG decoders.
#include <memory>

#include "audio/AcmConverter.h"
#include "ui/AudioFileReader.h"
#include "ui/MpegFileReader.h"

class CWavFileReader final : public CAudioFileReader {
public:
    CWavFileReader() = default;
    ~CWavFileReader() override { Close(); }
    int Open(const char* name, int mode) override;
    void Close() override;
    int Read(void* buffer, int bytes) override;
    int GetLength() const override;

    static constexpr int kInputBytes = 10240;
    static constexpr int kMaxFormatBytes = 1024;

private:
    int Fail(std::string text);
    // Seeks to the body of the first chunk `id` from byte 12; its size, or -1.
    int64_t FindChunk(const char* id);
    int ReadConverted(uint8_t* dst, int bytes);

    int OpenMpeg(const char* name, int blockAlign);
    bool IsMpeg() const { return m_mpegData; }

    int m_dataSize = 0;
    int m_dataRead = 0;
    CAcmConverter m_converter;
    std::unique_ptr<uint8_t[]> m_input;
    int m_inputSize = 0;
    int m_fill = 0;
    int m_lastBlock = 0;
    // PCM of one converted block when the caller asked for less than a block.
    std::unique_ptr<uint8_t[]> m_pcm;
    int m_pcmOffset = 0;
    int m_pcmBytes = 0;
    // The data chunk of an MPEG WAV file, read by the MPEG reader.
    std::unique_ptr<CMpegFileReader> m_mpeg;
    bool m_mpegData = false;
};
