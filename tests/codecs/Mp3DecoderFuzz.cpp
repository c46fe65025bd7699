// Fuzz target for the Layer III decoder and the stream information scan.
// The first byte picks the feed chunk size and the options; the rest is the stream.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/mp3dec/Mp3Decoder.h"
#include "codecs/mp3dec/Mp3StreamInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    const uint32_t chunk = 64u + (mode & 0x0Fu) * 97u;
    Mp3DecoderHandle h = nullptr;
    if (Mp3DecoderCreate(&h, (mode >> 4) % 3, (mode >> 6) & 1, (mode >> 7) & 1) != MP3STATUS_OK) return 0;
    std::vector<uint8_t> out(4608 * 2);
    std::vector<uint8_t> ancillary(2049);
    size_t pos = 0;
    bool eof = false;
    // Every step either consumes input or ends; the bound only guards against a stall bug.
    for (size_t step = 0; step < size * 8 + 64; ++step) {
        uint32_t freeBytes = 0;
        Mp3DecoderGetFreeSpace(h, &freeBytes);
        if (pos < size) {
            uint32_t n = static_cast<uint32_t>(size - pos);
            if (n > chunk) n = chunk;
            if (n > freeBytes) n = freeBytes;
            uint32_t taken = 0;
            Mp3DecoderFeed(h, data + pos, n, &taken);
            pos += taken;
        } else if (!eof) {
            h->object->SetEndOfStream();
            eof = true;
        }
        uint32_t produced = 0;
        uint32_t ancLen = 0;
        const bool useFloat = (step & 7) == 3;
        const Mp3Status s = useFloat ? h->object->DecodeFloat(out.data(), static_cast<uint32_t>(out.size()), &produced,
                                                              ancillary.data(), &ancLen)
                                     : Mp3DecoderDecode(h, out.data(), static_cast<uint32_t>(out.size()), &produced,
                                                        ancillary.data(), &ancLen);
        if (produced > out.size() || ancLen > 2048) __builtin_trap();
        if (s == MP3STATUS_W_EOF) break;
    }
    Mp3DecoderDestroy(h);

    CMp3StreamInfo info;
    if (info.Open(data, static_cast<uint32_t>(size), static_cast<uint32_t>(size) * 3)) {
        info.PositionFromPercent(static_cast<float>(mode % 101));
        info.PositionFromPercent(100.0f);
        info.PositionFromTime(static_cast<uint32_t>(mode) * 100u);
        info.PositionFromTime(0xFFFFFFFFu);
    }
    return 0;
}
