#include "ui/WavFileReader.h"

#include <algorithm>
#include <cstring>

#include "common/ByteOrder.h"
#include "audio/WaveDecoderTable.h"
#include "common/Codes.h"

namespace {

constexpr int kPcmTag = 1;
constexpr int kMpegTag = 0x0050;
constexpr int kMpegLayer3Tag = 0x0055;
constexpr int kRiffHeaderBytes = 12;
constexpr int kFormatFixedBytes = 16;

}  // namespace

int CWavFileReader::Fail(std::string text) {
    Close();
    m_errorText = std::move(text);
    return 0;
}

int64_t CWavFileReader::FindChunk(const char* id) {
    if (m_file.Seek(kRiffHeaderBytes, 0) != kRiffHeaderBytes) return -1;
    int64_t position = kRiffHeaderBytes;
    const int64_t fileSize = m_file.GetSize();
    for (;;) {
        uint8_t header[8];
        if (m_file.Read(header, 8) != 8) return -1;
        position += 8;
        const uint32_t size = GetLe32(header + 4);
        if (std::memcmp(header, id, 4) == 0) return size;
        // RIFF pads an odd-sized chunk with one byte that its size leaves out.
        position += static_cast<int64_t>(size) + (size & 1);
        if (position >= fileSize || position > INT32_MAX) return -1;
        if (m_file.Seek(static_cast<LONG>(position), 0) != position) return -1;
    }
}

int CWavFileReader::Open(const char* name, int mode) {
    Close();
    m_errorText.clear();
    if (mode != FILEMODE_READ || name == nullptr) return 0;
    if (!m_file.Open(name, FILEMODE_READ)) return Fail("The file could not be opened.");
    uint8_t riff[kRiffHeaderBytes];
    if (m_file.Read(riff, kRiffHeaderBytes) != kRiffHeaderBytes || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        Close();
        return 0;  // not a WAV file: the next reader may take it
    }
    const int64_t formatSize = FindChunk("fmt ");
    if (formatSize < 0) return Fail("The WAV file has no format chunk.");
    if (formatSize < kFormatFixedBytes || formatSize > kMaxFormatBytes) {
        return Fail("The WAV file's format chunk of " + std::to_string(formatSize) + " bytes is not valid.");
    }
    uint8_t body[kMaxFormatBytes];
    if (m_file.Read(body, static_cast<DWORD>(formatSize)) != formatSize) return Fail("The WAV file is truncated.");
    WaveFormatInfo info;
    info.formatTag = GetLe16(body);
    info.channels = GetLe16(body + 2);
    info.sampleRate = static_cast<int>(std::min<uint32_t>(GetLe32(body + 4), INT32_MAX));
    info.blockAlign = GetLe16(body + 12);
    info.bitsPerSample = GetLe16(body + 14);
    if (formatSize >= 18) {
        info.extra = body + 18;
        info.extraBytes = std::min<int>(GetLe16(body + 16), static_cast<int>(formatSize) - 18);
    }
    if (info.channels != 1 && info.channels != 2) {
        return Fail("WAV files with " + std::to_string(info.channels) + " channels are not supported.");
    }
    if (info.sampleRate <= 0) return Fail("The WAV file's sample rate is 0.");
    const int tag = ResolveWaveFormatTag(info);
    if (tag == kMpegTag || tag == kMpegLayer3Tag) return OpenMpeg(name, info.blockAlign);
    if (info.formatTag == kPcmTag && info.bitsPerSample == 16) {
        if (info.blockAlign != 2 * info.channels) {
            return Fail("The WAV file's block alignment " + std::to_string(info.blockAlign) + " is not valid.");
        }
        m_format.codingType = CODING_PCM;
    } else {
        if (!m_converter.Open(info)) return Fail(m_converter.GetErrorText());
        m_format.codingType = CODING_ACM_PCM;
    }
    m_format.sampleRate = info.sampleRate;
    m_format.deviceMode = info.channels == 1 ? DEVICEMODE_MONO : DEVICEMODE_STEREO;
    m_format.frameBytes = info.blockAlign;

    const int64_t dataSize = FindChunk("data");
    if (dataSize <= 0) return Fail("The WAV file has no audio data.");
    const int64_t position = m_file.Seek(0, 1);
    m_dataPosition = static_cast<int>(position);
    const int64_t held = static_cast<int64_t>(m_file.GetSize()) - position;
    m_dataSize = static_cast<int>(std::clamp<int64_t>(std::min(dataSize, held), 0, INT32_MAX));
    if (m_dataSize <= 0) return Fail("The WAV file has no audio data.");
    if (m_format.codingType == CODING_ACM_PCM) {
        m_inputSize = std::max(kInputBytes, m_converter.GetSourceBlock());
        m_input = std::make_unique<uint8_t[]>(static_cast<size_t>(m_inputSize));
        m_pcm = std::make_unique<uint8_t[]>(static_cast<size_t>(m_converter.GetPcmBlock()));
    }
    m_atEnd = 0;
    return 1;
}

int CWavFileReader::OpenMpeg(const char* name, int blockAlign) {
    const int64_t dataSize = FindChunk("data");
    if (dataSize <= 0) return Fail("The WAV file has no audio data.");
    const int64_t position = m_file.Seek(0, 1);
    if (!m_mpeg) m_mpeg = std::make_unique<CMpegFileReader>();
    if (!m_mpeg->OpenRange(name, position, dataSize)) {
        std::string why = m_mpeg->GetErrorText();
        return Fail(why.empty() ? "The WAV file's MPEG data holds no Layer II or Layer III frame." : why);
    }
    AudioFormat stream;
    m_mpeg->GetFormat(&stream);
    // The frames say what the data is; the format chunk may have been written carelessly.
    m_format.codingType = CODING_ACM_PCM;
    m_format.sampleRate = stream.sampleRate;
    m_format.deviceMode = stream.deviceMode == DEVICEMODE_MONO ? DEVICEMODE_MONO : DEVICEMODE_STEREO;
    m_format.frameBytes = blockAlign;
    m_dataPosition = m_mpeg->GetDataPosition();
    m_dataSize = static_cast<int>(std::clamp<int64_t>(dataSize, 0, INT32_MAX));
    m_mpegData = true;
    m_atEnd = 0;
    return 1;
}

void CWavFileReader::Close() {
    if (m_mpeg) m_mpeg->Close();
    m_mpegData = false;
    m_input.reset();
    m_pcm.reset();
    m_converter.Close();
    m_file.Close();
    m_dataSize = m_dataRead = m_inputSize = m_fill = m_lastBlock = 0;
    m_pcmOffset = m_pcmBytes = 0;
    m_dataPosition = 0;
    m_format = AudioFormat{};
    m_atEnd = 1;
}

int CWavFileReader::Read(void* buffer, int bytes) {
    if (buffer == nullptr || bytes <= 0 || !m_file.IsOpen()) return 0;
    auto* dst = static_cast<uint8_t*>(buffer);
    if (IsMpeg()) {
        const int n = m_mpeg->Read(dst, bytes);
        m_atEnd = m_mpeg->IsAtEnd();
        return n;
    }
    if (m_format.codingType == CODING_ACM_PCM) return ReadConverted(dst, bytes);
    const int want = std::min(m_dataSize - m_dataRead, bytes);
    const int got = want > 0 ? static_cast<int>(m_file.Read(dst, static_cast<DWORD>(want))) : 0;
    if (got <= 0) {
        m_atEnd = 1;
        return 0;
    }
    m_dataRead += got;
    return got;
}

int CWavFileReader::ReadConverted(uint8_t* dst, int bytes) {
    if (m_pcmBytes == 0) {
        const int want = std::min(m_dataSize - m_dataRead, m_inputSize - m_fill);
        if (want > 0) {
            const int got = static_cast<int>(m_file.Read(m_input.get() + m_fill, static_cast<DWORD>(want)));
            if (got <= 0) m_lastBlock = 1;
            m_fill += std::max(got, 0);
            m_dataRead += std::max(got, 0);
        }
        if (m_dataRead >= m_dataSize) m_lastBlock = 1;
        // Less room than one block: convert one into our own buffer and hand it out in parts.
        const bool staged = bytes < m_converter.GetPcmBlock();
        int consumed = 0;
        const int produced = m_converter.Convert(m_input.get(), m_fill, &consumed, staged ? m_pcm.get() : dst,
                                                 staged ? m_converter.GetPcmBlock() : bytes, m_lastBlock);
        if (consumed > 0) {
            m_fill -= consumed;
            std::memmove(m_input.get(), m_input.get() + consumed, static_cast<size_t>(m_fill));
        } else if (produced == 0 && (m_fill < m_converter.GetSourceBlock() || m_lastBlock)) {
            m_atEnd = 1;
            return 0;
        }
        if (!staged) return produced;
        m_pcmOffset = 0;
        m_pcmBytes = produced;
    }
    const int n = std::min(bytes, m_pcmBytes);
    std::memcpy(dst, m_pcm.get() + m_pcmOffset, static_cast<size_t>(n));
    m_pcmOffset += n;
    m_pcmBytes -= n;
    return n;
}

int CWavFileReader::GetLength() const {
    if (IsMpeg()) return m_mpeg->GetLength();
    if (m_format.codingType == CODING_ACM_PCM) return m_converter.GetOutputSize(m_dataSize);
    return m_dataSize;
}
