#include "ui/destinations/FormatCombos.h"

#include <wx/choice.h>

#include <cstdio>
#include <string>

#include "common/Codes.h"
#include "ui/StatusTexts.h"

namespace {

void Fill(wxChoice* combo, const std::vector<int>& values, const std::function<std::string(int)>& text, int selected) {
    combo->Clear();
    int index = -1;
    for (int v : values) {
        const int at = combo->Append(wxString::FromUTF8(text(v).c_str()), reinterpret_cast<void*>(static_cast<intptr_t>(v)));
        if (v == selected && index < 0) index = at;
    }
    combo->SetSelection(index);
}

int ValueAt(wxChoice* combo) {
    const int i = combo->GetSelection();
    return i < 0 ? -1 : static_cast<int>(reinterpret_cast<intptr_t>(combo->GetClientData(static_cast<unsigned>(i))));
}

}  // namespace

void CFormatCombos::Attach(wxChoice* compression, wxChoice* bitRate, wxChoice* sampleRate, wxChoice* mode,
                           const CTranslator* translator, int modeLine) {
    m_compression = compression;
    m_bitRate = bitRate;
    m_sampleRate = sampleRate;
    m_mode = mode;
    m_translator = translator;
    m_modeLine = modeLine;
    m_offered = compression->GetCount();
}

void CFormatCombos::Show(const AudioFormat& f, const FormatLists& lists) {
    while (m_compression->GetCount() > m_offered) m_compression->Delete(m_compression->GetCount() - 1);
    const int index = CompressionIndexOfCodingType(f.codingType);
    if (index >= 0) {
        m_compression->SetSelection(index);
    } else {
        // Kept as stored: named by the status texts' format name.
        AudioFormat named = f;
        std::string name = FormatAudioFormat(named);
        name = name.substr(0, name.find(' '));
        m_compression->Append(wxString::FromUTF8(name.empty() ? "?" : name.c_str()));
        m_compression->SetSelection(static_cast<int>(m_offered));
    }
    Fill(m_bitRate, lists.bitRates, [](int v) { return std::to_string(v / 1000) + " kbps"; }, f.bitRate);
    m_bitRate->Enable(lists.bitRatesEnabled);
    Fill(m_sampleRate, lists.sampleRates, [](int v) { return std::to_string(v) + " Hz"; }, f.sampleRate);
    Fill(
        m_mode, lists.modes,
        [this](int v) -> std::string {
            switch (v) {
            case DEVICEMODE_MONO: return m_translator->GetText(m_modeLine, "Mono - Voice only");
            case DEVICEMODE_STEREO: return m_translator->GetText(m_modeLine + 1, "Stereo");
            case DEVICEMODE_JOINT_STEREO: return m_translator->GetText(m_modeLine + 2, "JointStereo - Music/Programme");
            case DEVICEMODE_DUAL_MONO: return m_translator->GetText(m_modeLine + 3, "Dual Mono");
            default: return "Mode " + std::to_string(v);
            }
        },
        f.deviceMode);
}

void CFormatCombos::Enable(bool on) {
    for (wxChoice* c : {m_compression, m_bitRate, m_sampleRate, m_mode}) c->Enable(on);
}

void CFormatCombos::OnChange(std::function<void(int)> compression, std::function<void(int)> bitRate,
                             std::function<void(int)> sampleRate, std::function<void(int)> mode) {
    m_compression->Bind(wxEVT_CHOICE, [this, compression](wxCommandEvent&) {
        const int i = m_compression->GetSelection();
        if (i >= 0 && static_cast<unsigned>(i) < m_offered) compression(i);
    });
    m_bitRate->Bind(wxEVT_CHOICE, [this, bitRate](wxCommandEvent&) { bitRate(ValueAt(m_bitRate)); });
    m_sampleRate->Bind(wxEVT_CHOICE, [this, sampleRate](wxCommandEvent&) { sampleRate(ValueAt(m_sampleRate)); });
    m_mode->Bind(wxEVT_CHOICE, [this, mode](wxCommandEvent&) { mode(ValueAt(m_mode)); });
}
