#pragma once
// The program's file dialog for opening and saving: filters in the
// "Name|pattern|...||" form, an initial name that may carry a folder and a
// wildcard ("Library/*.*"), and the current folder as it was when the dialog
// ends, whatever the operator browsed through.
//
// Threads: GUI thread.
#include <string>
#include <vector>

class wxWindow;

class CExplorerFileDialog {
public:
    CExplorerFileDialog(bool open, const char* defaultExtension, const char* initialName, const char* filter);
    // Several files may be chosen; the names come back through Paths().
    void AllowMultiple() { m_multiple = true; }
    void SetInitialDir(const std::string& folder) { m_initialDir = folder; }
    // 1 (IDOK) with a choice, 2 (IDCANCEL) without.
    int DoModal(wxWindow* parent);
    const std::string& Path() const { return m_paths.front(); }
    const std::vector<std::string>& Paths() const { return m_paths; }

    // "Audio file (*.Wav)|*.Wav|All files (*.*)|*.*||" as the toolkit's wildcard.
    static std::string Wildcard(const std::string& filter);

private:
    bool m_open;
    bool m_multiple = false;
    std::string m_extension;
    std::string m_initialName;
    std::string m_filter;
    std::string m_initialDir;
    std::vector<std::string> m_paths{std::string()};
};
