#include "tools/velmora-codec/FrontEndRunner.h"

#include <algorithm>

#include "mp3enc/Mp3Encoder.h"

namespace {
const char* EngineName(Mp3Engine e) {
    switch (e) {
        case Mp3Engine::kSecond:
            return "second engine";
        case Mp3Engine::kSecondWithResampler:
            return "second engine with resampler";
        case Mp3Engine::kL3Core:
            return "l3core";
        default:
            return "none";
    }
}

// The room the front end asks for at most (the library's smallest room).
constexpr int kOutRoom = 16384;
constexpr int kChunkBytes = 4608;
}  // namespace

bool RunFrontEnd(const FrontEndRun& run, const std::vector<int16_t>& pcm, std::vector<uint8_t>* coded,
                 FrontEndReport* report, std::string* error) {
    Mp3Encoder* e = Mp3EncoderCreate(run.inputRate, run.channels, run.preset);
    if (!e) {
        *error = "the front end refuses " + std::to_string(run.inputRate) + " Hz, " + std::to_string(run.channels) +
                 " channel(s), preset " + std::to_string(run.preset);
        return false;
    }
    // Intensity first: a format whose open needs it off would fail with it on.
    Mp3EncoderConfig* c = Mp3EncoderGetConfig(e);
    c->intensityAllowed = c->jointStereo = run.jointStereo ? 1 : 0;
    Mp3EncoderSetConfig(e, c);
    const Mp3EncoderFormat f{static_cast<uint32_t>(run.codedRate ? run.codedRate : run.inputRate),
                             static_cast<uint32_t>(run.channels), static_cast<uint32_t>(run.bitRate)};
    if (!Mp3EncoderSetFormat(e, &f)) {
        Mp3EncoderDestroy(e);
        *error = "the front end opens no engine for " + std::to_string(f.sampleRate) + " Hz at " +
                 std::to_string(run.bitRate) + " bit/s";
        return false;
    }
    report->engine = EngineName(Mp3EncoderGetEngine(e));
    report->delay = c->delay;
    report->paddingPeriod = c->paddingPeriod;
    report->paddingBytes = c->paddingBytes;
    std::vector<uint8_t> out(kOutRoom);
    const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
    const int total = static_cast<int>(pcm.size() * 2);
    bool ok = true;
    // A call may only move samples inside the front end; many in a row that
    // neither take nor give would be a stall.
    for (int at = 0, idle = 0; at < total && ok;) {
        int used = 0;
        const int n = Mp3EncoderEncode(e, bytes + at, std::min(kChunkBytes, total - at), &used, out.data(), kOutRoom,
                                       nullptr, nullptr);
        idle = (n > 0 || used > 0) ? 0 : idle + 1;
        ok = n >= 0 && idle < 100;
        if (n > 0) coded->insert(coded->end(), out.begin(), out.begin() + n);
        at += used;
    }
    // Drain until a call writes nothing: the delay and the last frames come out.
    for (int n = 1; ok && n > 0;) {
        int used = 0;
        n = Mp3EncoderEncode(e, nullptr, 0, &used, out.data(), kOutRoom, nullptr, nullptr);
        ok = n >= 0;
        if (n > 0) coded->insert(coded->end(), out.begin(), out.begin() + n);
    }
    Mp3EncoderDestroy(e);
    if (!ok) *error = "the front end failed while encoding";
    return ok;
}
