// Any bytes on one or two channels, in any pieces: the framed apt-X
// receiver never reads or writes outside its rings, history and output,
// and an alignment it finds stays within what its history holds.
//
// With bit 2 of the first byte set the input describes a real two-channel
// stream instead, the second channel skewed against the first by up to
// 2200 frames and some bits, optionally with bit errors and idle fill: the
// history reads of every skew the receiver accepts stay inside the history.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/BChannelFraming.h"
#include "net/IsdnAptxFramedPath.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Check(CIsdnAptxFramedPath& path, int channels, Bytes& out) {
    const int avail = path.ReceivedAvailable();
    if (avail < 0 || avail > CIsdnAptxFramedPath::kBufferBytes || avail % (8 * channels) != 0) __builtin_trap();
    if (path.IsAligned()) {
        for (int c = 0; c < channels; ++c) {
            const int d = path.GetDelayBits(c);
            if (d < 0 || d > CIsdnAptxFramedPath::kMaxDelayBits) __builtin_trap();
        }
    }
    if (path.ReadReceived(out.data(), static_cast<int>(out.size())) != avail) __builtin_trap();
}

// `bits` idle bits in front of the received bytes.
Bytes Skewed(const Bytes& in, int bits) {
    Bytes out(static_cast<size_t>(bits / 8), 0x00);
    const int shift = bits % 8;
    unsigned carry = 0;
    for (uint8_t b : in) {
        out.push_back(static_cast<uint8_t>(((carry << 8) | b) >> shift));
        carry = b;
    }
    return out;
}

int SkewedStream(const uint8_t* data, size_t size, Bytes& out) {
    if (size < 6) return 0;
    const int channels = (data[0] & 1) + 1;
    const int skewFrames = (data[1] | data[2] << 8) % 2200;
    const int offset0 = data[3] & 7, offset1 = (data[3] >> 3) & 31;
    const size_t piece = static_cast<size_t>(data[4] & 0x3F) * 16 + 1;
    const int flipEvery = (data[4] & 0x40) ? 97 + data[5] : 0;
    const uint8_t* words = data + 6;
    const size_t wordBytes = size - 6;
    if (wordBytes == 0) return 0;

    static CIsdnAptxFramedPath sender, path;
    sender.Init(channels, 192);
    path.Init(channels, (data[0] & 2) ? 384 : 192);
    const int frames = skewFrames + 400;
    std::vector<Bytes> line(static_cast<size_t>(channels));
    Bytes chunk(1024);
    size_t at = 0;
    for (int f = 0; f < frames; f += 64) {
        for (size_t k = 0; k < chunk.size(); ++k) chunk[k] = words[(at + k) % wordBytes];
        at += chunk.size();
        sender.WriteSend(chunk.data(), 64 * 8 * channels);
        sender.Frame();
        for (int c = 0; c < channels; ++c) {
            uint8_t buf[4096];
            const int n = sender.ReadChannel(c, buf, sizeof buf);
            for (int k = 0; k < n; ++k) line[static_cast<size_t>(c)].push_back(CBChannelFraming::Reverse(buf[k]));
        }
    }
    std::vector<Bytes> rx;
    for (int c = 0; c < channels; ++c) {
        Bytes r = Skewed(line[static_cast<size_t>(c)], c == 0 ? offset0 : skewFrames * 65 + offset1);
        for (size_t i = flipEvery; flipEvery && i < r.size(); i += static_cast<size_t>(flipEvery)) r[i] ^= 0x10;
        // With bit 3 the last channel carries a starved sender's idle fill mid-stream.
        if ((data[0] & 8) && c == channels - 1) r.insert(r.begin() + static_cast<long>(r.size() / 2), static_cast<size_t>(data[5]) * 8, 0xFF);
        rx.push_back(std::move(r));
    }
    size_t longest = 0;
    for (const Bytes& r : rx) longest = std::max(longest, r.size());
    for (size_t pos = 0; pos < longest; pos += piece) {
        for (int c = 0; c < channels; ++c) {
            const Bytes& r = rx[static_cast<size_t>(c)];
            if (pos < r.size()) path.WriteReceived(c, r.data() + pos, static_cast<int>(std::min(piece, r.size() - pos)));
        }
        path.Receive();
        Check(path, channels, out);
    }
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 200000) return 0;
    std::vector<uint8_t> out(8192);
    if (data[0] & 4) return SkewedStream(data, size, out);
    static CIsdnAptxFramedPath path;
    const int channels = (data[0] & 1) + 1;
    path.Init(channels, (data[0] & 2) ? 384 : 192);
    size_t at = 1;
    while (at < size) {
        const int channel = (data[at] & 1) % channels;
        const size_t n = std::min<size_t>(size - at - 1, 1 + (data[at] >> 1) * 32);
        if (n == 0) break;
        path.WriteReceived(channel, data + at + 1, static_cast<int>(n));
        at += 1 + n;
        path.Receive();
        Check(path, channels, out);
    }
    return 0;
}
