#pragma once
// One file's import into the audio library: the source is read through
// CAudioFile, converted to 48 kHz when it runs at another rate, and written
// to a new clip file in small steps, so the GUI thread's timer can drive it
// and a progress dialog can follow. Plain C++; GUI thread.
#include <cstdint>
#include <memory>
#include <string>

#include "audio/SampleRateConverter.h"
#include "common/FileHandle.h"
#include "ui/AudioFile.h"
#include "ui/LibraryFolder.h"

enum class ImportResult {
    kStarted,
    kUnrecognised,      // neither reader takes the file
    kNotPcm,            // a coding type the library cannot take
    kLibraryFull,
    kDestinationExists, // ask before overwriting, then Start again with overwrite
    kDestinationOpen,
    kSourceOpen,
    kConverterCreate,
    kConverterStart,
};

class CClipImport {
public:
    CClipImport() = default;
    ~CClipImport() { Finish(); }
    CClipImport(const CClipImport&) = delete;
    CClipImport& operator=(const CClipImport&) = delete;

    ImportResult Start(const std::string& source, const CLibraryFolder& folder, bool overwrite = false);
    // 1 while there is more to do; 0 when the import is over.
    int Step();
    // Ends the import and deletes the partial clip.
    void Cancel();
    // Ends the import, keeping what was written.
    void Finish();
    bool IsRunning() const { return m_output != nullptr; }
    int GetPercent() const;
    const std::string& GetClipPath() const { return m_clipPath; }
    const std::string& GetErrorText() const { return m_errorText; }
    int64_t GetExpectedBytes() const { return m_expected; }
    int64_t GetDoneBytes() const { return m_done; }

    static constexpr int kStepBytes = 65536;
    static constexpr int kOutputBytes = 262144;

private:
    CAudioFile m_source;
    CFileHandle m_clip;
    std::string m_clipPath;
    std::string m_errorText;
    std::unique_ptr<CSampleRateConverter> m_converter;
    std::unique_ptr<uint8_t[]> m_input;
    std::unique_ptr<uint8_t[]> m_output;
    int m_inputSize = 0;
    int m_inputFill = 0;
    int64_t m_expected = 0;
    int64_t m_done = 0;
};
