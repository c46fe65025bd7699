#include "platform/exchange/Exchange.h"

#include <algorithm>
#include <cstring>
#include <sstream>
#include <utility>

#include "platform/capi/CapiMessage.h"

namespace {

constexpr int kBytesPerSecond = 8000;
constexpr int kMaxOutstanding = 7;
constexpr int64_t kMaxCatchUpUs = 200000;
constexpr int kMaxApps = 64;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16)) | (static_cast<uint32_t>(p[3]) << 24);
}

// A CAPI message built field by field; the header's length is set by Done.
class MessageWriter {
public:
    MessageWriter(int app, uint8_t command, uint8_t subcommand, uint16_t number) {
        m_bytes = {0, 0, static_cast<uint8_t>(app), static_cast<uint8_t>(app >> 8), command, subcommand,
                   static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8)};
    }
    MessageWriter& Word(uint32_t v) { return Bytes(v, 2); }
    MessageWriter& Dword(uint32_t v) { return Bytes(v, 4); }
    MessageWriter& Qword(uint64_t v) { return Bytes(v, 8); }
    MessageWriter& Empty() { return Bytes(0, 1); }
    MessageWriter& Struct(const std::string& body) {
        m_bytes.push_back(static_cast<uint8_t>(body.size()));
        m_bytes.insert(m_bytes.end(), body.begin(), body.end());
        return *this;
    }
    std::vector<uint8_t> Done() {
        m_bytes[0] = static_cast<uint8_t>(m_bytes.size());
        m_bytes[1] = static_cast<uint8_t>(m_bytes.size() >> 8);
        return std::move(m_bytes);
    }

private:
    MessageWriter& Bytes(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) m_bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
        return *this;
    }
    std::vector<uint8_t> m_bytes;
};

const char* Name(uint8_t command) {
    switch (command) {
    case CAPI_ALERT: return "ALERT";
    case CAPI_CONNECT: return "CONNECT";
    case CAPI_CONNECT_ACTIVE: return "CONNECT_ACTIVE";
    case CAPI_DISCONNECT: return "DISCONNECT";
    case CAPI_LISTEN: return "LISTEN";
    case CAPI_INFO: return "INFO";
    case CAPI_SELECT_B_PROTOCOL: return "SELECT_B_PROTOCOL";
    case CAPI_FACILITY: return "FACILITY";
    case CAPI_CONNECT_B3: return "CONNECT_B3";
    case CAPI_CONNECT_B3_ACTIVE: return "CONNECT_B3_ACTIVE";
    case CAPI_DISCONNECT_B3: return "DISCONNECT_B3";
    case CAPI_DATA_B3: return "DATA_B3";
    case CAPI_RESET_B3: return "RESET_B3";
    case CAPI_CONNECT_B3_T90_ACTIVE: return "CONNECT_B3_T90_ACTIVE";
    case CAPI_MANUFACTURER: return "MANUFACTURER";
    default: return "UNKNOWN";
    }
}

const char* SubName(uint8_t subcommand) {
    switch (subcommand) {
    case CAPI_REQ: return "REQ";
    case CAPI_CONF: return "CONF";
    case CAPI_IND: return "IND";
    case CAPI_RESP: return "RESP";
    default: return "?";
    }
}

// Digits of a party-number structure after its leading type (and, for
// calling numbers, presentation) bytes.
std::string Digits(const uint8_t* s, size_t available, size_t lead) {
    if (available < 1) return std::string();
    const size_t n = std::min<size_t>(s[0], available - 1);
    std::string out;
    for (size_t i = lead; i < n; ++i) {
        const char c = static_cast<char>(s[1 + i]);
        if (c >= '0' && c <= '9') out.push_back(c);
    }
    return out;
}

uint16_t RejectCause(uint16_t reject) {
    switch (reject) {
    case 2: return CAPI_CAUSE_NORMAL_CLEARING;
    case 3: return CAPI_CAUSE_USER_BUSY;
    case 4: return CAPI_CAUSE_NO_CHANNEL;
    case 7: return 0x34D8;  // incompatible destination
    case 8: return 0x349B;  // destination out of order
    default: return CAPI_CAUSE_CALL_REJECTED;
    }
}

}  // namespace

CExchange::CExchange(ExchangeConfig config, SendFn send) : m_config(std::move(config)), m_send(std::move(send)) {
    for (const ExchangeController& c : m_config.controllers) m_channelBusy[c.number].assign(c.channels, false);
}

CExchange::~CExchange() {
    for (auto& call : m_calls) {
        for (Leg& leg : call->legs) CloseCapture(leg);
    }
    if (m_trace) std::fclose(m_trace);
}

void CExchange::SetRecording(const std::string& captureDir, const std::string& tracePath) {
    m_captureDir = captureDir;
    if (m_trace) std::fclose(m_trace);
    m_trace = tracePath.empty() ? nullptr : std::fopen(tracePath.c_str(), "w");
}

const ExchangeController* CExchange::FindController(int number) const {
    for (const ExchangeController& c : m_config.controllers) {
        if (c.number == number) return &c;
    }
    return nullptr;
}

// A dialled number reaches the controller one of whose numbers it ends with.
const ExchangeController* CExchange::Route(const std::string& number) const {
    if (number.empty()) return nullptr;
    for (const ExchangeController& c : m_config.controllers) {
        for (const std::string& msn : c.msns) {
            if (number.size() >= msn.size() && number.compare(number.size() - msn.size(), msn.size(), msn) == 0)
                return &c;
        }
    }
    return nullptr;
}

int CExchange::FreeChannel(int controller) const {
    const auto it = m_channelBusy.find(controller);
    if (it == m_channelBusy.end()) return -1;
    for (size_t i = 0; i < it->second.size(); ++i) {
        if (!it->second[i]) return static_cast<int>(i);
    }
    return -1;
}

uint32_t CExchange::NewPlci(int controller) {
    const uint32_t plci = static_cast<uint32_t>(controller) | ((m_nextPlci & 0xFFFF) << 8);
    m_nextPlci = m_nextPlci % 0xFFFF + 1;
    return plci;
}

CExchange::Leg* CExchange::FindLeg(int app, uint32_t address, Call** call, int* side) {
    const uint32_t plci = address & 0xFFFF;
    for (auto& c : m_calls) {
        for (int s = 0; s < 2; ++s) {
            Leg& leg = c->legs[s];
            if (leg.app == app && leg.plci == plci && !leg.released) {
                *call = c.get();
                *side = s;
                return &leg;
            }
        }
    }
    return nullptr;
}

void CExchange::Trace(int app, bool toApp, const uint8_t* msg, size_t length) {
    if (!m_trace || length < 8) return;
    std::fprintf(m_trace, "app %d %s %s_%s", app, toApp ? "<-" : "->", Name(msg[4]), SubName(msg[5]));
    for (size_t i = 0; i < length; ++i) std::fprintf(m_trace, " %02x", msg[i]);
    std::fputc('\n', m_trace);
    std::fflush(m_trace);
}

void CExchange::TraceStarved(const Call& call, const Leg& leg, const char* what) {
    if (!m_trace) return;
    std::fprintf(m_trace, "starved call %d c%db%d %s underrun %d overrun %d\n", call.id, leg.controller, leg.channel,
                 what, leg.underruns, leg.overruns);
    std::fflush(m_trace);
}

void CExchange::Send(int app, const std::vector<uint8_t>& msg, const uint8_t* data, size_t dataLength) {
    if (!m_apps.count(app)) return;
    Trace(app, true, msg.data(), msg.size());
    std::vector<uint8_t> packet;
    packet.reserve(1 + msg.size() + dataLength);
    packet.push_back('M');
    packet.insert(packet.end(), msg.begin(), msg.end());
    if (data) packet.insert(packet.end(), data, data + dataLength);
    m_send(app, packet);
}

void CExchange::SendInfo(int app, uint8_t command, uint8_t subcommand, uint16_t number, uint32_t adr, uint16_t info) {
    Send(app, MessageWriter(app, command, subcommand, number).Dword(adr).Word(info).Done());
}

void CExchange::SendConnectInd(const Call& call, const Leg& leg) {
    std::string called(1, '\x80');
    called += call.called;
    std::string calling("\x00\x80", 2);
    calling += call.calling;
    MessageWriter w(leg.app, CAPI_CONNECT, CAPI_IND, 0);
    w.Dword(leg.plci).Word(call.cip).Struct(called).Struct(call.calling.empty() ? std::string() : calling);
    w.Empty().Empty().Empty().Empty().Empty().Empty();  // subaddresses, BC, LLC, HLC, additional info
    Send(leg.app, w.Done());
}

void CExchange::SendDisconnect(Leg& leg, uint16_t reason) {
    if (leg.cleared || leg.app == 0) return;
    if (leg.b3) {
        Send(leg.app, MessageWriter(leg.app, CAPI_DISCONNECT_B3, CAPI_IND, 0).Dword(leg.ncci).Word(0).Empty().Done());
        leg.b3 = false;
    }
    Send(leg.app, MessageWriter(leg.app, CAPI_DISCONNECT, CAPI_IND, 0).Dword(leg.plci).Word(reason).Done());
    leg.cleared = true;
    leg.queue.clear();
    if (leg.channel >= 0) {
        m_channelBusy[leg.controller][static_cast<size_t>(leg.channel)] = false;
        leg.channel = -1;
    }
    CloseCapture(leg);
}

int CExchange::Register(uint32_t maxBlocks, uint32_t blockLength) {
    for (int id = 1; id <= kMaxApps; ++id) {
        if (m_apps.count(id)) continue;
        Application a;
        a.maxBlocks = std::clamp<uint32_t>(maxBlocks, 1, kMaxOutstanding);
        a.blockLength = blockLength;
        m_apps[id] = a;
        return id;
    }
    return 0;
}

void CExchange::Release(int app) {
    for (auto& c : m_calls) {
        Call& call = *c;
        call.offers.erase(std::remove_if(call.offers.begin(), call.offers.end(),
                                         [app](const Leg& l) { return l.app == app; }),
                          call.offers.end());
        for (int s = 0; s < 2; ++s) {
            Leg& leg = call.legs[s];
            if (leg.app != app || leg.released) continue;
            if (!leg.cleared) ClearCall(call, s, CAPI_CAUSE_NORMAL_CLEARING, false);
            leg.cleared = leg.released = true;
            if (leg.channel >= 0) m_channelBusy[leg.controller][static_cast<size_t>(leg.channel)] = false;
            leg.channel = -1;
            CloseCapture(leg);
        }
        if (!call.answered && call.offered && call.offers.empty() && !call.legs[0].cleared)
            FailCaller(call, CAPI_CAUSE_NO_ANSWER);
    }
    m_apps.erase(app);
    Sweep();
}

void CExchange::OnMessage(int app, const uint8_t* msg, size_t length, const uint8_t* data, size_t dataLength,
                          int64_t nowUs) {
    if (length < 12 || !m_apps.count(app)) return;
    Trace(app, false, msg, length);
    const uint8_t command = msg[4];
    const uint8_t sub = msg[5];
    const uint16_t number = Le16(msg + 6);
    const uint32_t adr = Le32(msg + 8);
    Advance(nowUs);
    if (sub == CAPI_REQ) {
        switch (command) {
        case CAPI_LISTEN: {
            const int controller = static_cast<int>(adr & 0x7F);
            if (!FindController(controller) || length < 24) {
                SendInfo(app, CAPI_LISTEN, CAPI_CONF, number, adr, CAPI_ILLCONTRPLCINCCI);
                break;
            }
            m_apps[app].listen[controller] = Le32(msg + 16);
            SendInfo(app, CAPI_LISTEN, CAPI_CONF, number, adr, CAPI_NOERROR);
            break;
        }
        case CAPI_CONNECT: ConnectReq(app, number, msg, length, nowUs); break;
        case CAPI_CONNECT_B3: ConnectB3Req(app, number, adr); break;
        case CAPI_DATA_B3:
            if (length >= 22) DataB3Req(app, number, adr, Le16(msg + 18), data, std::min<size_t>(dataLength, Le16(msg + 16)));
            break;
        case CAPI_DISCONNECT_B3: {
            Call* call = nullptr;
            int side = 0;
            Leg* leg = FindLeg(app, adr, &call, &side);
            if (!leg || !leg->b3) {
                SendInfo(app, CAPI_DISCONNECT_B3, CAPI_CONF, number, adr, CAPI_ILLCONTRPLCINCCI);
                break;
            }
            SendInfo(app, CAPI_DISCONNECT_B3, CAPI_CONF, number, adr, CAPI_NOERROR);
            // Transparent B3 ends locally; the far end keeps its B-channel until the call clears.
            leg->b3 = false;
            leg->queue.clear();
            Send(app, MessageWriter(app, CAPI_DISCONNECT_B3, CAPI_IND, 0).Dword(leg->ncci).Word(0).Empty().Done());
            break;
        }
        case CAPI_DISCONNECT: DisconnectReq(app, number, adr); break;
        default:
            SendInfo(app, command, CAPI_CONF, number, adr, CAPI_MESSAGENOTSUPPORTEDINCURRENTSTATE);
            break;
        }
    } else if (sub == CAPI_RESP) {
        Call* call = nullptr;
        int side = 0;
        switch (command) {
        case CAPI_CONNECT: ConnectResp(app, msg, length); break;
        case CAPI_CONNECT_B3: ConnectB3Resp(app, adr, Le16(msg + 12), nowUs); break;
        case CAPI_DATA_B3:
            if (Leg* leg = FindLeg(app, adr, &call, &side); leg && leg->outstanding > 0) --leg->outstanding;
            break;
        case CAPI_DISCONNECT:
            if (Leg* leg = FindLeg(app, adr, &call, &side); leg && leg->cleared) leg->released = true;
            for (auto& c : m_calls) {
                for (Leg& offer : c->offers) {
                    if (offer.app == app && offer.plci == (adr & 0xFFFF) && offer.cleared) offer.released = true;
                }
            }
            Sweep();
            break;
        default: break;  // the other responses only acknowledge
        }
    }
    Advance(nowUs);
}

void CExchange::ConnectReq(int app, uint16_t number, const uint8_t* msg, size_t length, int64_t nowUs) {
    const uint32_t adr = Le32(msg + 8);
    const int controller = static_cast<int>(adr & 0x7F);
    if (!FindController(controller) || length < 15) {
        SendInfo(app, CAPI_CONNECT, CAPI_CONF, number, adr, CAPI_ILLCONTRPLCINCCI);
        return;
    }
    auto call = std::make_unique<Call>();
    call->id = m_nextCallId++;
    call->cip = Le16(msg + 12);
    call->called = Digits(msg + 14, length - 14, 1);
    const size_t callingAt = 14 + 1 + msg[14];
    if (callingAt < length) call->calling = Digits(msg + callingAt, length - callingAt, 2);
    if (call->calling.empty()) {
        const ExchangeController* own = FindController(controller);
        if (!own->msns.empty()) call->calling = own->msns.front();
    }
    Leg& caller = call->legs[0];
    caller.app = app;
    caller.controller = controller;
    caller.plci = NewPlci(controller);
    SendInfo(app, CAPI_CONNECT, CAPI_CONF, number, caller.plci, CAPI_NOERROR);
    Call& c = *call;
    m_calls.push_back(std::move(call));

    caller.channel = FreeChannel(controller);
    if (caller.channel < 0) {
        FailCaller(c, CAPI_CAUSE_NO_CHANNEL);
        return;
    }
    m_channelBusy[controller][static_cast<size_t>(caller.channel)] = true;
    const ExchangeController* target = Route(c.called);
    if (!target) {
        FailCaller(c, CAPI_CAUSE_UNALLOCATED_NUMBER);
        return;
    }
    if (m_busyNumbers.count(c.called) || FreeChannel(target->number) < 0) {
        FailCaller(c, CAPI_CAUSE_USER_BUSY);
        return;
    }
    c.noAnswerDeadlineUs = nowUs + static_cast<int64_t>(m_config.noAnswerMs) * 1000;
    for (auto& [id, a] : m_apps) {
        const auto it = a.listen.find(target->number);
        if (it == a.listen.end()) continue;
        const uint32_t mask = it->second;
        if ((mask & 1u) == 0 && (c.cip > 31 || (mask & (1u << c.cip)) == 0)) continue;
        Leg offer;
        offer.app = id;
        offer.controller = target->number;
        offer.plci = NewPlci(target->number);
        c.offers.push_back(offer);
        c.offered = true;
        SendConnectInd(c, offer);
    }
}

void CExchange::ConnectResp(int app, const uint8_t* msg, size_t length) {
    const uint32_t plci = Le32(msg + 8) & 0xFFFF;
    const uint16_t reject = Le16(msg + 12);
    (void)length;
    for (auto& c : m_calls) {
        Call& call = *c;
        auto it = std::find_if(call.offers.begin(), call.offers.end(),
                               [&](const Leg& l) { return l.app == app && l.plci == plci && !l.cleared; });
        if (it == call.offers.end()) continue;
        if (reject != 0 || call.answered || call.legs[0].cleared) {
            if (reject >= 2) call.refusal = RejectCause(reject);
            call.offers.erase(it);
            if (!call.answered && call.offers.empty() && call.refusal) FailCaller(call, static_cast<uint16_t>(call.refusal));
            return;
        }
        const int channel = FreeChannel(it->controller);
        if (channel < 0) {
            SendDisconnect(*it, CAPI_CAUSE_NO_CHANNEL);
            return;
        }
        Leg callee = *it;
        call.offers.erase(it);
        callee.channel = channel;
        m_channelBusy[callee.controller][static_cast<size_t>(channel)] = true;
        call.legs[1] = callee;
        call.answered = true;
        ClearOffers(call, static_cast<uint16_t>(CAPI_NOTANSWERED));
        for (Leg& leg : call.legs) {
            Send(leg.app, MessageWriter(leg.app, CAPI_CONNECT_ACTIVE, CAPI_IND, 0)
                              .Dword(leg.plci).Empty().Empty().Empty().Done());
        }
        return;
    }
}

void CExchange::ConnectB3Req(int app, uint16_t number, uint32_t plci) {
    Call* call = nullptr;
    int side = 0;
    Leg* leg = FindLeg(app, plci, &call, &side);
    if (!leg || !call->answered || leg->cleared || leg->b3 || leg->b3Requested) {
        SendInfo(app, CAPI_CONNECT_B3, CAPI_CONF, number, plci,
                 leg ? CAPI_MESSAGENOTSUPPORTEDINCURRENTSTATE : CAPI_ILLCONTRPLCINCCI);
        return;
    }
    leg->ncci = leg->plci | 0x10000;
    leg->b3Requested = true;
    SendInfo(app, CAPI_CONNECT_B3, CAPI_CONF, number, leg->ncci, CAPI_NOERROR);
    Leg& far = call->legs[1 - side];
    far.ncci = far.plci | 0x10000;
    Send(far.app, MessageWriter(far.app, CAPI_CONNECT_B3, CAPI_IND, 0).Dword(far.ncci).Empty().Done());
}

void CExchange::ConnectB3Resp(int app, uint32_t ncci, uint16_t reject, int64_t nowUs) {
    Call* call = nullptr;
    int side = 0;
    Leg* leg = FindLeg(app, ncci, &call, &side);
    if (!leg || leg->cleared) return;
    Leg& far = call->legs[1 - side];
    if (!far.b3Requested) return;
    far.b3Requested = false;
    if (reject != 0) {
        Send(far.app, MessageWriter(far.app, CAPI_DISCONNECT_B3, CAPI_IND, 0).Dword(far.ncci).Word(0).Empty().Done());
        return;
    }
    (void)nowUs;
    for (Leg* l : {leg, &far}) {
        l->b3 = true;
        Send(l->app, MessageWriter(l->app, CAPI_CONNECT_B3_ACTIVE, CAPI_IND, 0).Dword(l->ncci).Empty().Done());
    }
    StartB3(*call, nowUs);
}

void CExchange::StartB3(Call& call, int64_t nowUs) {
    for (int s = 0; s < 2; ++s) {
        Leg& leg = call.legs[s];
        leg.nextTickUs = nowUs + static_cast<int64_t>(m_apps[leg.app].blockLength) * 1000000 / kBytesPerSecond;
        if (!m_captureDir.empty() && !leg.capture && leg.channel >= 0) {
            const std::string path = m_captureDir + "/c" + std::to_string(leg.controller) + "b" +
                                     std::to_string(leg.channel) + "-call" + std::to_string(call.id) + ".raw";
            leg.capture = std::fopen(path.c_str(), "wb");
        }
    }
}

void CExchange::DataB3Req(int app, uint16_t number, uint32_t ncci, uint16_t handle, const uint8_t* data, size_t n) {
    Call* call = nullptr;
    int side = 0;
    Leg* leg = FindLeg(app, ncci, &call, &side);
    if (!leg || !leg->b3) {
        Send(app, MessageWriter(app, CAPI_DATA_B3, CAPI_CONF, number).Dword(ncci).Word(handle)
                      .Word(leg ? CAPI_MESSAGENOTSUPPORTEDINCURRENTSTATE : CAPI_ILLCONTRPLCINCCI).Done());
        return;
    }
    if (leg->queue.size() >= m_apps[app].maxBlocks) {
        Send(app, MessageWriter(app, CAPI_DATA_B3, CAPI_CONF, number).Dword(ncci).Word(handle)
                      .Word(CAPI_SENDQUEUEFULL).Done());
        return;
    }
    Pending p;
    p.handle = handle;
    if (data && n) p.bytes.assign(data, data + n);
    leg->queue.push_back(std::move(p));
}

void CExchange::DisconnectReq(int app, uint16_t number, uint32_t plci) {
    for (auto& c : m_calls) {
        for (Leg& offer : c->offers) {
            if (offer.app != app || offer.plci != (plci & 0xFFFF) || offer.cleared) continue;
            SendInfo(app, CAPI_DISCONNECT, CAPI_CONF, number, plci, CAPI_NOERROR);
            SendDisconnect(offer, 0);
            return;
        }
    }
    Call* call = nullptr;
    int side = 0;
    Leg* leg = FindLeg(app, plci, &call, &side);
    if (!leg) {
        SendInfo(app, CAPI_DISCONNECT, CAPI_CONF, number, plci, CAPI_ILLCONTRPLCINCCI);
        return;
    }
    SendInfo(app, CAPI_DISCONNECT, CAPI_CONF, number, plci, CAPI_NOERROR);
    if (leg->cleared) return;  // already clearing: one DISCONNECT_IND per call
    ClearCall(*call, side, CAPI_CAUSE_NORMAL_CLEARING, true);
}

void CExchange::ClearCall(Call& call, int fromSide, uint16_t farReason, bool tellNear) {
    ClearOffers(call, farReason);
    Leg& near = call.legs[fromSide];
    if (tellNear) SendDisconnect(near, 0);
    Leg& far = call.legs[1 - fromSide];
    if (far.app && !far.cleared) SendDisconnect(far, farReason);
}

void CExchange::ClearOffers(Call& call, uint16_t reason) {
    for (Leg& offer : call.offers) SendDisconnect(offer, reason);
    // Offers that were told stay until their DISCONNECT_RESP.
    call.offers.erase(std::remove_if(call.offers.begin(), call.offers.end(),
                                     [this](const Leg& l) { return !m_apps.count(l.app); }),
                      call.offers.end());
}

void CExchange::FailCaller(Call& call, uint16_t reason) {
    ClearOffers(call, CAPI_CAUSE_NORMAL_CLEARING);
    SendDisconnect(call.legs[0], reason);
}

void CExchange::CloseCapture(Leg& leg) {
    if (leg.capture) std::fclose(leg.capture);
    leg.capture = nullptr;
}

// One block of the receiving leg's length: the far end's queued bytes, idle
// fill 0xFF where it has none.
void CExchange::ClockLeg(Call& call, int side) {
    Leg& leg = call.legs[side];
    Leg& far = call.legs[1 - side];
    const size_t n = m_apps[leg.app].blockLength;
    uint8_t block[2048];
    std::memset(block, 0xFF, sizeof block);
    size_t at = 0, filled = 0;
    bool held = false, holdBegan = false;
    while (at < n) {
        if (leg.holdBytes > 0 && leg.holdArmed && leg.holdAfter == 0) {
            // A sender held up on request: fill where its next bytes belong.
            const size_t idle = std::min(n - at, leg.holdBytes);
            holdBegan = holdBegan || !leg.holding;
            leg.holding = leg.holdBytes > idle;
            leg.holdBytes -= idle;
            at += idle;
            held = true;
            continue;
        }
        if (!far.b3 || far.queue.empty()) break;
        Pending& p = far.queue.front();
        // A hold counts its bytes from the start of one of the sender's blocks.
        if (leg.holdBytes > 0 && p.taken == 0) leg.holdArmed = true;
        size_t take = std::min(n - at, p.bytes.size() - p.taken);
        const bool counting = leg.holdBytes > 0 && leg.holdArmed;
        if (counting) take = std::min(take, leg.holdAfter);
        std::memcpy(block + at, p.bytes.data() + p.taken, take);
        at += take;
        filled += take;
        p.taken += take;
        if (counting) leg.holdAfter -= take;
        if (p.taken == p.bytes.size()) {
            Send(far.app, MessageWriter(far.app, CAPI_DATA_B3, CAPI_CONF, 0).Dword(far.ncci).Word(p.handle)
                              .Word(CAPI_NOERROR).Done());
            far.queue.pop_front();
        }
    }
    // A sender that falls behind leaves a stretch of idle fill: one underrun
    // where its bytes give way to fill.
    if (holdBegan || (!held && filled < n && (filled > 0 || leg.lastWasData))) {
        ++leg.underruns;
        ++m_underruns;
        TraceStarved(call, leg, "sender");
    }
    if (n > 0) leg.lastWasData = filled == n;
    if (filled > 0) leg.dataSeen = true;
    if (leg.dataSeen) leg.fillBytes += static_cast<int64_t>(n - filled);
    // The line towards the leg: delay, lost bytes and bit slips on request.
    leg.line.insert(leg.line.end(), block, block + n);
    const size_t lost = std::min(leg.loseBytes, leg.line.size());
    leg.line.erase(leg.line.begin(), leg.line.begin() + static_cast<std::ptrdiff_t>(lost));
    leg.loseBytes -= lost;
    for (size_t i = 0; i < n; ++i) {
        uint8_t b = 0xFF;
        if (leg.line.size() > 0) {
            b = leg.line.front();
            leg.line.pop_front();
        }
        // A B-channel carries each byte's bit 0 first: bits slipped late
        // come from the top of the byte before.
        const unsigned both = (static_cast<unsigned>(b) << 8) | leg.slipCarry;
        leg.slipCarry = b;
        block[i] = static_cast<uint8_t>(both >> (8 - leg.slipBits));
    }
    if (leg.capture) std::fwrite(block, 1, n, leg.capture);
    if (!leg.b3) return;
    if (leg.outstanding >= kMaxOutstanding) {  // lost, as on a real line
        ++leg.overruns;
        ++m_overruns;
        TraceStarved(call, leg, "receiver");
        return;
    }
    ++leg.outstanding;
    const uint16_t handle = leg.nextHandle++;
    Send(leg.app,
         MessageWriter(leg.app, CAPI_DATA_B3, CAPI_IND, 0).Dword(leg.ncci).Dword(0).Word(static_cast<uint32_t>(n))
             .Word(handle).Word(0).Qword(0).Done(),
         block, n);
}

void CExchange::Advance(int64_t nowUs) {
    if (m_startUs < 0) m_startUs = nowUs;
    for (size_t i = 0; i < m_calls.size(); ++i) {
        Call& call = *m_calls[i];
        if (!call.answered && !call.legs[0].cleared && call.noAnswerDeadlineUs && nowUs >= call.noAnswerDeadlineUs) {
            call.noAnswerDeadlineUs = 0;
            FailCaller(call, call.offered ? CAPI_CAUSE_NO_ANSWER : CAPI_CAUSE_NO_USER_RESPONDING);
        }
        if (!call.answered) continue;
        for (int s = 0; s < 2; ++s) {
            Leg& leg = call.legs[s];
            if (leg.cleared || leg.nextTickUs == 0 || !m_apps.count(leg.app)) continue;
            const int64_t period = static_cast<int64_t>(m_apps[leg.app].blockLength) * 1000000 / kBytesPerSecond;
            if (nowUs - leg.nextTickUs > kMaxCatchUpUs) leg.nextTickUs = nowUs;  // the daemon was held up
            while (nowUs >= leg.nextTickUs && !leg.cleared) {
                ClockLeg(call, s);
                leg.nextTickUs += period;
            }
        }
    }
}

int64_t CExchange::NextEventUs(int64_t nowUs) const {
    int64_t next = 50000;
    for (const auto& c : m_calls) {
        if (!c->answered && c->noAnswerDeadlineUs) next = std::min(next, c->noAnswerDeadlineUs - nowUs);
        for (const Leg& leg : c->legs) {
            if (!leg.cleared && leg.nextTickUs) next = std::min(next, leg.nextTickUs - nowUs);
        }
    }
    return std::max<int64_t>(next, 0);
}

void CExchange::Sweep() {
    m_calls.erase(std::remove_if(m_calls.begin(), m_calls.end(),
                                 [this](const std::unique_ptr<Call>& c) {
                                     c->offers.erase(std::remove_if(c->offers.begin(), c->offers.end(),
                                                                    [](const Leg& l) { return l.released; }),
                                                     c->offers.end());
                                     const bool done = (c->legs[0].released || !m_apps.count(c->legs[0].app)) &&
                                                       (c->legs[1].app == 0 || c->legs[1].released ||
                                                        !m_apps.count(c->legs[1].app)) &&
                                                       c->offers.empty();
                                     if (done) {
                                         for (Leg& leg : c->legs) CloseCapture(leg);
                                     }
                                     return done;
                                 }),
                  m_calls.end());
}

CExchange::Leg* CExchange::FindChannel(int controller, int channel) {
    for (auto& c : m_calls) {
        for (Leg& leg : c->legs) {
            if (leg.controller == controller && leg.channel == channel && !leg.cleared) return &leg;
        }
    }
    return nullptr;
}

uint16_t CExchange::Profile(uint32_t controller, uint8_t* out) const {
    std::memset(out, 0, 64);
    const uint16_t count = static_cast<uint16_t>(m_config.controllers.size());
    out[0] = static_cast<uint8_t>(count);
    out[1] = static_cast<uint8_t>(count >> 8);
    if (controller == 0) return CAPI_NOERROR;
    const ExchangeController* c = FindController(static_cast<int>(controller));
    if (!c) return CAPI_ILLCONTRPLCINCCI;
    out[2] = static_cast<uint8_t>(c->channels);
    out[4] = 0x01;   // internal controller
    out[8] = 0x02;   // B1: 64 kbit/s transparent with byte framing
    out[12] = 0x02;  // B2: transparent
    out[16] = 0x01;  // B3: transparent
    return CAPI_NOERROR;
}

std::string CExchange::Query(const std::string& line, int64_t nowUs) {
    Advance(nowUs);
    std::istringstream words(line);
    std::string verb;
    words >> verb;
    if (verb == "active") return std::to_string(ActiveCalls());
    if (verb == "busy" || verb == "free") {
        std::string number;
        if (!(words >> number)) return "error: busy <number>";
        if (verb == "busy") m_busyNumbers.insert(number);
        else m_busyNumbers.erase(number);
        return "ok";
    }
    if (verb == "delay" || verb == "loss" || verb == "slip") {
        int controller = 0, channel = -1, amount = -1;
        if (!(words >> controller >> channel >> amount) || amount < 0) return "error: " + verb + " <controller> <channel> <n>";
        Leg* leg = FindChannel(controller, channel);
        if (!leg) return "error: no call on that channel";
        if (verb == "delay") leg->line.insert(leg->line.begin(), static_cast<size_t>(amount) * kBytesPerSecond / 1000, 0xFF);
        if (verb == "loss") leg->loseBytes += static_cast<size_t>(amount);
        if (verb == "slip") leg->slipBits = (leg->slipBits + amount) % 8;
        return "ok";
    }
    if (verb == "hold") {
        int controller = 0, channel = -1;
        long bytes = -1, after = 0;
        if (!(words >> controller >> channel >> bytes) || bytes <= 0 || (words >> after && after < 0))
            return "error: hold <controller> <channel> <bytes> [<after>]";
        Leg* leg = FindChannel(controller, channel);
        if (!leg) return "error: no call on that channel";
        leg->holdAfter = static_cast<size_t>(after);
        leg->holdBytes = static_cast<size_t>(bytes);
        leg->holdArmed = false;
        leg->holding = false;
        return "ok";
    }
    if (verb == "starved") {
        int controller = 0, channel = -1;
        int underruns = m_underruns, overruns = m_overruns;
        if (words >> controller) {
            if (!(words >> channel)) return "error: starved [<controller> <channel>]";
            const Leg* leg = FindChannel(controller, channel);
            if (!leg) return "error: no call on that channel";
            underruns = leg->underruns;
            overruns = leg->overruns;
        }
        return "underrun " + std::to_string(underruns) + " overrun " + std::to_string(overruns);
    }
    if (verb == "fill") {
        int controller = 0, channel = -1;
        if (!(words >> controller >> channel)) return "error: fill <controller> <channel>";
        const Leg* leg = FindChannel(controller, channel);
        if (!leg) return "error: no call on that channel";
        return std::to_string(leg->fillBytes);
    }
    if (verb == "drop") {
        int controller = 0, channel = -1;
        if (!(words >> controller >> channel)) return "error: drop <controller> <channel>";
        for (auto& c : m_calls) {
            for (int s = 0; s < 2; ++s) {
                const Leg& leg = c->legs[s];
                if (leg.controller == controller && leg.channel == channel && !leg.cleared) {
                    ClearCall(*c, s, 0x34A9, false);  // temporary failure
                    SendDisconnect(c->legs[s], 0x34A9);
                    return "ok";
                }
            }
        }
        return "error: no call on that channel";
    }
    return "error: unknown request";
}
