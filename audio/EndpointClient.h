#pragma once
// Owns one stream client of an endpoint. Calls on an absent handle return 0
// without calling, except the block time, adding data and getting data,
// which are always forwarded. Used on the thread that built it.
#include <string>

#include "platform/Auxlet.h"

class CEndpointClient {
public:
    CEndpointClient(int direction, int index) : m_handle(ClientCreate(direction, index)) {}
    ~CEndpointClient() { Release(); }
    CEndpointClient(const CEndpointClient&) = delete;
    CEndpointClient& operator=(const CEndpointClient&) = delete;

    bool IsValid() const { return m_handle != 0; }
    int Open(int blockMs, int bufferCount, int rate, int channels, int modeFlag);
    void Close();
    int Start();
    void Stop();
    void Release();
    int GetBlockTime() const { return ClientGetBlockTime(m_handle); }
    int GetBytesFree() const;
    int GetBytesBuffered() const;
    int AddData(const void* pcm, int length) { return ClientAddData(m_handle, pcm, length); }
    int GetBytesDone() const;
    int GetData(void* buffer, int length) { return ClientGetData(m_handle, buffer, length); }
    std::string GetLastErrorText() const;  // up to 256 bytes; empty without one

private:
    AUXHANDLE m_handle;
};
