#pragma once
// The bandwidth warning without a window: its figures as texts, the
// operator's or the remote control's answer, and the 30 s timeout. Plain
// logic under CBandwidthDlg. GUI thread.
#include <string>

class CBandwidthLogic {
public:
    enum Answer { kNone, kContinue, kTestAgain, kDisconnect };
    static constexpr unsigned kTimeoutMs = 30000;
    static constexpr unsigned kPollMs = 200;

    void SetFigures(int limit, int receive, int send) {
        m_limit = limit;
        m_receive = receive;
        m_send = send;
    }
    int Limit() const { return m_limit; }
    // What is reported to a remote-control client: the smaller rate.
    int Measured() const { return m_receive < m_send ? m_receive : m_send; }
    // "140 kbps (incl protocol overhead)".
    std::string NeedText(const std::string& overhead) const;
    // "RX: 140 kbps, TX: 96 kbps".
    std::string ProvidedText() const;
    // A remote-control answer: 0 none, 16 disconnect, 32 continue, else test again.
    static Answer FromRemote(int code);

private:
    int m_limit = 0, m_receive = 0, m_send = 0;
};
