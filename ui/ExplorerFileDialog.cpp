#include "ui/ExplorerFileDialog.h"

#include <wx/filedlg.h>

#include <filesystem>

CExplorerFileDialog::CExplorerFileDialog(bool open, const char* defaultExtension, const char* initialName,
                                         const char* filter)
    : m_open(open),
      m_extension(defaultExtension ? defaultExtension : ""),
      m_initialName(initialName ? initialName : ""),
      m_filter(filter ? filter : "") {}

std::string CExplorerFileDialog::Wildcard(const std::string& filter) {
    std::string wildcard = filter;
    while (!wildcard.empty() && wildcard.back() == '|') wildcard.pop_back();
    return wildcard;
}

int CExplorerFileDialog::DoModal(wxWindow* parent) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path before = fs::current_path(ec);
    // A name with a folder opens in that folder; a wildcard is no name.
    const fs::path initial(m_initialName);
    std::string folder = m_initialDir.empty() ? initial.parent_path().string() : m_initialDir;
    std::string name = initial.filename().string();
    if (name.find_first_of("*?") != std::string::npos) name.clear();
    long style = m_open ? wxFD_OPEN : wxFD_SAVE | wxFD_OVERWRITE_PROMPT;
    if (m_multiple) style |= wxFD_MULTIPLE;
    wxFileDialog dialog(parent, m_open ? "Open" : "Save As", wxString::FromUTF8(folder), wxString::FromUTF8(name),
                        wxString::FromUTF8(Wildcard(m_filter)), style);
    const bool chosen = dialog.ShowModal() == wxID_OK;
    if (!before.empty()) fs::current_path(before, ec);
    if (!chosen) return 2;
    m_paths.clear();
    wxArrayString paths;
    if (m_multiple) {
        dialog.GetPaths(paths);
    } else {
        paths.Add(dialog.GetPath());
    }
    for (const wxString& p : paths) {
        std::string path = p.utf8_string();
        if (!m_open && !m_extension.empty() && fs::path(path).extension().empty()) path += "." + m_extension;
        m_paths.push_back(path);
    }
    if (m_paths.empty()) m_paths.emplace_back();
    return 1;
}
