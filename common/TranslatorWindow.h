#pragma once
// What a translator needs of the dialog it serves and of a menu. The user
// interface implements these over its toolkit; tests implement them with
// plain containers.
#include <cstdint>
#include <string>

#include "platform/WinTypes.h"

class CTranslatorWindow {
public:
    virtual ~CTranslatorWindow() = default;
    // GUI thread for all of these.
    virtual bool SetItemText(int controlId, const char* text) = 0;
    // Index of the new item; negative when the control is missing or refuses.
    virtual int AddComboString(int controlId, const char* text) = 0;
    virtual bool SetComboItemData(int controlId, int index, intptr_t data) = 0;
    // Selects the first item equal to text, searching from the top; -1 if none.
    virtual int SelectComboString(int controlId, const char* text) = 0;
    // Text of the selected item; false without a selection.
    virtual bool GetComboSelection(int controlId, std::string& text) = 0;
    // A modal box; returns the button pressed (IDOK, IDYES, IDNO, ...).
    virtual int MessageBox(const char* text, const char* caption, UINT style) = 0;
};

class CTranslatorMenu {
public:
    virtual ~CTranslatorMenu() = default;
    virtual bool GetMenuString(UINT item, UINT flags, std::string& text) = 0;
    virtual bool ModifyMenu(UINT item, UINT flags, const char* text) = 0;
};
