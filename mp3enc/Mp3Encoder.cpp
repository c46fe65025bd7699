#include "mp3enc/Mp3Encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "mp3enc/engine/L3Engine.h"
#include "mp3enc/engine/VbrFrameTable.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreBitrate.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreEncoder.h"
#include "mp3enc/resample/Resampler.h"

struct Mp3Encoder {
    int inputChannels = 1;
    float inputRate = 0.0f;
    int preset = 0;
    Mp3EncoderConfig config{};
    int codedRate = 0;
    int codedChannels = 0;
    int bitRate = 0;
    Mp3Engine engine = Mp3Engine::kRefused;

    L3CoreInput coreInput{};
    L3CoreParams coreParams{};
    L3CoreConfig* coreConfig = nullptr;
    L3CoreEncoder* core = nullptr;

    L3Engine* second = nullptr;
    L3EngineInfo info{};
    VbrFrameTable* frameTable = nullptr;
    int runningOffset = 0;

    float* frame = nullptr;  // one granule of samples
    int frameFill = 0;       // samples
    int frameCapacity = 0;
    bool endFlag = false;

    bool resample = false;
    bool downMix = false;
    Resampler* resampler = nullptr;
    ResamplerDesign design{};
    float* inBlock = nullptr;
    int inBlockSize = 0;
    int inBlockFill = 0;
    float* outBlock = nullptr;
    int outBlockCount = 0;
    int outPending = 0;  // samples of outBlock not yet moved
    bool tailRun = false;  // the zero-padded last block has been run
};

namespace {
constexpr int kRates[9] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

constexpr float kFloatLimit = 32.0f * 32768.0f;

bool RateSupported(int rate) { return std::find(kRates, kRates + 9, rate) != kRates + 9; }

// The library's quality word for each preset.
constexpr int kPresetQuality[3] = {0, 5, 9};

void CloseEngine(Mp3Encoder& e) {
    L3CoreClose(e.core);
    e.core = nullptr;
    L3CoreFreeConfig(e.coreConfig);
    e.coreConfig = nullptr;
    L3EngineClose(e.second);
    e.second = nullptr;
    VbrFrameTableDestroy(e.frameTable);
    e.frameTable = nullptr;
    delete[] e.frame;
    e.frame = nullptr;
    e.frameFill = e.frameCapacity = 0;
    ResamplerDestroy(e.resampler);
    e.resampler = nullptr;
    delete[] e.inBlock;
    delete[] e.outBlock;
    e.inBlock = e.outBlock = nullptr;
    e.inBlockSize = e.inBlockFill = e.outBlockCount = e.outPending = 0;
    e.engine = Mp3Engine::kRefused;
}

// The library's configuration from the block; made for both engines, read
// by the library only.
bool MakeCoreConfig(Mp3Encoder& e) {
    if (EncError* err = L3CoreCreateConfig(&e.coreConfig)) {
        L3CoreFreeError(err);
        return false;
    }
    const Mp3EncoderConfig& c = e.config;
    const int header = (c.privateBit ? 1 : 0) | (c.copyrightBit ? 2 : 0) | (c.originalBit ? 4 : 0);
    const int quality = kPresetQuality[e.preset];
    EncError* err = L3CoreSetConfigParam(e.coreConfig, kL3CoreQuality, &quality);
    if (!err && c.monoFallback) err = L3CoreSetConfigParam(e.coreConfig, kL3CoreMonoFallback, nullptr);
    if (!err) err = L3CoreSetConfigParam(e.coreConfig, kL3CorePadding, &c.paddingMode);
    if (!err) err = L3CoreSetConfigParam(e.coreConfig, kL3CoreHeaderBits, &header);
    if (!err && !c.intensityAllowed) err = L3CoreSetConfigParam(e.coreConfig, kL3CoreIntensityOff, nullptr);
    if (!err && c.bandwidth > 0.0f) err = L3CoreSetConfigParam(e.coreConfig, kL3CoreBandwidth, &c.bandwidth);
    L3CoreFreeError(err);
    return err == nullptr;
}

void FillCoreFormat(Mp3Encoder& e) {
    e.coreInput = L3CoreInput{};
    e.coreInput.channels = e.inputChannels;
    e.coreInput.sampleRate = e.inputRate;
    e.coreInput.format = e.config.sampleFormat != 1 ? kL3CoreInt16 : kL3CoreFloat;
    e.coreInput.fullScale = 32768.0f;
    e.coreParams = L3CoreParams{};
    e.coreParams.channels = e.codedChannels;
    e.coreParams.sampleRate = static_cast<float>(e.codedRate);
    e.coreParams.bitRate = e.bitRate;
    e.coreParams.crc = e.config.crc ? 1 : 0;
}

int OpenCore(Mp3Encoder& e) {
    EncError* err = L3CoreCheckBitrate(&e.coreInput, &e.coreParams, e.coreConfig);
    // The check picks a rate of its own; the one asked for stays.
    e.coreParams.sampleRate = static_cast<float>(e.codedRate);
    if (!err) err = L3CoreOpen(&e.core, &e.coreInput, &e.coreParams, e.coreConfig);
    if (err) {
        L3CoreFreeError(err);
        CloseEngine(e);
        return 0;
    }
    L3CoreInfo info{};
    L3CoreGetInfo(e.core, &info);
    e.config.bandwidth = info.bandwidth;
    e.config.delay = info.delay;
    e.config.paddingPeriod = info.paddingPeriod;
    e.config.paddingBytes = info.paddingBytes;
    e.engine = Mp3Engine::kL3Core;
    return 1;
}

int OpenEngine(Mp3Encoder& e) {
    CloseEngine(e);
    e.resample = e.downMix = e.endFlag = e.tailRun = false;
    const int in = static_cast<int>(e.inputRate), out = e.codedRate;
    const Mp3Engine choice = ChooseMp3Engine(in, out, static_cast<unsigned>(e.bitRate), e.codedChannels, e.preset,
                                             e.config.vbrQuality);
    if (choice == Mp3Engine::kRefused) return 0;
    FillCoreFormat(e);
    if (!MakeCoreConfig(e)) {
        CloseEngine(e);
        return 0;
    }
    if (choice == Mp3Engine::kL3Core) return OpenCore(e);
    // Only the library fills these; a stale pair would name the wrong engine.
    e.config.paddingPeriod = e.config.paddingBytes = 0;
    e.resample = choice == Mp3Engine::kSecondWithResampler;
    e.downMix = e.resample && e.inputChannels > e.codedChannels;

    L3EngineParams p{};
    p.word[kL3SampleRate] = out;
    p.word[kL3BitRate] = e.bitRate;
    p.word[kL3InputChannels] = e.downMix ? 1 : e.inputChannels;
    p.word[kL3CodedChannels] = e.codedChannels;
    std::memcpy(&p.word[kL3Bandwidth], &e.config.bandwidth, sizeof(float));
    p.word[kL3IntensityOff] = e.config.intensityAllowed ? 0 : 1;
    p.word[kL3SplitSearch] = e.preset != 0 ? 1 : 0;
    p.word[kL3PaddingMode] = e.config.paddingMode;
    p.word[kL3Crc] = e.config.crc ? 1 : 0;
    p.word[kL3Private] = e.config.privateBit ? 1 : 0;
    p.word[kL3Copyright] = e.config.copyrightBit ? 1 : 0;
    p.word[kL3Original] = e.config.originalBit ? 1 : 0;
    if (e.config.vbrQuality) {
        p.word[kL3BitRate] = 0;
        p.word[kL3IntensityOff] = 1;
        p.word[kL3Vbr] = 1;
        p.word[kL3VbrQuality] = e.config.vbrQuality;
    }
    if (L3EngineOpen(&e.second, &p) != 0) {
        CloseEngine(e);
        return 0;
    }
    L3EngineGetInfo(e.second, &e.info);
    e.config.bandwidth = e.info.bandwidth;
    e.config.delay = e.info.delay;
    if (e.config.vbrQuality) {
        e.frameTable = VbrFrameTableCreate(15, out, e.codedChannels);
        if (e.frameTable) VbrFrameTableSetup(e.frameTable, e.info.delay, e.config.vbrQuality);
        e.runningOffset = 0;
    }
    const int held = e.downMix ? e.codedChannels : e.inputChannels;
    e.frameCapacity = 576 * held;
    e.frame = new (std::nothrow) float[static_cast<size_t>(e.frameCapacity)];
    if (!e.frame) {
        CloseEngine(e);
        return 0;
    }
    if (e.resample) {
        e.design = ResamplerDesign{};
        e.design.gain = 1.0;
        e.design.attenuation = 90.0f;
        const float passBand = std::min(e.info.bandwidth, 0.475f * static_cast<float>(std::min(in, out)));
        ResamplerDesignFor(&e.design, in, out, passBand);
        int inSize = 0, outSize = 0;
        if (!ResamplerCreate(&e.resampler, &e.design, held, in, out, &inSize, &outSize)) {
            CloseEngine(e);
            return 0;
        }
        e.inBlockSize = inSize;
        e.inBlock = new (std::nothrow) float[static_cast<size_t>(inSize)];
        e.outBlock = new (std::nothrow) float[static_cast<size_t>(outSize)];
        if (!e.inBlock || !e.outBlock) {
            CloseEngine(e);
            return 0;
        }
        e.config.delay += ResamplerDelay(e.resampler);
    }
    e.engine = choice;
    return 1;
}

// Converts input samples into dst (room in output samples); returns input samples taken.
int Convert(const Mp3Encoder& e, const void* pcm, int available, float* dst, int room) {
    const bool isFloat = e.config.sampleFormat == 1;
    // Float input far outside full scale, or not a number at all, is limited
    // here: 32 times full scale still codes, and silence stands for NaN.
    auto at = [&](int i) {
        if (!isFloat) {
            int16_t s;
            std::memcpy(&s, static_cast<const uint8_t*>(pcm) + 2 * static_cast<size_t>(i), sizeof s);
            return static_cast<float>(s);
        }
        float v;
        std::memcpy(&v, static_cast<const uint8_t*>(pcm) + 4 * static_cast<size_t>(i), sizeof v);
        return std::isnan(v) ? 0.0f : std::clamp(v, -kFloatLimit, kFloatLimit);
    };
    if (e.downMix) {
        const int take = std::min(2 * room, available) & ~1;
        for (int i = 0; i < take / 2; ++i) dst[i] = (at(2 * i) + at(2 * i + 1)) * 0.5f;
        return take;
    }
    const int take = std::min(room, available);
    for (int i = 0; i < take; ++i) dst[i] = at(i);
    return take;
}

void MovePending(Mp3Encoder& e) {
    const int n = std::min(e.outPending, e.frameCapacity - e.frameFill);
    if (n <= 0) return;
    std::memcpy(e.frame + e.frameFill, e.outBlock + (e.outBlockCount - e.outPending), sizeof(float) * n);
    e.frameFill += n;
    e.outPending -= n;
}

void RunResampler(Mp3Encoder& e) {
    for (int i = e.inBlockFill; i < e.inBlockSize; ++i) e.inBlock[i] = 0.0f;
    int count = e.inBlockSize, produced = 0;
    ResamplerProcess(e.resampler, e.inBlock, e.outBlock, &count, &produced);
    e.inBlockFill = 0;
    e.outBlockCount = e.outPending = produced;
}

// The library's bit-rate check at quality 0 chooses the coded rate, in mono
// when stereo has none and the block allows it.
bool PickRateForBitRate(Mp3Encoder& e, const Mp3EncoderFormat* f) {
    if (f->bitRate > 320000u || f->channels > static_cast<uint32_t>(e.inputChannels)) return false;
    L3CoreConfig config = e.coreConfig ? *e.coreConfig : L3CoreDefaultConfig();
    config.quality = 0;
    L3CoreInput input{};
    input.channels = e.inputChannels;
    input.sampleRate = e.inputRate;
    L3CoreParams p{};
    p.bitRate = static_cast<int32_t>(f->bitRate);
    p.channels = f->channels ? static_cast<int32_t>(f->channels) : e.inputChannels;
    EncError* err = L3CoreCheckBitrate(&input, &p, &config);
    if (err && e.config.monoFallback && p.channels != 1) {
        L3CoreFreeError(err);
        p.channels = 1;
        err = L3CoreCheckBitrate(&input, &p, &config);
    }
    // A rate above the input's would need up-sampling, which neither engine does.
    const bool ok = !err && p.sampleRate <= e.inputRate;
    L3CoreFreeError(err);
    if (!ok) return false;
    e.codedChannels = p.channels;
    e.codedRate = static_cast<int>(p.sampleRate);
    e.bitRate = p.bitRate;
    return true;
}
}  // namespace

Mp3Encoder* Mp3EncoderCreate(int sampleRate, int channels, int preset) {
    if (!RateSupported(sampleRate) || channels < 1 || channels > 2 || preset < 0 || preset > 2) return nullptr;
    const int bitRate = Mp3DefaultBitrate(sampleRate, channels);
    if (bitRate == 0) return nullptr;
    auto* e = new (std::nothrow) Mp3Encoder;
    if (!e) return nullptr;
    Mp3EncoderConfigInit(&e->config);
    e->inputRate = static_cast<float>(sampleRate);
    e->inputChannels = channels;
    e->codedRate = sampleRate;
    e->codedChannels = channels;
    e->bitRate = bitRate;
    e->preset = preset;
    if (!OpenEngine(*e)) {
        CloseEngine(*e);
        delete e;
        return nullptr;
    }
    return e;
}

int Mp3EncoderDestroy(Mp3Encoder* e) {
    if (!e) return 0;
    CloseEngine(*e);
    delete e;
    return 1;
}

int Mp3EncoderSetFormat(Mp3Encoder* e, const Mp3EncoderFormat* f) {
    if (!e || !f) return 0;
    if (f->bitRate == 0 || f->sampleRate != 0) {
        // A coded channel count of 0 would reach a division in the engine choice.
        if (f->channels < 1 || f->channels > static_cast<uint32_t>(e->inputChannels)) return 0;
        if (f->sampleRate > static_cast<uint32_t>(e->inputRate) || !RateSupported(static_cast<int>(f->sampleRate)))
            return 0;
        if (f->bitRate > 0x7FFFFFFFu) return 0;
        e->codedRate = static_cast<int>(f->sampleRate);
        e->codedChannels = static_cast<int>(f->channels);
        e->bitRate = static_cast<int>(f->bitRate);
    } else if (!PickRateForBitRate(*e, f)) {
        return 0;
    }
    e->config.bandwidth = 0.0f;
    e->config.delay = 0;
    e->config.vbrQuality = 0;
    return OpenEngine(*e);
}

Mp3EncoderConfig* Mp3EncoderGetConfig(Mp3Encoder* e) { return e ? &e->config : nullptr; }

int Mp3EncoderSetConfig(Mp3Encoder* e, const Mp3EncoderConfig* c) {
    if (!e || !c) return 0;
    if (c->sampleFormat != 0 && c->sampleFormat != 1) return 0;
    if (c->paddingMode < 0 || c->paddingMode > 2) return 0;
    if (c->vbrQuality < 0 || c->vbrQuality > 100) return 0;
    const float limit = (c->vbrQuality ? e->inputRate : static_cast<float>(e->codedRate)) / 2.0f;
    // NaN and negative bandwidths are refused as well as too wide ones.
    if (!(c->bandwidth >= 0.0f) || c->bandwidth > limit) return 0;
    e->config = *c;
    if (c->vbrQuality) {
        e->codedRate = static_cast<int>(e->inputRate);
        e->codedChannels = e->inputChannels;
        e->bitRate = 0;
    }
    return OpenEngine(*e);
}

int Mp3EncoderEncode(Mp3Encoder* e, const void* pcm, int pcmBytes, int* consumed, uint8_t* out, int outRoom,
                     const uint8_t* ancillary, int* ancillaryCount) {
    if (!e) return -1;
    if (consumed) *consumed = 0;
    if (e->core) {
        int used = 0, written = 0;
        EncError* err = L3CoreEncode(e->core, pcm, pcmBytes, out, outRoom, &used, &written, ancillary, ancillaryCount);
        if (consumed) *consumed = used;
        if (err) {
            L3CoreFreeError(err);
            return -1;
        }
        return written;
    }
    if (!e->second || !e->frame) return 0;
    if (pcmBytes < 0 || (pcmBytes > 0 && !pcm)) return -1;
    const int bytesPerSample = e->config.sampleFormat == 1 ? 4 : 2;
    const int held = e->inputChannels;
    int available = pcmBytes / bytesPerSample;
    available -= available % held;  // whole sample frames only
    int taken = 0;
    if (!e->resample) {
        if (!e->endFlag && available > 0)
            taken = Convert(*e, pcm, available, e->frame + e->frameFill, e->frameCapacity - e->frameFill);
        e->frameFill += e->downMix ? taken / 2 : taken;
    } else {
        MovePending(*e);
        if (!e->endFlag) {
            if (available > 0 && e->outPending == 0) {
                const int room = e->inBlockSize - e->inBlockFill;
                taken = Convert(*e, pcm, available, e->inBlock + e->inBlockFill, room);
                e->inBlockFill += e->downMix ? taken / 2 : taken;
                if (e->inBlockFill == e->inBlockSize) RunResampler(*e);
            } else if (pcmBytes == 0 && e->outPending == 0 && !e->tailRun) {
                RunResampler(*e);
                e->tailRun = true;
            }
            if (taken > 0) e->tailRun = false;
        }
        MovePending(*e);
    }
    if (consumed) *consumed = taken * bytesPerSample;
    e->endFlag = pcmBytes == 0;
    if (e->frameFill < e->frameCapacity && !e->endFlag) return 0;
    if (!out || outRoom < e->info.minOutputBytes) return -1;
    int written = 0;
    if (L3EngineEncode(e->second, e->frame, e->frameFill, out, outRoom, &written, ancillary, ancillaryCount) != 0)
        return -1;
    // At the end, keep going until bytes come out or nothing is left, so a
    // caller that stops at the first empty call loses no input.
    while (e->endFlag && written == 0) {
        e->frameFill = 0;
        if (e->resample) {
            if (e->outPending == 0 && !e->tailRun) {
                RunResampler(*e);
                e->tailRun = true;
            }
            MovePending(*e);
        }
        const int n = e->frameFill;
        if (L3EngineEncode(e->second, e->frame, n, out, outRoom, &written, ancillary, ancillaryCount) != 0) return -1;
        if (n == 0) break;
    }
    e->frameFill = 0;
    if (e->config.vbrQuality && e->frameTable) {
        const int32_t* sizes = L3EngineGetFrameSizes(e->second);
        for (int i = 1; sizes && i <= sizes[0]; ++i) {
            VbrFrameTableAddFrame(e->frameTable, e->runningOffset, sizes[i]);
            e->runningOffset += sizes[i];
        }
    }
    return written;
}

Mp3Engine Mp3EncoderGetEngine(const Mp3Encoder* e) { return e ? e->engine : Mp3Engine::kRefused; }
