#include "ui/destinations/DestinationDialogs.h"

#include "common/Codes.h"
#include "ui/destinations/IsdnDestinationDlg.h"
#include "ui/destinations/MulticastDestinationDlg.h"
#include "ui/destinations/NetworkDestinationDlg.h"
#include "ui/pages/PageTraits.h"

bool RunDestinationDialogFor(wxWindow* parent, int kind, CPhonebook* phonebook, const PhonebookEntry* entry,
                             const PageTraits& traits, PhonebookEntry& out) {
    const DialogColours colours = DialogColoursOf(traits);
    auto run = [&](CDestinationDlg& dlg) {
        dlg.SetColours(colours);
        dlg.Load(phonebook, entry);
        if (dlg.Run() != wxID_OK) return false;
        dlg.GetEntry(out);
        return true;
    };
    if (kind == TRANSPORT_ISDN) {
        CIsdnDestinationDlg dlg(parent);
        return run(dlg);
    }
    if (kind == TRANSPORT_MULTICAST) {
        CMulticastDestinationDlg dlg(parent);
        return run(dlg);
    }
    CNetworkDestinationDlg dlg(parent);
    return run(dlg);
}
