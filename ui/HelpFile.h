#pragma once
// Help "Help..." (F1): the help file "Velmora Transvoria.chm" of the current
// folder, opened with whatever program the desktop uses for it. Without the
// file, or without a program for it, the operator is told which and where,
// rather than nothing happening. Plain logic; the opener is the view's.
#include <functional>
#include <string>

class CHelpFile {
public:
    static constexpr char kFileName[] = "Velmora Transvoria.chm";

    enum Outcome { kOpened, kMissing, kNoViewer };

    // Opens the file at a path; false when nothing could open it.
    using Opener = std::function<bool(const std::string& path)>;

    explicit CHelpFile(std::string folder) : m_folder(std::move(folder)) {}

    std::string Path() const;
    Outcome Open(const Opener& opener) const;
    // What the operator reads for an outcome other than kOpened.
    std::string Explain(Outcome outcome) const;

private:
    std::string m_folder;
};
