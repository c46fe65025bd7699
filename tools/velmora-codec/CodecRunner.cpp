#include "tools/velmora-codec/CodecRunner.h"

#include <algorithm>

namespace {

// A codec may hold output back for a while (look-ahead); after this many calls
// without taking input the tool gives up instead of spinning.
constexpr int kMaxIdleCalls = 1000;

}  // namespace

bool RunEncoder(CCodec& codec, const AudioFormat& format, const std::vector<int16_t>& pcm,
                std::vector<uint8_t>* coded, std::string* error) {
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
    std::vector<int16_t> capture;
    size_t next = 0;
    int idle = 0;
    coded->clear();

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
        coded->insert(coded->end(), send.begin(), send.begin() + n);
        capture.erase(capture.begin(), capture.begin() + consumed / 2);
        idle = consumed > 0 ? 0 : idle + 1;
        return consumed > 0 || (n > 0 && idle < kMaxIdleCalls);
    };

    while (next < pcm.size() && error->empty()) {
        const size_t take = std::min(static_cast<size_t>(frameSamples), pcm.size() - next);
        capture.insert(capture.end(), pcm.begin() + static_cast<long>(next),
                       pcm.begin() + static_cast<long>(next + take));
        next += take;
        while (static_cast<int>(capture.size()) >= frameSamples && pass()) {
        }
    }
    while (error->empty() && !capture.empty() && pass()) {
    }
    if (error->empty() && !capture.empty()) {
        capture.resize(((capture.size() + frameSamples - 1) / frameSamples) * frameSamples, 0);
        while (!capture.empty() && pass()) {
        }
    }
    codec.CloseEncoder();
    return error->empty();
}

bool RunDecoder(CCodec& codec, const AudioFormat& format, const std::vector<uint8_t>& coded, const PcmSink& sink,
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
    size_t pos = 0;
    int idle = 0;
    bool sinkFull = false;
    while (pos < coded.size()) {
        const int offer = static_cast<int>(std::min(static_cast<size_t>(format.frameBytes), coded.size() - pos));
        int consumed = 0;
        const int n = codec.Decode(coded.data() + pos, offer, &consumed, playback.data(), room);
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
        const int n = codec.Decode(coded.data(), 0, &consumed, playback.data(), room);
        if (n <= 0 || n > room || n % 2 != 0) break;
        sinkFull = !sink(playback.data(), static_cast<size_t>(n / 2));
    }
    codec.CloseDecoder();
    return error->empty() && !sinkFull;
}
