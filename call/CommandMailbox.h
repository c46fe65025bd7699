#pragma once
// The call engine's one-slot mailbox: the main window's thread places a
// command code, the worker takes it when it has done it. 0 = empty.
#include <atomic>
#include <cstdint>

class CCommandMailbox {
public:
    // Main window thread: 1 once the code is in the slot; 0 when the slot
    // stayed busy for timeoutMs or `stopped` says no worker will empty it.
    int Post(int code, uint32_t timeoutMs, const std::atomic<int>& stopped);
    // Worker: the code waiting, or 0.
    int Peek() const { return m_slot.load(std::memory_order_acquire); }
    // Worker: the command is done; the slot takes the next.
    void Done() { m_slot.store(0, std::memory_order_release); }
    // Before a worker runs.
    void Reset() { m_slot.store(0, std::memory_order_relaxed); }

private:
    std::atomic<int> m_slot{0};
};
