#include "platform/MessageSink.h"

CMessageSink::CMessageSink() : m_hwnd(CreateWindowHandle(m_queue, this)) {}

CMessageSink::~CMessageSink() { Destroy(); }

std::vector<MSG> CMessageSink::TakeAll() {
    std::vector<MSG> all;
    MSG msg;
    while (m_queue.PeekMessage(msg)) all.push_back(msg);
    return all;
}

std::vector<MSG> CMessageSink::Sent() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sent;
}

void CMessageSink::SetSendHandler(std::function<LRESULT(UINT, WPARAM, LPARAM)> handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
}

void CMessageSink::Destroy() {
    if (m_hwnd) DestroyWindowHandle(m_hwnd);
}

LRESULT CMessageSink::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    std::function<LRESULT(UINT, WPARAM, LPARAM)> handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        MSG msg;
        msg.hwnd = m_hwnd;
        msg.message = message;
        msg.wParam = wParam;
        msg.lParam = lParam;
        m_sent.push_back(msg);
        handler = m_handler;
    }
    return handler ? handler(message, wParam, lParam) : 0;
}
