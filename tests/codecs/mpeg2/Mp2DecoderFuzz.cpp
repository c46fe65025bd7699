// Feeds arbitrary bytes to the Layer II decoder: through CMpegL2Codec in
// blocks of a size the input picks, and through the core as one stream with
// an output format the input picks. Nothing may crash, overrun or stall.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/MpegL2Codec.h"
#include "codecs/mpeg2/Mp2Decoder.h"

namespace {

struct Stream {
    const uint8_t* data;
    size_t size;
    size_t pos;
    static int Read(uint8_t* dst, int* count, void* user) {
        auto* s = static_cast<Stream*>(user);
        size_t n = static_cast<size_t>(*count);
        if (n > s->size - s->pos) n = s->size - s->pos;
        // Deliver in uneven pieces so that refills happen mid-frame.
        if (n > 977) n = 977;
        for (size_t i = 0; i < n; ++i) dst[i] = s->data[s->pos + i];
        s->pos += n;
        *count = static_cast<int>(n);
        return s->pos >= s->size ? 1 : 0;
    }
};

constexpr uint32_t kFormats[] = {0x0101008D, 0x01010094, 0x01010090, 0x01010093, 0x010100ED,
                                 0x0101006D, 0x010100AD, 0x0101018D, 0x0001008D, 0x0101028D};
constexpr uint32_t kOptions[] = {1, 0, 0x10001, 0x50001, 0x50000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int block = 64 + data[0] * 6;
    const uint8_t pick = data[1];
    data += 2;
    size -= 2;

    static CMpegL2Codec codec;
    codec.OpenDecoder();
    static int16_t pcm[2 * kMp2MaxSamplesPerChannel];
    for (size_t at = 0; at < size; at += static_cast<size_t>(block)) {
        const int n = static_cast<int>(size - at < static_cast<size_t>(block) ? size - at : static_cast<size_t>(block));
        int used = 0;
        codec.Decode(data + at, n, &used, pcm, (pick & 1) ? 2304 : 4608);
    }
    codec.CloseDecoder();

    Stream s{data, size, 0};
    Mp2Decoder* dec = nullptr;
    const uint32_t format = kFormats[pick % (sizeof kFormats / sizeof kFormats[0])];
    const uint32_t options = kOptions[(pick >> 4) % (sizeof kOptions / sizeof kOptions[0])];
    if (Mp2DecoderOpen(options, format, Stream::Read, &s, &dec) != 0) return 0;
    static uint8_t out[4 * kMp2MaxSamplesPerChannel];
    uint8_t anc[64];
    for (int i = 0; i < 4000; ++i) {
        Mp2PcmBlock b{0, 0, out};
        Mp2AncillaryData a{sizeof anc, anc};
        const int code = Mp2DecodeFrame(nullptr, &b, &a, dec);
        if (code == 1001) break;
        if (s.pos >= s.size && code != 0 && Mp2DecoderState(dec) != 1) break;
    }
    Mp2DecoderClose(&dec);
    return 0;
}
