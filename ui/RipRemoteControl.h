#pragma once
// The main window's remote-control server: CRIP behind the interface the
// window's logic talks to. GUI thread only.
#include "call/RIP.h"
#include "ui/MainEngine.h"

class CRipRemoteControl : public CRemoteControl {
public:
    int Init(HWND window, int port) override { return m_rip.Init(window, port); }
    void Poll() override { m_rip.Poll(); }
    void SendState(int state) override { m_rip.SendState(state); }
    void SetAvailableTransports(int mask) override { m_rip.SetAvailableTransports(static_cast<uint32_t>(mask)); }
    void SetConnectionInfo(const ConnectionInfo& info) override { m_rip.SetConnectionInfo(info); }
    void SetRemoteIdentity(const StationIdentity& identity) override { m_rip.SetRemoteIdentity(identity); }
    void SetEncoderFormat(const AudioFormat& format) override { m_rip.SetEncoderFormat(format); }
    void SetDecoderFormat(const AudioFormat& format) override { m_rip.SetDecoderFormat(format); }
    void SendConnectionError(int kind, int code, const char* text) override {
        m_rip.SendConnectionError(static_cast<uint32_t>(kind), static_cast<uint32_t>(code), text);
    }
    void RefuseRequest(int command, int reason) override {
        m_rip.SendMessageError(static_cast<uint32_t>(command), static_cast<uint32_t>(reason));
    }
    void GetRequestedDestination(ConnectionInfo& out) override { m_rip.GetRequestedDestination(&out); }
    void GetRequestedFormat(AudioFormat& out) override { m_rip.GetRequestedFormat(&out); }
    void SendBandwidthInfo(int limit, int measured) override {
        m_rip.SendBandwidthInfo(17, static_cast<uint32_t>(limit), static_cast<uint32_t>(measured));
    }
    int PollBandwidthAnswer() override { return m_rip.PollBandwidthAnswer(); }

private:
    CRIP m_rip;
};
