#include "ui/ClipImport.h"

#include <algorithm>
#include <cstring>

#include "common/Codes.h"
#include "platform/FileApi.h"

namespace {

constexpr int kClipRate = 48000;
constexpr int kConverterTaps = 128;

}  // namespace

ImportResult CClipImport::Start(const std::string& source, const CLibraryFolder& folder, bool overwrite) {
    Finish();
    m_errorText.clear();
    AudioFormat format;
    {
        CAudioFile probe;
        if (!probe.Open(source.c_str(), FILEMODE_READ)) {
            m_errorText = probe.GetErrorText();
            return ImportResult::kUnrecognised;
        }
        probe.GetFormat(&format);
    }
    const int type = format.codingType;
    if (type != CODING_PCM && type != CODING_MPEG_L2 && type != CODING_MPEG_L3 && type != CODING_ACM_PCM)
        return ImportResult::kNotPcm;
    const std::string path = folder.MakeClipFileName(source, format.deviceMode);
    if (path.empty()) return ImportResult::kLibraryFull;
    if (!overwrite) {
        CFileHandle existing;
        if (existing.Open(path.c_str(), FILEMODE_READ)) return ImportResult::kDestinationExists;
    }
    if (!m_clip.Open(path.c_str(), FILEMODE_REWRITE)) return ImportResult::kDestinationOpen;
    m_clipPath = path;
    if (!m_source.Open(source.c_str(), FILEMODE_READ)) {
        Cancel();
        return ImportResult::kSourceOpen;
    }
    m_output = std::make_unique<uint8_t[]>(kOutputBytes);
    const int channels = format.deviceMode == DEVICEMODE_MONO ? 1 : 2;
    if (format.sampleRate == kClipRate) {
        m_expected = m_source.GetLength();
    } else {
        m_converter = std::make_unique<CSampleRateConverter>();
        if (!m_converter->Init(format.sampleRate, channels, kClipRate, channels, kConverterTaps)) {
            Cancel();
            return ImportResult::kConverterStart;
        }
        m_expected = m_converter->GetOutputLength(m_source.GetLength());
        m_inputSize = m_converter->GetInputLength(kStepBytes) & ~3;
        m_input = std::make_unique<uint8_t[]>(static_cast<size_t>(std::max(m_inputSize, 4)));
        m_inputFill = 0;
    }
    m_done = 0;
    return ImportResult::kStarted;
}

int CClipImport::Step() {
    if (!m_output || m_done >= m_expected || m_source.IsAtEnd()) return 0;
    if (m_converter) {
        const int got = m_source.Read(m_input.get() + m_inputFill, m_inputSize - m_inputFill);
        m_inputFill += got;
        int consumed = 0;
        const int produced = m_converter->Convert(reinterpret_cast<const int16_t*>(m_input.get()), m_inputFill & ~1,
                                                  &consumed, reinterpret_cast<int16_t*>(m_output.get()), kStepBytes);
        m_clip.Write(m_output.get(), static_cast<DWORD>(produced));
        m_done += produced;
        m_inputFill -= consumed;
        std::memmove(m_input.get(), m_input.get() + consumed, static_cast<size_t>(m_inputFill));
    } else {
        const int want = static_cast<int>(std::min<int64_t>(m_expected - m_done, kStepBytes));
        const int got = m_source.Read(m_output.get(), want);
        m_clip.Write(m_output.get(), static_cast<DWORD>(got));
        m_done += got;
    }
    return 1;
}

int CClipImport::GetPercent() const {
    return m_expected > 0 ? static_cast<int>(std::min<int64_t>(m_done * 100 / m_expected, 100)) : 0;
}

void CClipImport::Cancel() {
    const std::string path = m_clipPath;
    Finish();
    // A cancelled or failed import leaves no partial clip in the library.
    if (!path.empty()) DeleteFileA(path.c_str());
    m_clipPath.clear();
}

void CClipImport::Finish() {
    m_clip.Close();
    m_source.Close();
    m_input.reset();
    m_output.reset();
    m_converter.reset();
    m_inputSize = m_inputFill = 0;
}
