#include "ui/pages/PhonebookPageLogic.h"

#include <cstring>

#include "common/MainWindowMessages.h"
#include "common/Phonebook.h"
#include "common/Translator.h"

namespace {

constexpr int kLabels = 2;

void CopyNumber(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), text.size() < size ? text.size() : size - 1);
}

}  // namespace

CPhonebookPageLogic::CPhonebookPageLogic(int kind, CPhonebookPageView& view, const CTranslator& translator,
                                         CSettings settings)
    : m_traits(PageTraitsOf(kind)), m_view(view), m_translator(translator), m_settings(std::move(settings)) {}

void CPhonebookPageLogic::Start() {
    m_started = true;
    ShowDevices();
    IdleFace();
}

void CPhonebookPageLogic::SetAvailableTransports(int mask) { m_available = (mask & Kind()) != 0; }

std::string CPhonebookPageLogic::SelectionSetting() const {
    switch (Kind()) {
    case TRANSPORT_ISDN: return m_settings.GetISDNSelection();
    case TRANSPORT_MULTICAST: return m_settings.GetUDPSelection();
    default: return m_settings.GetTCPSelection();
    }
}

void CPhonebookPageLogic::SetSelectionSetting(const char* name) const {
    switch (Kind()) {
    case TRANSPORT_ISDN: m_settings.SetISDNSelection(name); break;
    case TRANSPORT_MULTICAST: m_settings.SetUDPSelection(name); break;
    default: m_settings.SetTCPSelection(name); break;
    }
}

PhonebookEntry* CPhonebookPageLogic::Selected() {
    return m_phonebook ? m_phonebook->GetSelectedEntry(&m_view, Kind()) : nullptr;
}

void CPhonebookPageLogic::RefreshList() {
    if (!m_phonebook || !m_started) return;
    m_phonebook->FillListCtrl(&m_view, Kind());
    EnableEditing(false);
    m_view.EnableControl(PageControl::Connect, false);
    m_view.SelectListItem(SelectionSetting(), false);
    OnSelectionChanged();
}

void CPhonebookPageLogic::OnSearchChanged(const std::string& text) {
    if (!text.empty()) m_view.SelectListItem(text, true);
    OnSelectionChanged();
}

void CPhonebookPageLogic::EnableEditing(bool on) {
    m_view.EnableControl(PageControl::Edit, on);
    m_view.EnableControl(PageControl::Copy, on);
    m_view.EnableControl(PageControl::Delete, on);
}

void CPhonebookPageLogic::OnSelectionChanged() {
    if (!m_phonebook) return;
    PhonebookEntry* entry = Selected();
    if (!entry) {
        m_view.ShowSelection({});
        return;
    }
    SetSelectionSetting(entry->name);
    // Signed on purpose: 17 (failed) is no idle state here.
    if (m_callState > CALL_IDLE) return;
    EnableEditing(true);
    m_view.EnableControl(PageControl::Connect, m_available && !m_noInput && !m_noOutput);
    m_view.ShowSelection(SelectionTextsOf(m_translator, Kind(), *entry));
    CheckAutoRedial(*entry);
}

void CPhonebookPageLogic::CheckAutoRedial(const PhonebookEntry& entry) {
    if (!entry.autoReconnect || m_phonebook->FindEntry(entry.reconnectName, entry.reconnectKind)) return;
    const int s = CTranslator::kErrorSection;
    m_view.ShowError(std::string(m_translator.GetSectionText(
                         s, 110, "This destination uses auto-redial, but the selected redial destination does not exist.")) +
                     "\n\n" +
                     m_translator.GetSectionText(
                         s, 111, "The edit dialog will now open to allow you to select the auto-redial destination."));
    OnEdit();
}

void CPhonebookPageLogic::OnDoubleClick() {
    if (m_callState == CALL_IDLE) OnEdit();
}

void CPhonebookPageLogic::OnAdd() {
    if (!m_phonebook) return;
    PhonebookEntry entry;
    if (!m_view.RunDestinationDialog(nullptr, entry)) return;
    m_phonebook->AddEntry(entry);
    m_phonebook->Save();
    SetSelectionSetting(entry.name);
    RefreshList();
}

void CPhonebookPageLogic::OnCopy() {
    if (!m_phonebook) return;
    m_phonebook->CopySelectedEntry(&m_view, Kind());
    m_phonebook->Save();
    RefreshList();
}

void CPhonebookPageLogic::OnEdit() {
    PhonebookEntry* stored = Selected();
    if (!stored) return;
    PhonebookEntry edited;
    if (!m_view.RunDestinationDialog(stored, edited)) return;
    *stored = edited;  // same record, same place in the list
    m_phonebook->MarkModified();
    SetSelectionSetting(stored->name);
    m_phonebook->Save();
    RefreshList();
}

void CPhonebookPageLogic::OnDelete() {
    if (!m_phonebook) return;
    if (!m_view.Confirm(m_translator.GetSectionText(kLabels, 23, "Are you sure you want to delete this destination?")))
        return;
    m_phonebook->DeleteSelectedEntry(&m_view, Kind());
    RefreshList();
}

void CPhonebookPageLogic::OnConnectPressed() {
    if (!m_phonebook) return;
    m_view.EnableControl(PageControl::Connect, false);
    if (m_callState == CALL_IDLE || m_callState == CALL_CLIP_PLAYING || m_callState == CALL_CLIP_PAUSED) {
        const PhonebookEntry* entry = Selected();
        if (!entry) return;  // stays disabled until the next selection change
        m_view.ShowConnectionName(RemoteNameLine(m_translator, entry->name));
        if (Kind() != TRANSPORT_ISDN)
            m_view.ShowConnectionLines(ConnectionLinesOf(m_translator, Kind(), m_available, &entry->connection));
        m_view.SendToMain(WM_CONNECT_REQUEST, 0);
    } else {
        m_view.SendToMain(WM_STOP_REQUEST, 0);
    }
}

void CPhonebookPageLogic::OnSelectDevice(bool input) {
    if (!m_view.RunDeviceDialog(input ? 1 : 0)) return;
    m_view.SendToMain(input ? WM_DEVICES_CHANGED : WM_REINIT_AUDIO, 0);
}

void CPhonebookPageLogic::OnQuickButton(int id, const std::string& number1, const std::string& number2) {
    if (!m_miniIsdn) return;
    if (id == 2023) {
        m_view.SendToMain(WM_STOP_REQUEST, 0);
        return;
    }
    PhonebookEntry e;
    AudioFormat& f = e.format;
    switch (id) {
    case 2024:
        f.codingType = m_settings.GetISDNG711Type();
        f.bitRate = 64000;
        f.sampleRate = 8000;
        f.deviceMode = DEVICEMODE_MONO;
        break;
    case 2025:
        f.codingType = CODING_G722;
        f.bitRate = 64000;
        f.sampleRate = 16000;
        f.deviceMode = DEVICEMODE_MONO;
        break;
    case 2026:
        f.codingType = CODING_MPEG_L2;
        f.bitRate = 128000;
        f.sampleRate = 48000;
        f.deviceMode = DEVICEMODE_JOINT_STEREO;
        CopyNumber(e.connection.isdn.number2, sizeof(e.connection.isdn.number2), number2);
        break;
    default:
        return;
    }
    CopyNumber(e.connection.isdn.number1, sizeof(e.connection.isdn.number1), number1);
    e.connection.kind = TRANSPORT_ISDN;
    m_quickEntry = e;
    m_view.SendToMain(WM_CONNECT_REQUEST, 0);
}

void CPhonebookPageLogic::OnCallState(int state, int kind) {
    m_callState = state;
    if (!m_started) return;
    if (state == CALL_CLIP_PLAYING) {
        m_view.SetMeterActive(true);
        m_view.EnableControl(PageControl::SelectInput, false);
        m_view.EnableControl(PageControl::SelectOutput, false);
        return;
    }
    if (m_available && kind == Kind()) {
        if (state == CALL_IDLE) IdleFace();
        if (state == CALL_CONNECTING || state == CALL_LINK_UP || state == CALL_CONNECTED) ConnectedFace();
        if (state == CALL_CONNECTED) m_view.SetMeterActive(true);
        return;
    }
    IdleFace();
}

void CPhonebookPageLogic::IdleFace() {
    m_view.ShowConnectionName("");
    m_view.ShowConnectionLines(ConnectionLinesOf(m_translator, Kind(), m_available, nullptr));
    m_view.ShowReceiveFormat("");
    m_view.ShowTransmitFormat("");
    m_view.ShowIndicators(0, 0);
    m_view.SetMeterActive(false);
    for (PageControl c : {PageControl::List, PageControl::Search, PageControl::Add, PageControl::SelectInput,
                          PageControl::SelectOutput})
        m_view.EnableControl(c, true);
    m_view.ShowConnectFace(false);
    if (Kind() == TRANSPORT_ISDN) {
        for (PageControl c : {PageControl::QuickPhone, PageControl::QuickG722, PageControl::QuickMp2})
            m_view.EnableControl(c, true);
        m_view.EnableControl(PageControl::QuickHangUp, false);
    }
    RefreshList();
}

void CPhonebookPageLogic::ConnectedFace() {
    for (PageControl c : {PageControl::Add, PageControl::Edit, PageControl::Copy, PageControl::Delete,
                          PageControl::Search, PageControl::List, PageControl::SelectInput, PageControl::SelectOutput})
        m_view.EnableControl(c, false);
    if (Kind() == TRANSPORT_ISDN) {
        for (PageControl c : {PageControl::QuickPhone, PageControl::QuickG722, PageControl::QuickMp2})
            m_view.EnableControl(c, false);
        m_view.EnableControl(PageControl::QuickHangUp, true);
    }
    m_view.ShowConnectFace(true);
    m_view.EnableControl(PageControl::Connect, true);
}

void CPhonebookPageLogic::ShowDevices() {
    const std::string none = m_translator.GetSectionText(kLabels, 10, "No device selected!");
    if (m_started) m_view.ShowDeviceNames(m_noInput ? none : m_inputName, m_noOutput ? none : m_outputName);
}

void CPhonebookPageLogic::SetInputDeviceName(const std::string& name) {
    m_inputName = name;
    m_noInput = name.empty();
    ShowDevices();
    OnSelectionChanged();
}

void CPhonebookPageLogic::SetOutputDeviceName(const std::string& name) {
    m_outputName = name;
    m_noOutput = name.empty();
    ShowDevices();
    OnSelectionChanged();
}

bool CPhonebookPageLogic::GetConnectEntry(PhonebookEntry& out) {
    if (m_miniIsdn) {
        out = m_quickEntry;
        return true;
    }
    const PhonebookEntry* entry = Selected();
    if (!entry) return false;
    out = *entry;
    // One channel dials one number, whatever the entry keeps for two.
    if (Kind() == TRANSPORT_ISDN && out.format.bitRate == 64000)
        std::memset(out.connection.isdn.number2, 0, sizeof(out.connection.isdn.number2));
    return true;
}

void CPhonebookPageLogic::ShowConnection(const ConnectionInfo& info) {
    if (!m_started || (Kind() == TRANSPORT_ISDN && !m_available)) return;
    m_view.ShowConnectionLines(ConnectionLinesOf(m_translator, Kind(), m_available, &info));
}

void CPhonebookPageLogic::ShowRemoteName(const char* name) {
    if (m_started) m_view.ShowConnectionName(RemoteNameLine(m_translator, name));
}
