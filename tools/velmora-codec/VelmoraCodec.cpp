// velmora-codec encode|decode --type T [--rate R] [--bitrate B] [--mode M] in out
// Encodes a 16-bit PCM WAVE file to raw coded bytes, or decodes them back, with
// the program's own codec for coding type T, driven as the audio engine drives it.
// For Layer III, --preset and --coded-rate drive the encoder front end directly.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codecs/CodingTable.h"
#include "tools/velmora-codec/CodecRunner.h"
#include "tools/velmora-codec/CodecTable.h"
#include "tools/velmora-codec/FrontEndRunner.h"
#include "tools/velmora-codec/ByteFile.h"
#include "tools/velmora-codec/WavFile.h"
#include "tools/velmora-codec/WavWriter.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: velmora-codec encode --type T [--rate R] [--bitrate B] [--mode M] in.wav out.bin\n"
                 "       velmora-codec decode --type T [--rate R] [--bitrate B] [--mode M] in.bin out.wav\n"
                 "  T: coding type 1, 2, 4, 8, 32, 64, 256 or 272; R in Hz; B in bit/s;\n"
                 "  M: device mode 10 mono, 11 mono mix, 20 stereo, 21 joint stereo, 22 dual mono.\n"
                 "  Layer III (T 64) encode only: [--preset P] [--coded-rate C] run the encoder front end with\n"
                 "  preset P (0, 1 or 2) coding at C Hz (the WAV file gives the input rate); it reports its engine.\n"
                 "  Built here:");
    int count = 0;
    const CodecEntry* entries = CodecEntries(&count);
    for (int i = 0; i < count; ++i) std::fprintf(stderr, " %d (%s)", entries[i].codingType, CodecName(entries[i]));
    std::fprintf(stderr, "\n");
    return 2;
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "velmora-codec: %s\n", message.c_str());
    return 1;
}

bool ParseInt(const char* text, int* value) {
    const char* end = text + std::strlen(text);
    const auto r = std::from_chars(text, end, *value);
    return r.ec == std::errc() && r.ptr == end;
}

int Channels(int mode) { return (mode == DEVICEMODE_MONO || mode == DEVICEMODE_MONO_MIX) ? 1 : 2; }

bool IsMode(int m) {
    return m == DEVICEMODE_MONO || m == DEVICEMODE_MONO_MIX || m == DEVICEMODE_STEREO ||
           m == DEVICEMODE_JOINT_STEREO || m == DEVICEMODE_DUAL_MONO;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command != "encode" && command != "decode") return Usage();
    int type = 0, rate = 0, bitRate = 0, mode = 0, preset = -1, codedRate = 0;
    std::vector<std::string> files;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        int* target = arg == "--type" ? &type : arg == "--rate" ? &rate : arg == "--bitrate" ? &bitRate
                                                : arg == "--mode"  ? &mode
                                                : arg == "--preset" ? &preset
                                                : arg == "--coded-rate" ? &codedRate
                                                                   : nullptr;
        if (target) {
            const bool zeroAllowed = target == &preset;
            if (i + 1 >= argc || !ParseInt(argv[i + 1], target) || *target < (zeroAllowed ? 0 : 1)) {
                return Fail(arg + (zeroAllowed ? " needs a whole number from 0" : " needs a positive whole number"));
            }
            ++i;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Fail("unknown option " + arg);
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2 || type == 0) return Usage();
    if (mode != 0 && !IsMode(mode)) return Fail("--mode " + std::to_string(mode) + " is not a device mode");

    const bool frontEnd = preset >= 0 || codedRate != 0;
    if (frontEnd && (type != CODING_MPEG_L3 || command != "encode"))
        return Fail("--preset and --coded-rate are for encode --type 64 only");
    if (preset > 2) return Fail("--preset " + std::to_string(preset) + " is not 0, 1 or 2");

    const CodecEntry* entry = FindCodecEntry(type);
    if (!entry) {
        if (type == CODING_PCM) return Fail("coding type 1 is plain PCM: the engine uses no codec for it");
        return Fail("coding type " + std::to_string(type) + " has no codec in this build");
    }

    AudioFormat format;
    format.codingType = type;
    std::string error;
    CWavReader wav;
    if (command == "encode") {
        if (!wav.Open(files[0], &error)) return Fail(error);
        if (rate != 0 && rate != wav.SampleRate()) {
            return Fail(files[0] + " is at " + std::to_string(wav.SampleRate()) + " Hz but --rate says " +
                        std::to_string(rate));
        }
        rate = wav.SampleRate();
        if (mode == 0) mode = wav.Channels() == 1 ? DEVICEMODE_MONO : (Channels(entry->defaultMode) == 2 ? entry->defaultMode : DEVICEMODE_STEREO);
        if (Channels(mode) != wav.Channels()) {
            return Fail(files[0] + " has " + std::to_string(wav.Channels()) + " channel(s) but mode " +
                        std::to_string(mode) + " has " + std::to_string(Channels(mode)));
        }
    } else {
        if (rate == 0) rate = entry->defaultRate;
        if (mode == 0) mode = entry->defaultMode;
    }
    if (frontEnd) {
        WavData all;
        if (!ReadWav(files[0], &all, &error)) return Fail(error);
        FrontEndRun run;
        run.inputRate = rate;
        run.channels = all.channels;
        run.codedRate = codedRate;
        run.preset = std::max(preset, 0);
        run.jointStereo = mode == DEVICEMODE_JOINT_STEREO;
        run.bitRate = bitRate;
        if (run.bitRate == 0) {
            format.sampleRate = codedRate ? codedRate : rate;
            format.deviceMode = mode;
            run.bitRate = DerivedBitRate(format);
        }
        std::vector<uint8_t> coded;
        FrontEndReport report;
        if (!RunFrontEnd(run, all.samples, &coded, &report, &error)) return Fail(error);
        std::fprintf(stderr, "velmora-codec: %s, delay %d samples, padding period %d frame(s) of %d bytes\n",
                     report.engine, report.delay, report.paddingPeriod, report.paddingBytes);
        if (!WriteFileBytes(files[1], coded, &error)) return Fail(error);
        return 0;
    }
    format.sampleRate = rate;
    format.deviceMode = mode;
    format.bitRate = bitRate != 0 ? bitRate : DerivedBitRate(format);
    format.frameBytes = entry->frameBytes(format);
    const char* refusal = entry->refuse(format);
    if (refusal[0] != '\0') {
        return Fail(std::string(CodecName(*entry)) + " refuses this format: " + refusal);
    }
    if (format.frameBytes <= 0) return Fail(std::string(CodecName(*entry)) + " has no frame size for this format");

    const CodecPtr codec = CreateCodec(*entry);
    if (command == "encode") {
        CByteFile out;
        if (!out.Create(files[1], &error)) return Fail(error);
        // The codec's tail: silence after the file, so its last samples come out.
        size_t tail = static_cast<size_t>(entry->tailSamples) * static_cast<size_t>(Channels(mode));
        const PcmSource source = [&wav, &tail](int16_t* samples, size_t room) {
            const size_t n = wav.Read(samples, room);
            if (n > 0 || wav.Failed()) return n;
            const size_t zeros = std::min(tail, room);
            std::fill(samples, samples + zeros, int16_t{0});
            tail -= zeros;
            return zeros;
        };
        const ByteSink sink = [&out](const uint8_t* bytes, size_t count) { return out.Write(bytes, count); };
        const bool encoded = RunEncoder(*codec.get(), format, source, sink, &error);
        std::string writeError;
        const bool written = out.Close(&writeError);
        if (wav.Failed()) return Fail("cannot read " + files[0]);
        if (!written) return Fail(writeError);
        if (!encoded) return Fail(std::string(CodecName(*entry)) + ": " + error);
        return 0;
    }
    CByteFile in;
    if (!in.Open(files[0], &error)) return Fail(error);
    CWavWriter out;
    if (!out.Open(files[1], rate, Channels(mode), &error)) return Fail(error);
    const ByteSource source = [&in](uint8_t* bytes, size_t room) { return in.Read(bytes, room); };
    const PcmSink sink = [&out](const int16_t* samples, size_t count) { return out.Append(samples, count); };
    const bool decoded = RunDecoder(*codec.get(), format, source, sink, &error);
    std::string writeError;
    const bool written = out.Close(&writeError);
    if (in.Failed()) return Fail("cannot read " + files[0]);
    if (!written) return Fail(writeError);
    if (!decoded) return Fail(std::string(CodecName(*entry)) + ": " + error);
    return 0;
}
