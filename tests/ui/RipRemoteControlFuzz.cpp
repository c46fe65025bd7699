// The remote-control port as an attacker reaches it: bytes over a real TCP
// connection into the server, its receiving and dispatching, and the main
// window's handling of what it asks for. The input is a sequence of pieces,
// each a length byte and that many bytes sent at once; a length byte of 0xFF
// lets a second and a bit pass instead, so that messages left in pieces time
// out. Whatever the bytes, no destination that no transport could dial may
// reach the call engine, and the server keeps listening.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "QuietMainView.h"
#include "common/Codes.h"
#include "common/Destination.h"
#include "common/MainWindowMessages.h"
#include "common/SharedState.h"
#include "common/Translator.h"
#include "platform/Clock.h"
#include "platform/WinSock.h"
#include "ui/MainDlgLogic.h"
#include "ui/RipRemoteControl.h"

namespace {

// The engine side of the window: it only checks what it is asked to dial.
class CCheckingEngine : public CIdleEngine {
public:
    int GetAvailableTransports() override { return TRANSPORT_TCP | TRANSPORT_ISDN | TRANSPORT_MULTICAST; }
    int Connect(const PhonebookEntry& entry) override {
        if (!IsValidDestination(entry.connection)) {
            std::fprintf(stderr, "an undialable destination reached the engine\n");
            std::abort();
        }
        return 1;
    }
};


// The main window: what the server sends it goes to the window's logic.
class CWindow : public CMessageTarget {
public:
    CWindow() : m_logic(m_engine, m_translator, m_view), m_hwnd(CreateWindowHandle(m_queue, this)) {}
    ~CWindow() override { DestroyWindowHandle(m_hwnd); }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        LRESULT result = 0;
        m_logic.HandleMessage(message, wParam, lParam, result);
        return result;
    }
    HWND Handle() const { return m_hwnd; }
    CMainDlgLogic& Logic() { return m_logic; }

private:
    CCheckingEngine m_engine;
    CTranslator m_translator;
    CQuietMainView m_view;
    CMainDlgLogic m_logic;
    CMessageQueue m_queue{true};
    HWND m_hwnd;
};

struct CStation {
    SharedState state;
    CSimClock clock{1000};
    std::unique_ptr<CWindow> window;
    CRipRemoteControl rip;
    int port = 0;

    CStation() {
        g_sharedState = &state;
        const auto dir = std::filesystem::temp_directory_path() / ("velmora_ripfuzz_" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
        const auto ini = dir / "Velmora.Ini";
        std::ofstream(ini) << "[TCP]\nAnswerAcceptCalls=1\n";
        setenv("VELMORA_SETTINGS_FILE", ini.c_str(), 1);
        window = std::make_unique<CWindow>();
        for (port = 20000 + getpid() % 20000; port < 65000; port += 13) {
            if (rip.Init(window->Handle(), port)) break;
        }
        if (port >= 65000) std::abort();
        rip.SetAvailableTransports(TRANSPORT_TCP | TRANSPORT_ISDN | TRANSPORT_MULTICAST);
        window->Logic().SetRemoteControl(&rip);
        LRESULT r;
        window->Logic().HandleMessage(WM_ENGINE_STATE, 16, 0, r);  // idle: requests are taken
    }
};

CStation& Station() {
    static CStation station;
    return station;
}

// Takes what the server answered, so that it never stalls on a full socket.
void Drain(ws::SOCKET s) {
    uint8_t scratch[4096];
    while (ws::recv(s, scratch, sizeof scratch) > 0) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CStation& station = Station();
    const ws::SOCKET client = ws::socket(ws::SocketKind::Stream);
    if (client == ws::INVALID_SOCKET) return 0;
    if (ws::connect(client, ws::SocketAddress{ws::kAddressLoopback, static_cast<uint16_t>(station.port)}) != 0) {
        std::abort();  // the server stopped listening
    }
    ws::SetNonBlocking(client, true);
    station.rip.Poll();  // accepts
    size_t at = 0;
    while (at < size) {
        const size_t length = data[at++];
        if (length == 0xFF) {
            station.clock.AdvanceMs(1100);
        } else {
            const size_t n = std::min(length, size - at);
            if (n && ws::send(client, data + at, static_cast<int>(n)) < 0) break;
            at += n;
        }
        // Loopback hands the bytes over at once; each poll takes one message at most.
        for (int i = 0, polls = 2 + static_cast<int>(length / 8); i < polls; ++i) {
            station.rip.Poll();
            Drain(client);
        }
    }
    ws::SetLinger(client, true, 0);  // a reset: no port is left waiting, however many inputs run
    ws::closesocket(client);
    for (int i = 0; i < 4; ++i) station.rip.Poll();  // the server notices and listens again
    return 0;
}
