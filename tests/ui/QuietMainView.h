#pragma once
// A main-window view that shows nothing: for tests that drive the window's
// logic for what it does beyond the screen.
#include <string>

#include "ui/MainDlgLogic.h"

class CQuietMainView : public CMainDlgView {
public:
    explicit CQuietMainView(BandwidthAnswer bandwidthAnswer = kBandwidthDisconnect)
        : m_bandwidthAnswer(bandwidthAnswer) {}
    void ShowStatusLine(const std::string&) override {}
    void ShowLinkRates(const std::string&) override {}
    void ShowCpuLoad(const std::string&) override {}
    void ShowClipTimes(const std::string&, const std::string&) override {}
    void ShowErrorBox(ErrorKind, const std::string&) override {}
    void AcceptDroppedFiles(bool) override {}
    void SetGuiPriority(bool) override {}
    void ShowMenus(const MainMenuState&) override {}
    void ShowPlayerControls(const PlayerControls&) override {}
    void EnableTabs(bool) override {}
    void SelectPage(int) override {}
    void ShowLibraryPanel(bool) override {}
    void ArmTimer(UINT_PTR, UINT) override {}
    void StopTimer(UINT_PTR) override {}
    void CloseSplash() override {}
    CMainPage* Page(int) override { return nullptr; }
    bool FindPhonebookEntry(const char*, int, PhonebookEntry&) override { return false; }
    bool LibraryHasSelection() override { return false; }
    std::string SelectedClipPath() override { return {}; }
    void LibrarySelectNext() override {}
    BandwidthAnswer RunBandwidthDialog(int, int, int) override { return m_bandwidthAnswer; }

private:
    BandwidthAnswer m_bandwidthAnswer;
};
