#pragma once
// One phonebook page without its window, for all three destination kinds:
// the list with its search and selection, add, copy, edit and delete, the
// panels and the Connect/Stop button by call state. It never calls the call
// engine: connections go to the main window as messages. GUI thread only.
#include <string>

#include "common/Records.h"
#include "common/Settings.h"
#include "ui/pages/PageTraits.h"
#include "ui/pages/PhonebookPageView.h"

class CPhonebook;
class CTranslator;

class CPhonebookPageLogic {
public:
    CPhonebookPageLogic(int kind, CPhonebookPageView& view, const CTranslator& translator, CSettings settings = {});

    int Kind() const { return m_traits.kind; }
    const PageTraits& Traits() const { return m_traits; }
    void SetPhonebook(CPhonebook* phonebook) { m_phonebook = phonebook; }
    void SetMiniIsdn(bool on) { m_miniIsdn = on && Kind() == TRANSPORT_ISDN; }
    bool IsMiniIsdn() const { return m_miniIsdn; }
    // The page's window exists: panels may be drawn.
    void Start();

    void SetAvailableTransports(int mask);
    bool IsAvailable() const { return m_available; }
    int CallState() const { return m_callState; }

    void RefreshList();
    void OnSearchChanged(const std::string& text);
    void OnSelectionChanged();
    void OnDoubleClick();
    void OnAdd();
    void OnCopy();
    void OnEdit();
    void OnDelete();
    void OnConnectPressed();
    void OnSelectDevice(bool input);
    // MiniISDN quick buttons: the numbers come from the number request
    // dialog; `id` 2024 telephone, 2025 G.722, 2026 Layer II, 2023 hang up.
    void OnQuickButton(int id, const std::string& number1, const std::string& number2);

    void OnCallState(int state, int kind);
    void SetInputDeviceName(const std::string& name);
    void SetOutputDeviceName(const std::string& name);
    bool GetConnectEntry(PhonebookEntry& out);
    void ShowConnection(const ConnectionInfo& info);
    void ShowRemoteName(const char* name);

private:
    PhonebookEntry* Selected();
    std::string SelectionSetting() const;
    void SetSelectionSetting(const char* name) const;
    void CheckAutoRedial(const PhonebookEntry& entry);
    void IdleFace();
    void ConnectedFace();
    void EnableEditing(bool on);
    void ShowDevices();

    const PageTraits& m_traits;
    CPhonebookPageView& m_view;
    const CTranslator& m_translator;
    CSettings m_settings;
    CPhonebook* m_phonebook = nullptr;
    bool m_started = false;
    bool m_miniIsdn = false;
    int m_callState = CALL_IDLE;
    bool m_available = false;
    bool m_noInput = true;
    bool m_noOutput = true;
    std::string m_inputName;
    std::string m_outputName;
    PhonebookEntry m_quickEntry;
};
