#pragma once
// Two stations in one process: each a call engine with its own settings
// file, a message sink standing in for its main window and the tone audio
// stand-in. They call each other over loopback TCP.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "call/CallEngine.h"
#include "call/fakes/ToneAudio.h"
#include "common/MainWindowMessages.h"
#include "common/Settings.h"
#include "platform/MessageSink.h"
#include "support/FreePorts.h"
#include "support/TempDir.h"

// Ports of its own for each test process (cases run as separate processes,
// many at once): offsets 0 to 3.
inline int TestPort(int offset) { return FreeTestPort(offset); }

struct CStation {
    CStation(const CTempDir& dir, const std::string& name, int listenPort)
        : settingsPath(dir.File(name + ".ini")), settings(settingsPath), tone(std::make_shared<CToneStation>()) {
        settings.WriteInt("TCP", "PortNumber", listenPort);
        settings.WriteInt("TCP", "AnswerAcceptCalls", 1);
        settings.WriteString("Main", "IDString", name.c_str());
        port = listenPort;
    }
    ~CStation() { engine.reset(); }

    // On the tone stand-in, or, with a factory, on that audio engine.
    int Start(CallAudioFactory audio = {}) {
        engine = std::make_unique<CCallEngine>(audio ? audio : CToneAudio::Factory(tone), settings);
        if (!engine->Start("Velmora", 1)) return 0;
        return engine->SetMainWindow(sink.Handle());
    }

    // Takes posted messages until one matches (or the time is up); every
    // message taken is kept in `log`.
    bool WaitFor(UINT message, int wParam, uint32_t timeoutMs) {
        const uint32_t start = timeGetTime();
        for (;;) {
            MSG m;
            const uint32_t spent = timeGetTime() - start;
            if (spent >= timeoutMs) return false;
            if (!sink.Wait(m, timeoutMs - spent)) return false;
            log.push_back(m);
            if (m.message == message && (wParam < 0 || static_cast<int>(m.wParam) == wParam)) return true;
        }
    }
    bool WaitState(int state, uint32_t timeoutMs = 5000) { return WaitFor(WM_ENGINE_STATE, state, timeoutMs); }
    void Drain() {
        MSG m;
        while (sink.Take(m)) log.push_back(m);
    }
    std::string Dump() const {
        std::string out;
        for (const MSG& m : log)
            out += std::to_string(m.message - WM_USER) + ":" + std::to_string(m.wParam) + ":" +
                   std::to_string(m.lParam) + " ";
        return out;
    }
    std::vector<int> States() const {
        std::vector<int> s;
        for (const MSG& m : log)
            if (m.message == WM_ENGINE_STATE) s.push_back(static_cast<int>(m.wParam));
        return s;
    }
    int Count(UINT message, int wParam = -1) const {
        int n = 0;
        for (const MSG& m : log)
            if (m.message == message && (wParam < 0 || static_cast<int>(m.wParam) == wParam)) ++n;
        return n;
    }

    std::string settingsPath;
    CSettings settings;
    std::shared_ptr<CToneStation> tone;
    CMessageSink sink;
    std::unique_ptr<CCallEngine> engine;
    std::vector<MSG> log;
    int port = 0;
};

inline PhonebookEntry TcpEntry(int port, int codingType, int sampleRate, int mode) {
    PhonebookEntry e;
    e.connection.kind = TRANSPORT_TCP;
    std::snprintf(e.connection.address, sizeof e.connection.address, "127.0.0.1");
    e.connection.port = port;
    e.format.codingType = codingType;
    e.format.sampleRate = sampleRate;
    e.format.deviceMode = mode;
    e.format.bitRate = sampleRate * 16 * (mode == DEVICEMODE_MONO ? 1 : 2);
    return e;
}

// Studio A (the caller, default tone) and Studio B (440 Hz at quarter scale)
// in one folder, each listening on a port of this test process.
inline void MakeTwoStations(const CTempDir& dir, std::unique_ptr<CStation>& a, std::unique_ptr<CStation>& b) {
    setenv("VELMORA_REGISTRY_FILE", dir.File("registry").c_str(), 1);
    a = std::make_unique<CStation>(dir, "Studio A", TestPort(0));
    b = std::make_unique<CStation>(dir, "Studio B", TestPort(1));
    b->tone->toneHz = 440.0;
    b->tone->toneLevel = 0.25;
}

// Waits until `tone` has played `ms` of audio (since the call or its last
// Clear), or a generous bound passes. Audio arrives at its own pace: this is
// the event a fixed sleep would only hope for.
inline bool WaitPlayed(CToneStation& tone, uint32_t ms, uint32_t boundMs = 30000) {
    const size_t want = static_cast<size_t>(ms) * CToneStation::kDeviceRate / 1000;
    std::unique_lock<std::mutex> g(tone.lock);
    return tone.playedMore.wait_for(g, std::chrono::milliseconds(boundMs), [&] {
        return tone.playedChannels > 0 && tone.played.size() / static_cast<size_t>(tone.playedChannels) >= want;
    });
}

// A calls B; both decode the other's format; then the call runs until each
// side has played `ms` of the other's audio (the tests measure what it
// carried meanwhile). The microphones keep real time, so at least `ms` of it
// has passed too.
inline void CallBothWays(CStation& a, CStation& b, const PhonebookEntry& entry, uint32_t ms) {
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(b.Start());
    ASSERT_TRUE(a.WaitState(16));
    ASSERT_TRUE(b.WaitState(16));
    ASSERT_EQ(a.engine->GetAvailableTransports(), static_cast<uint32_t>(TRANSPORT_TCP | TRANSPORT_MULTICAST));
    ASSERT_TRUE(a.engine->Connect(entry));
    ASSERT_TRUE(a.WaitState(50)) << a.Dump();
    ASSERT_TRUE(b.WaitState(50)) << b.Dump();
    ASSERT_TRUE(b.WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 3000));
    ASSERT_TRUE(a.WaitFor(WM_ENGINE_DECODER_FORMAT, 0, 3000));
    ASSERT_TRUE(WaitPlayed(*b.tone, ms)) << "the answerer heard too little of the call";
    ASSERT_TRUE(WaitPlayed(*a.tone, ms)) << "the caller heard too little of the call";
}
