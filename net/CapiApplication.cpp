#include "net/CapiApplication.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr int kMessagesPerPass = 10;
constexpr int kProfileBytes = 64;

int Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }

// The digits of a party number after its `lead` type (and presentation)
// bytes, bounded to the structure and to kMaxDigits.
std::string NumberDigits(const uint8_t* s, int lead) {
    std::string out;
    if (!s || s[0] == 0xFF || s[0] <= lead) return out;
    const int n = std::min<int>(s[0] - lead, CCapiApplication::kMaxDigits);
    for (int i = 0; i < n; ++i) {
        const char c = static_cast<char>(s[1 + lead + i]);
        if (c >= '0' && c <= '9') out.push_back(c);
    }
    return out;
}

std::string OnlyDigits(const char* text) {
    std::string out;
    for (int i = 0; text && text[i] && i < CCapiApplication::kMaxDigits; ++i) {
        if (text[i] >= '0' && text[i] <= '9') out.push_back(text[i]);
    }
    return out;
}
}  // namespace

CCapiApplication::CCapiApplication() = default;

CCapiApplication::~CCapiApplication() {
    if (m_applId) m_info = m_loader.Release(m_applId);
    m_loader.Unload();
}

int CCapiApplication::GetControllerChannels(int index) {
    uint8_t profile[kProfileBytes] = {};
    if (m_loader.GetProfile(static_cast<uint32_t>(index + 1), profile) != 0) return 0;
    return Le16(profile + 2);
}

int CCapiApplication::SelectController(int index) {
    uint8_t profile[kProfileBytes] = {};
    if (m_loader.GetProfile(0, profile) != 0) return 0;
    if (Le16(profile) <= index || index < 0) return 0;
    m_controller = index + 1;
    return 1;
}

int CCapiApplication::Register(int blockLength, int prefill) {
    if (blockLength <= 0 || blockLength > 2048) return 0;
    m_blockLength = blockLength;
    m_prefill = prefill;
    m_slotBuffer.assign(static_cast<size_t>(kSlots) * static_cast<size_t>(blockLength), 0);
    m_receive.assign(static_cast<size_t>(4) * static_cast<size_t>(blockLength), 0);
    // A library without the entries every message needs is refused here, so
    // that no missing entry is ever called.
    if (m_loader.Load() != 1 || !m_loader.IsInstalled()) return 0;
    char manufacturer[128];
    m_loader.GetManufacturer(manufacturer);
    uint32_t result = 0;
    const int id = m_loader.Register(2048, 1, kSlots, static_cast<uint32_t>(blockLength), &result);
    if (id <= 0) {
        m_info = static_cast<int>(result);
        return 0;
    }
    m_applId = static_cast<uint32_t>(id);
    SetState(kIdle);
    m_stateChanged = 0;
    return 1;
}

void CCapiApplication::SetCalledNumber(const char* digits) {
    m_calledNumber = OnlyDigits(digits);
    m_calledStruct.assign(1, static_cast<uint8_t>(m_calledNumber.size() + 1));
    m_calledStruct.push_back(0x80);  // type of number and numbering plan unknown
    m_calledStruct.insert(m_calledStruct.end(), m_calledNumber.begin(), m_calledNumber.end());
}

void CCapiApplication::SetOwnNumber(const char* digits) { m_ownNumber = OnlyDigits(digits); }

int CCapiApplication::IsOwnNumber(const std::string& called) const {
    if (m_ownNumber.empty() || called.empty()) return 0;
    const size_t n = std::min(m_ownNumber.size(), called.size());
    return m_ownNumber.compare(m_ownNumber.size() - n, n, called, called.size() - n, n) == 0 ? 1 : 0;
}

int CCapiApplication::Connect(int cip) {
    if (!m_applId) return 0;
    CapiMessage m;
    m_loader.PrepMsgHeader(&m, m_applId, CAPI_CONNECT, CAPI_REQ, 0, static_cast<uint32_t>(m_controller));
    m.CIPValue = static_cast<uint16_t>(cip);
    m.CalledPartyNumber = m_calledStruct.empty() ? nullptr : m_calledStruct.data();
    m.B1protocol = 1;
    m.B2protocol = 1;
    m.B3protocol = 0;
    const int r = m_loader.PutMsg(&m);
    if (r != 0) {
        m_info = r;
        return 0;
    }
    m_cip = cip;
    m_incoming = 0;
    m_nextSequence = 0;
    m_filling = -1;
    m_info = 0;
    return 1;
}

int CCapiApplication::Listen(uint32_t cipMask) {
    if (!m_applId) return 0;
    CapiMessage m;
    m_loader.PrepMsgHeader(&m, m_applId, CAPI_LISTEN, CAPI_REQ, 0, static_cast<uint32_t>(m_controller));
    m.CIPmask = cipMask;
    const int r = m_loader.PutMsg(&m);
    if (r != 0) m_info = r;
    return r == 0 ? 1 : 0;
}

int CCapiApplication::HangUp() {
    CapiMessage m;
    if (m_ncci) {
        m_hangingUp = 1;
        m_loader.PrepMsgHeader(&m, m_applId, CAPI_DISCONNECT_B3, CAPI_REQ, 0, m_ncci);
        m_loader.PutMsg(&m);
    } else if (m_plci) {
        m_hangingUp = 1;
        DisconnectD();
    }
    return 1;
}

// The way to the network is gone: so is any call on it, as on a broken line.
void CCapiApplication::LoseLine() {
    m_info = static_cast<int>(CAPI_LAYER1_ERROR);
    m_ncci = 0;
    m_plci = 0;
    SetState(kIdle);
}

// One DISCONNECT_REQ per call, on the call's own PLCI.
void CCapiApplication::DisconnectD() {
    if (!m_plci || m_disconnectSent) return;
    m_disconnectSent = 1;
    CapiMessage m;
    m_loader.DisconnectReq(&m, m_applId, 0, m_plci);
}

int CCapiApplication::GetState() {
    m_stateChanged = 0;
    return m_state;
}

void CCapiApplication::SetState(int state) {
    if (state == kIdle) {
        m_calledNumber.clear();
        m_calledStruct.clear();
        m_callingNumber.clear();
        for (Slot& s : m_slots) s = Slot();
        m_receiveFill = 0;
        m_nextSequence = 0;
        m_filling = -1;
        m_sendingStarted = 0;
        m_filledWhileStarting = 0;
        m_plci = 0;
        m_ncci = 0;
        m_cip = 0;
        m_resetPending = 0;
        m_hangingUp = 0;
        m_disconnectSent = 0;
    }
    if (state != m_state) {
        m_state = state;
        m_stateChanged = 1;
    }
}

int CCapiApplication::ProcessMessages() {
    if (!m_applId) return 0;
    m_endLoop = 0;
    for (int i = 0; i < kMessagesPerPass; ++i) {
        // A station late to its poll finds more received blocks waiting than
        // its buffer holds: the rest wait, unanswered, until it has been
        // read; answering them would lose them, unseen by the exchange.
        if (m_state == kConnected && m_receiveFill + m_blockLength > static_cast<int>(m_receive.size()))
            return 1;
        CapiMessage m;
        const int r = m_loader.GetMsg(&m, m_applId);
        if (r != 0) {
            if (r == static_cast<int>(CAPI_RECEIVEQUEUEEMPTY)) return 0;
            // Later polls of a lost exchange fail the same way and must not
            // hide the reason of the call it ended before that is taken.
            if (m_state != kIdle) {
                LoseLine();
            } else if (m_info == 0) {
                m_info = r;
            }
            return 0;
        }
        if (m.Subcommand == CAPI_IND) OnIndication(m);
        else if (m.Subcommand == CAPI_CONF) OnConfirmation(m);
        if (m_endLoop) return 0;
    }
    return 1;
}

void CCapiApplication::OnIndication(CapiMessage& m) {
    CapiMessage r;
    switch (m.Command) {
    case CAPI_CONNECT: OnConnectInd(m); break;
    case CAPI_CONNECT_ACTIVE:
        m_loader.ConnectActiveResp(&r, m_applId, m.Messagenumber, m.adr);
        if (m.adr != m_plci) break;
        if (!m_incoming) m_loader.ConnectB3Req(&r, m_applId, 0, m_plci, nullptr);
        SetState(kDConnected);
        break;
    case CAPI_DISCONNECT: {
        // Every indication is answered; only our own call's changes our state.
        m_loader.DisconnectResp(&r, m_applId, m.Messagenumber, m.adr);
        if ((m.adr & 0xFFFF) != (m_plci & 0xFFFF) || m_plci == 0) break;
        if (m.Reason == CAPI_NOTANSWERED) {
            // Another application took the call: ours was never connected.
            m_info = 0;
            if (m_state != kConnected) SetState(kIdle);
            break;
        }
        m_info = m.Reason;
        m_ncci = 0;
        SetState(kIdle);
        break;
    }
    case CAPI_INFO: m_loader.InfoResp(&r, m_applId, m.Messagenumber, m.adr); break;
    case CAPI_CONNECT_B3:
        m_ncci = m.adr;
        m_loader.ConnectB3Resp(&r, m_applId, m.Messagenumber, m_ncci, 0, nullptr);
        SetState(kB3Connecting);
        break;
    case CAPI_CONNECT_B3_ACTIVE:
        m_ncci = m.adr;
        m_loader.ConnectB3ActiveResp(&r, m_applId, m.Messagenumber, m_ncci);
        SetState(kConnected);
        break;
    case CAPI_DISCONNECT_B3:
        m_loader.DisconnectB3Resp(&r, m_applId, m.Messagenumber, m.adr);
        if (m.adr != m_ncci) break;
        m_ncci = 0;
        SetState(kDConnected);
        // The side that placed the call, or hangs up, clears the D-channel.
        if (!m_incoming || m_hangingUp) DisconnectD();
        break;
    case CAPI_DATA_B3: OnDataB3Ind(m); break;
    case CAPI_RESET_B3:
        m_resetPending = 0;
        m_loader.ResetB3Resp(&r, m_applId, m.Messagenumber, m.adr);
        break;
    default: break;
    }
}

void CCapiApplication::OnConnectInd(const CapiMessage& m) {
    CapiMessage r;
    // Busy with a call: the offer is left to other applications.
    if (m_state != kIdle) {
        m_loader.PrepMsgHeader(&r, m_applId, CAPI_CONNECT, CAPI_RESP, m.Messagenumber, m.adr);
        r.Reject = 1;
        m_loader.PutMsg(&r);
        return;
    }
    const std::string called = NumberDigits(m.CalledPartyNumber, 1);
    const std::string calling = NumberDigits(m.CallingPartyNumber, 2);
    m_loader.PrepMsgHeader(&r, m_applId, CAPI_CONNECT, CAPI_RESP, m.Messagenumber, m.adr);
    const bool notOurs = !m_ownNumber.empty() && !called.empty() && !IsOwnNumber(called);
    // The sibling may be answering this very offer already (it is made to
    // both): only a call on it leaves its number to this channel.
    const bool siblings = m_ownNumber.empty() && m_sibling && m_sibling->m_state != kConnected &&
                          m_sibling->IsOwnNumber(called);
    if (notOurs || siblings) {
        r.Reject = 1;  // ignore: not our number, or the free sibling's own
        m_loader.PutMsg(&r);
        return;
    }
    const int cip = m.CIPValue;
    if (cip != 1 && cip != 2 && cip != 4 && cip != 16) {
        r.Reject = 5;
        m_loader.PutMsg(&r);
        return;
    }
    r.Reject = 0;
    r.B1protocol = 1;
    r.B2protocol = 1;
    r.B3protocol = 0;
    if (m_loader.PutMsg(&r) != 0) return;
    m_plci = m.adr;
    m_cip = cip;
    m_calledNumber = called;
    m_callingNumber = calling;
    m_incoming = 1;
    m_nextSequence = 0;
    m_filling = -1;
    m_info = 0;
    SetState(kDConnecting);
}

void CCapiApplication::OnDataB3Ind(const CapiMessage& m) {
    CapiMessage r;
    const uint8_t* data = m.Data64 ? reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(m.Data64))
                                   : reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(m.Data));
    const int n = m.DataLength;
    if (data && n > 0 && static_cast<size_t>(m_receiveFill + n) <= m_receive.size()) {
        std::memcpy(m_receive.data() + m_receiveFill, data, static_cast<size_t>(n));
        m_receiveFill += n;
    }
    m_loader.DataB3Resp(&r, m_applId, m.Messagenumber, m.adr, m.DataHandle);
    if (m_sendingStarted) {
        SendOldestBlock();
    } else {
        if (m_filledWhileStarting > 0) --m_filledWhileStarting;
        m_endLoop = 1;
    }
}

void CCapiApplication::OnConfirmation(const CapiMessage& m) {
    const bool ok = m.Info < 0x100;
    // A refused call or B3 connection is a failure to report; a block or a
    // clearing request refused while the call ends is not.
    if (!ok && (m.Command == CAPI_CONNECT || m.Command == CAPI_CONNECT_B3)) m_info = m.Info;
    switch (m.Command) {
    case CAPI_CONNECT:
        if (ok) {
            m_plci = m.adr;
            m_incoming = 0;
            SetState(kDConnecting);
        } else {
            // The attempt never left idle, yet it has ended: say so, or the
            // transport would wait in dialling for a call that never comes.
            SetState(kIdle);
            m_stateChanged = 1;
        }
        break;
    case CAPI_DISCONNECT:
        // The DISCONNECT_IND ends the call; a refused request leaves nothing to wait for.
        if (!ok && m_state != kIdle && (m.adr & 0xFFFF) == (m_plci & 0xFFFF)) SetState(kIdle);
        break;
    case CAPI_DISCONNECT_B3:
        if (!ok) DisconnectD();
        break;
    case CAPI_CONNECT_B3:
        if (ok) {
            m_ncci = m.adr;
            SetState(kB3Connecting);
        } else {
            DisconnectD();
        }
        break;
    case CAPI_DATA_B3:
        if (m.DataHandle < kSlots) {
            m_slots[m.DataHandle].state = 0;
            m_slots[m.DataHandle].fill = 0;
        }
        break;
    case CAPI_RESET_B3:
        if (ok) m_resetPending = 0;
        break;
    default: break;
    }
}

int CCapiApplication::Send(const uint8_t* data, int n) {
    if (m_state != kConnected || !data || n < 0) return 0;
    while (n > 0) {
        if (m_filling < 0) {
            for (int i = 0; i < kSlots && m_filling < 0; ++i) {
                if (m_slots[i].state == 10) m_filling = i;
            }
            for (int i = 0; i < kSlots && m_filling < 0; ++i) {
                if (m_slots[i].state == 0) m_filling = i;
            }
            if (m_filling < 0) return 0;
        }
        Slot& s = m_slots[m_filling];
        s.state = 10;
        const int take = std::min(n, m_blockLength - s.fill);
        std::memcpy(SlotData(m_filling) + s.fill, data, static_cast<size_t>(take));
        s.fill += take;
        data += take;
        n -= take;
        if (s.fill == m_blockLength) {
            s.state = 20;
            s.sequence = m_nextSequence++;
            m_filling = -1;
            if (!m_sendingStarted) {
                ++m_filledWhileStarting;
                if (m_filledWhileStarting < m_prefill) SendOldestBlock();
                else m_sendingStarted = 1;
            }
        }
    }
    return 1;
}

int CCapiApplication::SendOldestBlock() {
    int oldest = -1;
    for (int i = 0; i < kSlots; ++i) {
        if (m_slots[i].state != 20) continue;
        if (oldest < 0 || m_slots[i].sequence <= m_slots[oldest].sequence) oldest = i;
    }
    if (oldest < 0) {
        m_sendingStarted = 0;
        m_filledWhileStarting = 0;
        return 0;
    }
    CapiMessage m;
    m_loader.PrepMsgHeader(&m, m_applId, CAPI_DATA_B3, CAPI_REQ, 0, m_ncci);
    m.Data64 = reinterpret_cast<uintptr_t>(SlotData(oldest));
    m.DataLength = static_cast<uint16_t>(m_slots[oldest].fill);
    m.DataHandle = static_cast<uint16_t>(oldest);
    m.Flags = 0;
    const int r = m_loader.PutMsg(&m);
    if (r == static_cast<int>(CAPI_MSGOSRESOURCEERR)) {
        LoseLine();
        return 0;
    }
    if (r != 0) {
        m_info = r;
        return 0;
    }
    m_slots[oldest].state = 21;
    return 1;
}

int CCapiApplication::GetSendSpace() const {
    if (m_state != kConnected) return 0;
    int used = 0;
    for (const Slot& s : m_slots) used += s.fill;
    return std::max(0, m_window * m_blockLength - used);
}

int CCapiApplication::Read(uint8_t* dst, int n) {
    const int take = std::max(0, std::min(n, m_receiveFill));
    if (take == 0 || !dst) return 0;
    std::memcpy(dst, m_receive.data(), static_cast<size_t>(take));
    std::memmove(m_receive.data(), m_receive.data() + take, static_cast<size_t>(m_receiveFill - take));
    m_receiveFill -= take;
    return take;
}

int CCapiApplication::SetWindow(int value) {
    if (value < 0) {
        m_window = kSlots;
        return 0;
    }
    if (value >= 20 && m_blockLength > 0) value = (value + m_blockLength - 1) / m_blockLength;
    int window = value + ((m_channelMode == 0 || m_prefill > 4) ? 2 : 1);
    m_window = std::min(window, static_cast<int>(kSlots));
    return m_window;
}
