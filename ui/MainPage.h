#pragma once
// What the main window asks of a phonebook page in its tab sheet. The pages
// themselves come with the phonebook; until then the window holds
// placeholder pages that show what reaches them. GUI thread only.
#include <string>

#include "common/Records.h"

class CMainPage {
public:
    virtual ~CMainPage() = default;
    // Destination kind: 32 ISDN, 16 Network / IP, 128 multicast.
    virtual int Kind() const = 0;
    virtual void SetTransports(int mask) = 0;
    virtual void SetState(int state, int kind) = 0;
    // Copies the selected phonebook entry; false without a selection.
    virtual bool CopySelectedEntry(PhonebookEntry& out) = 0;
    virtual void ShowConnection(const ConnectionInfo& info) = 0;
    virtual void ShowReceiveFormat(const std::string& text) = 0;
    virtual void ShowSendFormat(const std::string& text) = 0;
    virtual void ShowRxIndicator(int value) = 0;  // 0 off, 16 waiting, 32 active
    virtual void ShowTxIndicator(int value) = 0;
    virtual void ShowRemoteName(const char* name) = 0;
    // Peak levels (32767 full scale): four values (pair 0 left, right, pair 1
    // left, right) or two for the multicast page.
    virtual void ShowLevels(const int* levels, int count) = 0;
    virtual void SetDeviceNames(const std::string& input, const std::string& output, int inputLineId) = 0;
    virtual void SetInputLevel(int level) = 0;  // 0..100
    virtual void SetPlayLevel(int dB) = 0;
    virtual void RefillList() = 0;
};
