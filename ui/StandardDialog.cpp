#include "ui/StandardDialog.h"

#include <wx/stattext.h>
#include <wx/window.h>

#include "ui/ColourTriple.h"
#include "ui/HoverButton.h"
#include "ui/ImageButton.h"

CStandardDialog::CStandardDialog(UINT templateId, int section) : CDialog(templateId) {
    if (section > 0) m_translator.SetSection(section);
}

wxStaticText* CStandardDialog::AddText(wxWindow* parent, int id, const wxString& text, int wrapWidth) {
    auto* label = new wxStaticText(parent, id, text);
    label->SetForegroundColour(WxColour(m_colours.otherText));
    if (wrapWidth > 0) label->Wrap(wrapWidth);
    return label;
}

CHoverButton* CStandardDialog::AddButton(wxWindow* parent, int id, const wxString& caption) {
    auto* button = new CHoverButton(parent, id, caption, wxDefaultPosition, wxDefaultSize);
    button->SetColours(m_colours.otherText, m_colours.background, m_colours.face);
    wxSize best = button->GetBestSize();
    best.x = best.x < 110 ? 110 : best.x;
    best.y = best.y < 30 ? 30 : best.y;
    button->SetMinSize(best);
    return button;
}

CImageButton* CStandardDialog::AddImageButton(wxWindow* parent, int id, int kind, const wxString& caption) {
    auto* button = new CImageButton(parent, id, kind, caption, wxDefaultPosition, wxDefaultSize);
    button->SetImageColours(m_colours.otherText, m_colours.face, m_colours.background, 700);
    wxSize best = button->GetBestSize();
    best.x = best.x < 110 ? 110 : best.x;
    best.y = best.y < 30 ? 30 : best.y;
    button->SetMinSize(best);
    return button;
}

void CStandardDialog::PaintBackground(wxWindow& view) { view.SetBackgroundColour(WxColour(m_colours.background)); }

wxString CStandardDialog::Text(int line, const char* defaultText) const {
    return wxString::FromUTF8(m_translator.GetText(line, defaultText));
}
