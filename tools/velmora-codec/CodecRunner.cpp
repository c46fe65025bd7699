#include "tools/velmora-codec/CodecRunner.h"

#include <algorithm>
#include <cstring>

namespace {

// A codec may hold output back for a while (look-ahead); after this many calls
// without taking input the tool gives up instead of spinning.
constexpr int kMaxIdleCalls = 1000;

// Fills dst from source until it is full or the source has no more.
template <class T, class Source>
size_t Fill(const Source& source, T* dst, size_t room) {
    size_t got = 0;
    while (got < room) {
        const size_t n = source(dst + got, room - got);
        if (n == 0) break;
        got += n;
    }
    return got;
}

}  // namespace

bool RunEncoder(CCodec& codec, const AudioFormat& format, const PcmSource& pcm, const ByteSink& coded,
                std::string* error) {
    codec.SetEncodeFormat(&format);
    if (codec.OpenEncoder() == 0) {
        *error = "the codec refused to open its encoder for this format";
        codec.CloseEncoder();
        return false;
    }
    const int frame = codec.GetEncodeFrameSize(&format);
    if (frame <= 0 || frame % 2 != 0) {
        *error = "the codec gives no usable encoder frame size (" + std::to_string(frame) + ") for this format";
        codec.CloseEncoder();
        return false;
    }
    const int frameSamples = frame / 2;
    const int sendRoom = std::max(65536, 4 * std::max(format.frameBytes, 0));
    std::vector<uint8_t> send(static_cast<size_t>(sendRoom));
    std::vector<int16_t> block(static_cast<size_t>(frameSamples));
    std::vector<int16_t> capture;
    capture.reserve(2 * block.size());
    int idle = 0;
    bool written = true;

    // One pass: offer the whole capture fill; false when the codec took nothing.
    auto pass = [&]() -> bool {
        int consumed = 0;
        const int fill = static_cast<int>(capture.size()) * 2;
        const int n = codec.Encode(capture.data(), fill, &consumed, send.data(), sendRoom);
        if (n < 0 || n > sendRoom || consumed < 0 || consumed > fill || consumed % 2 != 0) {
            *error = "the encoder returned " + std::to_string(n) + " bytes for " + std::to_string(consumed) +
                     " consumed of " + std::to_string(fill);
            return false;
        }
        if (n > 0 && !coded(send.data(), static_cast<size_t>(n))) {
            written = false;
            return false;
        }
        capture.erase(capture.begin(), capture.begin() + consumed / 2);
        idle = consumed > 0 ? 0 : idle + 1;
        return consumed > 0 || (n > 0 && idle < kMaxIdleCalls);
    };

    while (error->empty() && written) {
        const size_t take = Fill(pcm, block.data(), block.size());
        if (take == 0) break;
        capture.insert(capture.end(), block.begin(), block.begin() + static_cast<long>(take));
        while (static_cast<int>(capture.size()) >= frameSamples && pass()) {
        }
        if (take < block.size()) break;
    }
    while (error->empty() && written && !capture.empty() && pass()) {
    }
    if (error->empty() && written && !capture.empty()) {
        capture.resize(((capture.size() + frameSamples - 1) / frameSamples) * frameSamples, 0);
        while (!capture.empty() && pass()) {
        }
    }
    codec.CloseEncoder();
    if (!written && error->empty()) *error = "the coded bytes could not be written";
    return error->empty();
}

bool RunDecoder(CCodec& codec, const AudioFormat& format, const ByteSource& coded, const PcmSink& sink,
                std::string* error) {
    codec.SetDecodeFormat(&format);
    if (codec.OpenDecoder() == 0) {
        *error = "the codec refused to open its decoder for this format";
        codec.CloseDecoder();
        return false;
    }
    const int frame = codec.GetDecodeFrameSize(&format);
    if (frame <= 0 || format.frameBytes <= 0) {
        *error = "the codec gives no usable decoder frame size (" + std::to_string(frame) + ") for this format";
        codec.CloseDecoder();
        return false;
    }
    // The engine's playback FIFO: the frame size (twice for look-ahead codecs) plus 4.
    const int room = 2 * frame + 4;
    std::vector<int16_t> playback(static_cast<size_t>(room) / 2);
    // The coded bytes pass through a window a few frames long.
    const size_t frameBytes = static_cast<size_t>(format.frameBytes);
    std::vector<uint8_t> window(std::max<size_t>(65536, 4 * frameBytes));
    size_t pos = 0, end = 0;
    bool ended = false;
    int idle = 0;
    bool sinkFull = false;
    for (;;) {
        if (end - pos < frameBytes && !ended) {
            std::memmove(window.data(), window.data() + pos, end - pos);
            end -= pos;
            pos = 0;
            const size_t got = Fill(coded, window.data() + end, window.size() - end);
            ended = got < window.size() - end;
            end += got;
        }
        if (pos >= end) break;
        const int offer = static_cast<int>(std::min(frameBytes, end - pos));
        int consumed = 0;
        const int n = codec.Decode(window.data() + pos, offer, &consumed, playback.data(), room);
        if (n < 0 || n > room || n % 2 != 0 || consumed < 0 || consumed > offer) {
            *error = "the decoder returned " + std::to_string(n) + " bytes for " + std::to_string(consumed) +
                     " consumed of " + std::to_string(offer);
            break;
        }
        if (n > 0 && !sink(playback.data(), static_cast<size_t>(n / 2))) {
            sinkFull = true;
            break;
        }
        pos += static_cast<size_t>(consumed);
        idle = consumed > 0 ? 0 : idle + 1;
        if ((consumed == 0 && n == 0) || idle >= kMaxIdleCalls) break;  // waits for data that never comes
    }
    // A codec that buffers frames hands out what it still holds when offered nothing more.
    for (int calls = 0; error->empty() && !sinkFull && calls < kMaxIdleCalls; ++calls) {
        int consumed = 0;
        const int n = codec.Decode(window.data(), 0, &consumed, playback.data(), room);
        if (n <= 0 || n > room || n % 2 != 0) break;
        sinkFull = !sink(playback.data(), static_cast<size_t>(n / 2));
    }
    codec.CloseDecoder();
    return error->empty() && !sinkFull;
}
