#include "codecs/mp3dec/Mp3Decoder.h"

#include <cstring>
#include <memory>
#include <new>

#include "codecs/mp3dec/Mp3FrameDecoder.h"
#include "codecs/mp3dec/Mp3InputStream.h"

namespace {

struct StatusText {
    Mp3Status code;
    const char* text;
};

constexpr StatusText kStatusTexts[] = {
    {MP3STATUS_OK, "(Mp3Status) success: no error"},
    {MP3STATUS_E_PARAM, "(Mp3Status) error: at least one parameter is wrong"},
    {MP3STATUS_E_NOMEM, "(Mp3Status) error: not enough memory"},
    {MP3STATUS_E_HANDLE, "(Mp3Status) error: invalid handle"},
    {MP3STATUS_E_IO, "(Mp3Status) error: I/O - generic error"},
    {MP3STATUS_E_IO_OPEN, "(Mp3Status) error: I/O - open failed"},
    {MP3STATUS_E_IO_CLOSE, "(Mp3Status) error: I/O - close failed"},
    {MP3STATUS_E_IO_READ, "(Mp3Status) error: I/O - read error"},
    {MP3STATUS_I_CRC, "(Mp3Status) info: Decoder - CRC error"},
    {MP3STATUS_I_NOMAINDATA, "(Mp3Status) info: Decoder - not enough main data present"},
    {MP3STATUS_E_DECODER, "(Mp3Status) error: Decoder - generic error"},
    {MP3STATUS_E_LAYER, "(Mp3Status) error: Decoder - wrong MPEG layer"},
    {MP3STATUS_E_BUFFER, "(Mp3Status) error: Decoder - buffer is too small"},
    {MP3STATUS_W_SEARCHED, "(Mp3Status) warning: Decoder - sync searched"},
    {MP3STATUS_W_LOST, "(Mp3Status) warning: Decoder - sync lost"},
    {MP3STATUS_W_NEEDDATA, "(Mp3Status) warning: Decoder - sync need data"},
    {MP3STATUS_W_EOF, "(Mp3Status) warning: Decoder - sync eof"},
};

class CMp3Decoder final : public IMp3Decoder {
public:
    CMp3Decoder(int rateShift, int eightBit, int forceMono)
        : m_rateShift(rateShift), m_eightBit(eightBit), m_forceMono(forceMono),
          m_frame(m_input, rateShift, eightBit, forceMono) {}

    bool Init(uint8_t* storage, uint32_t length) {
        if (storage) {
            // The largest power of two that fits the caller's storage.
            uint32_t cap = 2048;
            while (cap * 2 <= length && cap < 65536u) cap *= 2;
            m_input.CreateOver(storage, cap, false);
        } else if (!m_input.Create(8192)) {
            return false;
        }
        if (!m_frame.Ok()) return false;
        Reset();
        return true;
    }

    void Release() override { delete this; }

    void Reset() override {
        m_input.Reset();
        m_endOfStream = false;
        m_frame.Reset(true);
        std::memset(&m_info, 0, sizeof(m_info));
    }

    Mp3Status DecodeFloat(void* output, uint32_t room, uint32_t* produced, uint8_t* ancillary,
                          uint32_t* ancillaryLength) override {
        return Step(output, room, produced, ancillary, ancillaryLength, true);
    }
    Mp3Status Decode(void* output, uint32_t room, uint32_t* produced, uint8_t* ancillary,
                     uint32_t* ancillaryLength) override {
        return Step(output, room, produced, ancillary, ancillaryLength, false);
    }
    const Mp3DecoderInfo* GetInfo() override { return &m_info; }
    void SetSource(Mp3DecoderSource* source) override { m_input.Ring().SetSource(source); }
    uint32_t Feed(const void* data, uint32_t length) override {
        if (!data) return 0;
        return m_input.Ring().Write(static_cast<const uint8_t*>(data), length);
    }
    uint32_t GetFreeSpace() override { return m_input.Ring().FreeBytes(); }
    uint32_t GetBufferedBytes() override { return static_cast<uint32_t>(m_input.Ring().Fill()) / 8; }
    void SetEndOfStream() override { m_input.Ring().SetEndOfInput(true); }
    bool IsEndOfStream() override { return m_endOfStream; }

private:
    Mp3Status Step(void* output, uint32_t room, uint32_t* produced, uint8_t* ancillary, uint32_t* ancillaryLength,
                   bool asFloat) {
        if (produced) *produced = 0;
        Mp3Status status = m_input.Synchronise();
        if (Mp3Succeeded(status)) {
            if (output) status = m_frame.DecodeFrame(output, room, produced, asFloat, ancillary, ancillaryLength);
            FillInfo(status);
        } else if (status == MP3STATUS_W_EOF) {
            m_endOfStream = true;
        } else if (status == MP3STATUS_W_LOST) {
            m_frame.Reset(true);
        }
        return status;
    }

    void FillInfo(Mp3Status status) {
        const Mp3Header& h = m_input.Header();
        m_info.layer = 3;
        m_info.version = h.version;
        m_info.bitRate = h.bitRate;
        m_info.bitRateIndex = h.bitRateIndex;
        m_info.channels = h.channels;
        m_info.sampleRate = h.sampleRate;
        m_info.outChannels = m_forceMono ? 1 : h.channels;
        m_info.outSampleRate = h.sampleRate >> m_rateShift;
        m_info.outBitsPerSample = m_eightBit ? 8 : 16;
        m_info.frameLengthBits = h.frameLengthBits;
        m_info.frameDurationMs = h.durationMs;
        m_info.crcError = status == MP3STATUS_I_CRC ? 1 : 0;
        m_info.noMainData = status == MP3STATUS_I_NOMAINDATA ? 1 : 0;
    }

    int m_rateShift;
    int m_eightBit;
    int m_forceMono;
    Mp3DecoderInfo m_info{};
    CMp3InputStream m_input;
    CMp3FrameDecoder m_frame;
    bool m_endOfStream = false;
};

bool ValidOptions(int32_t rateShift, int32_t eightBit) {
    return rateShift >= 0 && rateShift <= 2 && (eightBit == 0 || eightBit == 1);
}

Mp3Status NewObject(uint8_t* storage, uint32_t length, int32_t rateShift, int32_t eightBit, int32_t forceMono,
                    IMp3Decoder** object) {
    if (!ValidOptions(rateShift, eightBit)) return MP3STATUS_E_PARAM;
    std::unique_ptr<CMp3Decoder> d(new (std::nothrow) CMp3Decoder(rateShift, eightBit, forceMono ? 1 : 0));
    if (!d || !d->Init(storage, length)) return MP3STATUS_E_NOMEM;
    *object = d.release();
    return MP3STATUS_OK;
}

IMp3Decoder* Object(Mp3DecoderHandle handle) {
    if (!handle || std::memcmp(handle->tag, "sir", 4) != 0) return nullptr;
    return handle->object;
}

}  // namespace

const char* Mp3DecoderStatusText(Mp3Status code) {
    for (const auto& s : kStatusTexts)
        if (s.code == code) return s.text;
    return "(Mp3Status) unknown status";
}

Mp3Status Mp3DecoderCreate(Mp3DecoderHandle* handle, int32_t rateShift, int32_t eightBit, int32_t forceMono) {
    if (!handle) return MP3STATUS_E_PARAM;
    *handle = nullptr;
    auto* h = new (std::nothrow) Mp3DecoderHandleRecord{};
    if (!h) return MP3STATUS_E_NOMEM;
    IMp3Decoder* object = nullptr;
    const Mp3Status s = NewObject(nullptr, 0, rateShift, eightBit, forceMono, &object);
    if (s != MP3STATUS_OK) {
        delete h;
        return s;
    }
    std::memcpy(h->tag, "sir", 4);
    h->object = object;
    *handle = h;
    return MP3STATUS_OK;
}

Mp3Status Mp3DecoderDestroy(Mp3DecoderHandle handle) {
    IMp3Decoder* d = Object(handle);
    if (!d) return MP3STATUS_E_HANDLE;
    d->Release();
    std::memset(handle->tag, 0, 4);
    delete handle;
    return MP3STATUS_OK;
}

Mp3Status Mp3DecoderFeed(Mp3DecoderHandle handle, const void* data, uint32_t length, uint32_t* taken) {
    IMp3Decoder* d = Object(handle);
    if (!d) return MP3STATUS_E_HANDLE;
    if (!taken) return MP3STATUS_E_PARAM;
    *taken = d->Feed(data, length);
    return MP3STATUS_OK;
}

Mp3Status Mp3DecoderGetFreeSpace(Mp3DecoderHandle handle, uint32_t* freeBytes) {
    IMp3Decoder* d = Object(handle);
    if (!d) return MP3STATUS_E_HANDLE;
    if (!freeBytes) return MP3STATUS_E_PARAM;
    *freeBytes = d->GetFreeSpace();
    return MP3STATUS_OK;
}

Mp3Status Mp3DecoderDecode(Mp3DecoderHandle handle, void* output, uint32_t room, uint32_t* produced,
                           uint8_t* ancillary, uint32_t* ancillaryLength) {
    IMp3Decoder* d = Object(handle);
    if (!d) return MP3STATUS_E_HANDLE;
    return d->Decode(output, room, produced, ancillary, ancillaryLength);
}

Mp3Status Mp3DecoderCreateOnBuffer(void* storage, uint32_t length, int32_t rateShift, int32_t eightBit,
                                   int32_t forceMono, IMp3Decoder** object) {
    if (!object) return MP3STATUS_E_PARAM;
    *object = nullptr;
    if (!storage || length < 2048) return MP3STATUS_E_BUFFER;
    return NewObject(static_cast<uint8_t*>(storage), length, rateShift, eightBit, forceMono, object);
}

Mp3Status Mp3DecoderCreateObject(int32_t rateShift, int32_t eightBit, int32_t forceMono, IMp3Decoder** object) {
    if (!object) return MP3STATUS_E_PARAM;
    *object = nullptr;
    return NewObject(nullptr, 0, rateShift, eightBit, forceMono, object);
}
