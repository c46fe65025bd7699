#include "ui/AboutDlg.h"

#include <wx/hyperlink.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/toplevel.h>

#include "ui/HoverButton.h"
#include "ui/Resources.h"

void CAboutDlg::BuildView(wxTopLevelWindow& view) {
    view.SetTitle(kProductName);
    PaintBackground(view);
    auto* top = new wxBoxSizer(wxVERTICAL);
    auto* name = AddText(&view, wxID_ANY, kProductName, 0);
    name->SetFont(name->GetFont().Bold().Scaled(1.6f));
    top->Add(name, 0, wxALL, 16);
    top->Add(AddText(&view, wxID_ANY, "Live broadcast-quality audio between studios, over IP, multicast and ISDN.", 380), 0,
             wxLEFT | wxRIGHT, 16);
    auto* grid = new wxFlexGridSizer(2, 8, 12);
    grid->Add(AddText(&view, wxID_ANY, "Version:", 0));
    grid->Add(AddText(&view, 1103, wxString::Format("%s (%s)", kVersionText, kBuildDate), 0));
    grid->Add(AddText(&view, wxID_ANY, "Our website:", 0));
    auto* link = new wxHyperlinkCtrl(&view, 1102, kMakerAddress, wxString("https://") + kMakerAddress);
    grid->Add(link);
    top->Add(grid, 0, wxALL, 16);
    top->Add(AddText(&view, wxID_ANY, "Copyright (C) the Velmora developers. All rights reserved.", 380), 0,
             wxLEFT | wxRIGHT, 16);
    auto* ok = AddButton(&view, wxID_OK, "OK");
    ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnOK(); });
    top->Add(ok, 0, wxALIGN_RIGHT | wxALL, 16);
    view.SetSizerAndFit(top);
    view.CentreOnParent();
}
