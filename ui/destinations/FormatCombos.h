#pragma once
// The four format combos of the Network / IP and multicast dialogs
// (compression, bit rate, sample rate, mode), filled from FormatLists.
// GUI thread only.
#include <functional>

#include "common/Translator.h"
#include "ui/destinations/DestinationFormats.h"

class wxChoice;
class wxWindow;

class CFormatCombos {
public:
    // `modeLine` is the line of "Mono - Voice only" in the dialog's section.
    void Attach(wxChoice* compression, wxChoice* bitRate, wxChoice* sampleRate, wxChoice* mode,
                const CTranslator* translator, int modeLine);
    // Shows the lists and the format's values; a coding the combo does not
    // list gets an item of its own.
    void Show(const AudioFormat& format, const FormatLists& lists);
    void Enable(bool on);
    // Handlers get the chosen value (compression: the index).
    void OnChange(std::function<void(int compressionIndex)> compression, std::function<void(int)> bitRate,
                  std::function<void(int)> sampleRate, std::function<void(int)> mode);

private:
    wxChoice* m_compression = nullptr;
    wxChoice* m_bitRate = nullptr;
    wxChoice* m_sampleRate = nullptr;
    wxChoice* m_mode = nullptr;
    const CTranslator* m_translator = nullptr;
    int m_modeLine = 0;
    unsigned m_offered = 0;  // compression items before an extra one
};
