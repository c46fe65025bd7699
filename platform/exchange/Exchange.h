#pragma once
// The simulated ISDN exchange: CAPI 2.0 message sequences for placed and
// answered calls between the applications of its controllers, and each
// B-channel direction clocked at 8000 byte/s. Plain logic: the server feeds
// it packets and the time, and it hands packets back through `send`.
// One thread.
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/exchange/ExchangeConfig.h"

class CExchange {
public:
    using SendFn = std::function<void(int app, const std::vector<uint8_t>& packet)>;

    CExchange(ExchangeConfig config, SendFn send);
    ~CExchange();

    // captureDir: one file of received bytes per controller and B-channel;
    // tracePath: one line per CAPI message. Empty for none.
    void SetRecording(const std::string& captureDir, const std::string& tracePath);

    // 0 when no identifier is free.
    int Register(uint32_t maxBlocks, uint32_t blockLength);
    // The application's calls are cleared; far ends get their disconnects.
    void Release(int app);
    void OnMessage(int app, const uint8_t* msg, size_t length, const uint8_t* data, size_t dataLength, int64_t nowUs);
    // Clocks the B-channels and runs the timers up to now.
    void Advance(int64_t nowUs);
    // Microseconds until the next clock event (bounded).
    int64_t NextEventUs(int64_t nowUs) const;
    // CAPI result word; 64 profile bytes.
    uint16_t Profile(uint32_t controller, uint8_t* out) const;
    // Control line for tests; returns the reply line:
    //   active                         calls not yet cleared
    //   busy <number> / free <number>  calls to the number find it busy (or not)
    //   drop <controller> <channel>    the network clears the call on that channel
    //   delay <controller> <channel> <ms>    the channel's bytes arrive that much later
    //   loss <controller> <channel> <bytes>  that many bytes towards it are lost
    //   slip <controller> <channel> <bits>   its byte framing slips by 1..7 bits
    //   hold <controller> <channel> <bytes> [<after>]  the sender towards that channel falls
    //       behind: <after> bytes into its next B3 block on the line, that many bytes of idle
    //       fill go in place of its bytes, which wait (one underrun, counted as fill)
    //   starved [<controller> <channel>]     "underrun <u> overrun <o>": stretches of idle
    //       fill after the sender's data had started, and blocks lost to a receiver with
    //       too many unanswered; towards that channel's call, or all since the start
    //   fill <controller> <channel>          bytes of idle fill clocked towards that channel
    //       since the sender's data had started
    std::string Query(const std::string& line, int64_t nowUs);
    int ActiveCalls() const { return static_cast<int>(m_calls.size()); }

private:
    struct Pending {
        uint16_t handle = 0;
        std::vector<uint8_t> bytes;
        size_t taken = 0;
    };
    struct Leg {
        int app = 0;
        uint32_t plci = 0;
        uint32_t ncci = 0;
        int controller = 0;
        int channel = -1;
        bool b3 = false;
        bool b3Requested = false;  // CONNECT_B3_REQ seen, waiting for the far end's response
        bool cleared = false;      // DISCONNECT_IND sent
        bool released = false;     // DISCONNECT_RESP taken (or never needed)
        int outstanding = 0;       // DATA_B3_IND without response
        uint16_t nextHandle = 0;
        std::deque<Pending> queue;
        int64_t nextTickUs = 0;
        FILE* capture = nullptr;
        // Faults of the direction towards this leg.
        std::deque<uint8_t> line;  // bytes on their way, behind any delay
        size_t loseBytes = 0;
        int slipBits = 0;
        uint8_t slipCarry = 0xFF;
        // A held-up sender on request: its bytes still to pass from the start of
        // its next block (armed once that has begun), then the fill in their place.
        size_t holdAfter = 0;
        size_t holdBytes = 0;
        bool holdArmed = false;
        bool holding = false;  // its fill has begun
        // Starvation seen on this direction.
        bool lastWasData = false;  // the last byte clocked came from the sender
        bool dataSeen = false;     // a byte from the sender has been clocked
        int64_t fillBytes = 0;     // idle fill clocked since then
        int underruns = 0;
        int overruns = 0;
    };
    struct Call {
        int id = 0;
        uint16_t cip = 0;
        std::string called;
        std::string calling;
        Leg legs[2];  // caller, callee
        std::vector<Leg> offers;
        bool answered = false;
        bool offered = false;
        unsigned refusal = 0;
        int64_t noAnswerDeadlineUs = 0;
    };
    struct Application {
        uint32_t maxBlocks = 7;
        uint32_t blockLength = 0;
        std::map<int, uint32_t> listen;  // controller -> CIP mask
    };

    const ExchangeController* FindController(int number) const;
    const ExchangeController* Route(const std::string& number) const;
    int FreeChannel(int controller) const;
    uint32_t NewPlci(int controller);
    Leg* FindLeg(int app, uint32_t address, Call** call, int* side);

    void Send(int app, const std::vector<uint8_t>& msg, const uint8_t* data = nullptr, size_t dataLength = 0);
    void SendInfo(int app, uint8_t command, uint8_t subcommand, uint16_t number, uint32_t adr, uint16_t info);
    void SendConnectInd(const Call& call, const Leg& leg);
    void SendDisconnect(Leg& leg, uint16_t reason);
    void Trace(int app, bool toApp, const uint8_t* msg, size_t length);
    void TraceStarved(const Call& call, const Leg& leg, const char* what);

    void ConnectReq(int app, uint16_t number, const uint8_t* msg, size_t length, int64_t nowUs);
    void ConnectResp(int app, const uint8_t* msg, size_t length);
    void ConnectB3Req(int app, uint16_t number, uint32_t plci);
    void ConnectB3Resp(int app, uint32_t ncci, uint16_t reject, int64_t nowUs);
    void DataB3Req(int app, uint16_t number, uint32_t ncci, uint16_t handle, const uint8_t* data, size_t n);
    void DisconnectReq(int app, uint16_t number, uint32_t plci);
    void ClearCall(Call& call, int fromSide, uint16_t farReason, bool tellNear);
    void ClearOffers(Call& call, uint16_t reason);
    void FailCaller(Call& call, uint16_t reason);
    void StartB3(Call& call, int64_t nowUs);
    void ClockLeg(Call& call, int side);
    Leg* FindChannel(int controller, int channel);
    void CloseCapture(Leg& leg);
    void Sweep();

    ExchangeConfig m_config;
    SendFn m_send;
    std::map<int, Application> m_apps;
    std::vector<std::unique_ptr<Call>> m_calls;
    std::map<int, std::vector<bool>> m_channelBusy;  // controller -> channel in use
    std::set<std::string> m_busyNumbers;
    int m_nextCallId = 1;
    uint32_t m_nextPlci = 1;
    std::string m_captureDir;
    FILE* m_trace = nullptr;
    int64_t m_startUs = -1;
    int m_underruns = 0;
    int m_overruns = 0;
};
