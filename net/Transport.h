#pragma once
// The one interface through which the connection manager and the call engine
// reach a connection (TCP, ISDN, UDP multicast): coded audio both ways, the
// peer's format, a queue of one received control frame, and a poll.
//
// Transports are created, owned and destroyed through their own classes; the
// interface is never deleted, hence its protected destructor. Every operation
// is called on the call engine's worker thread.
#include <cstdint>

#include "common/Records.h"

class CTransport {
public:
    // State code: & 0xF0 is 16 idle (listening or closed), 32 connecting,
    // 48 connected. Clears the state-changed flag.
    virtual int GetState() = 0;
    virtual int IsStateChanged() = 0;
    // The format this side will send; announced to the peer and used to frame audio.
    virtual void SetSendFormat(const AudioFormat* format) = 0;
    // The peer's format; clears the receive-format-changed flag.
    virtual void GetReceiveFormat(AudioFormat* format) = 0;
    virtual int IsReceiveFormatChanged() = 0;
    // Up to len bytes of received audio; 0 while a control frame is pending or
    // partly received, and when not connected.
    virtual int ReadAudio(uint8_t* dst, int len) = 0;
    virtual void FlushReceive() = 0;
    virtual int GetReceiveAvailable() = 0;
    // Takes the whole block (1) or nothing (0).
    virtual int WriteAudio(const uint8_t* src, int len) = 0;
    virtual void DiscardSendData() = 0;
    virtual int GetSendSpace() = 0;
    // The pending received control frame: type 0 when none.
    virtual int GetControlType() = 0;
    virtual int GetControlLength() = 0;
    virtual void DiscardControl() = 0;
    // 0 without a pending frame; else copies min(len, length) bytes, zero-fills
    // the rest of len, frees the frame and returns 1.
    virtual int ReadControl(void* dst, int len) = 0;
    virtual int SendControl(int type, const void* data, int len) = 0;
    // Periodic work: accept, connect completion, traffic, keep-alive, time-outs.
    virtual void Poll() = 0;

protected:
    ~CTransport() = default;
};
