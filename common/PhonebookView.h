#pragma once
// What the phonebook needs of a dialog's list-view or combo-box control. The
// window layer implements it over the real control; tests use a plain fake.

class IPhonebookListView {
public:
    virtual void DeleteAllItems() = 0;
    // image -1: text only
    virtual void InsertItemAtTop(const char* name, int image) = 0;
    // The text of the item under the selection mark; null when nothing is marked.
    virtual const char* GetSelectionMarkText() = 0;

protected:
    ~IPhonebookListView() = default;
};

class IPhonebookComboBox {
public:
    virtual void ResetContent() = 0;
    virtual void AddString(const char* name) = 0;

protected:
    ~IPhonebookComboBox() = default;
};
