#pragma once
// A window without a window system: whatever is posted to its handle waits
// in its own queue until taken; whatever is sent to it is recorded and
// answered at once on the sender's thread. Tests of the call engine and of
// the remote-control server hand its handle over as "the main window".
#include <functional>
#include <mutex>
#include <vector>

#include "platform/WindowMessages.h"

class CMessageSink : public CMessageTarget {
public:
    CMessageSink();
    ~CMessageSink() override;

    HWND Handle() const { return m_hwnd; }
    // Any one consumer thread.
    bool Take(MSG& out) { return m_queue.PeekMessage(out); }
    bool Wait(MSG& out, uint32_t timeoutMs) { return m_queue.WaitMessage(out, timeoutMs); }
    std::vector<MSG> TakeAll();
    // Messages sent (not posted) so far, in order.
    std::vector<MSG> Sent() const;
    // Answers sent messages; without one they return 0.
    void SetSendHandler(std::function<LRESULT(UINT, WPARAM, LPARAM)> handler);
    // Makes the handle invalid, as when the main window closes.
    void Destroy();

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    CMessageQueue m_queue{true};
    HWND m_hwnd = nullptr;
    mutable std::mutex m_mutex;
    std::vector<MSG> m_sent;
    std::function<LRESULT(UINT, WPARAM, LPARAM)> m_handler;
};
