#pragma once
// MPEG audio Layer II and Layer III files: the first frame header within the
// first 51160 bytes sets the format, and the Layer II or Layer III codec
// decodes from there to 16-bit PCM.
#include <memory>

#include "codecs/MpegL2Codec.h"
#include "codecs/MpegL3Codec.h"
#include "ui/AudioFileReader.h"

class CMpegFileReader final : public CAudioFileReader {
public:
    CMpegFileReader();
    ~CMpegFileReader() override { Close(); }
    int Open(const char* name, int mode) override;
    // The same over `size` bytes from `position` only: the MPEG data chunk
    // of a WAV file.
    int OpenRange(const char* name, int64_t position, int64_t size);
    void Close() override;
    int Read(void* buffer, int bytes) override;
    int GetLength() const override;

    // 1 and the format words (coding type, bit rate, sample rate, device
    // mode, block size) when four bytes are a Layer II or III header this
    // reader decodes; 0 otherwise.
    static int TestHeader(const uint8_t* bytes, AudioFormat* out);

    static constexpr int kInputBytes = 10240;
    static constexpr int kSyncBlockBytes = 5116;
    static constexpr int kSyncBlocks = 10;

private:
    int OpenAt(const char* name, int64_t start, int64_t size);
    int FindSync(int start);
    int SkipInfoFrame(int position);
    int ReadLayer2(uint8_t* dst, int bytes);

    int m_fileSize = 0;  // where the MPEG data ends
    std::unique_ptr<uint8_t[]> m_input;
    int m_fill = 0;
    int m_inputDone = 0;
    int m_stalls = 0;
    int m_locked = 0;  // the Layer II decoder has found its first header
    static constexpr int kMaxStalls = 16;
    CMpegL3Codec m_layer3;
    CMpegL2Codec m_layer2;
    // One Layer II frame of PCM, handed out as the caller's room allows.
    int16_t m_frame[2 * 1152] = {};
    int m_frameOffset = 0;
    int m_frameBytes = 0;
};
