// Any bytes from the CAPI library: decoding never reads past them, and a
// decoded message in canonical form encodes again to the bytes it was read
// from (long-form lengths of short structures, bytes a newer CAPI added and a
// 32-bit DATA_B3 come back in this layer's own form, of another length).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dizuvo/source/msg/CapiCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly `size` bytes, so that a read past the end is caught.
    std::vector<uint8_t> bytes(data, data + size);
    CapiMessage m;
    if (CapiDecode(&m, bytes.data(), bytes.size()) != CAPI_NOERROR) return 0;
    uint8_t out[kCapiMessageBufferBytes];
    if (CapiEncode(&m, out, sizeof out) != CAPI_NOERROR) return 0;
    const size_t length = out[0] | (out[1] << 8);
    const size_t declared = bytes[0] | (bytes[1] << 8);
    if (length == declared && std::memcmp(out + 2, bytes.data() + 2, length - 2) != 0) std::abort();
    return 0;
}
