#pragma once
// What a phonebook page's logic asks of its window: the list (as the
// phonebook fills it), the enabling of its controls, its panels, the
// messages to the main window and the dialogs it opens. The wx page
// implements it; tests use a fake. GUI thread only.
#include <string>

#include "common/PhonebookView.h"
#include "common/Records.h"
#include "platform/WindowMessages.h"
#include "ui/pages/PageTexts.h"

enum class PageControl {
    List,
    Search,
    Add,
    Copy,
    Edit,
    Delete,
    Connect,
    SelectInput,
    SelectOutput,
    QuickPhone,
    QuickG722,
    QuickMp2,
    QuickHangUp,
};

class CPhonebookPageView : public IPhonebookListView {
public:
    // Selects the first item whose name is `text` exactly, or (prefix) begins
    // with it ignoring case, and makes it visible. False when none matches.
    virtual bool SelectListItem(const std::string& text, bool prefix) = 0;
    virtual void EnableControl(PageControl control, bool on) = 0;
    virtual void ShowConnectFace(bool connected) = 0;
    virtual void ShowSelection(const SelectionTexts& texts) = 0;
    virtual void ShowConnectionName(const std::string& text) = 0;
    virtual void ShowConnectionLines(const ConnectionLines& lines) = 0;
    virtual void ShowReceiveFormat(const std::string& text) = 0;
    virtual void ShowTransmitFormat(const std::string& text) = 0;
    virtual void ShowIndicators(int receive, int transmit) = 0;  // 0 off, 16 blinking, 32 on
    virtual void SetMeterActive(bool active) = 0;
    virtual void ShowDeviceNames(const std::string& input, const std::string& output) = 0;

    // SendMessage to the main window, lParam = the page's kind.
    virtual void SendToMain(UINT message, WPARAM wParam) = 0;
    // The page's destination dialog loaded with `entry` (null: a new one);
    // true after OK with the result in `out`.
    virtual bool RunDestinationDialog(const PhonebookEntry* entry, PhonebookEntry& out) = 0;
    // The device selection dialog; direction 1 input, 0 output. True unless cancelled.
    virtual bool RunDeviceDialog(int direction) = 0;
    virtual bool Confirm(const std::string& text) = 0;
    virtual void ShowError(const std::string& text) = 0;

protected:
    ~CPhonebookPageView() = default;
};
