#pragma once
// Opens the destination dialog of a page's kind with the page's colours.
// GUI thread only.
#include "common/Records.h"

class wxWindow;
class CPhonebook;
struct PageTraits;

bool RunDestinationDialogFor(wxWindow* parent, int kind, CPhonebook* phonebook, const PhonebookEntry* entry,
                             const PageTraits& traits, PhonebookEntry& out);
