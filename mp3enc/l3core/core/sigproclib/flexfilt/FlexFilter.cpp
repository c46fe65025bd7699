#include "mp3enc/l3core/core/sigproclib/flexfilt/FlexFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "mp3enc/util/AlignedAlloc.h"

namespace {

// The output at the current position, one sample per channel.
void Interpolate(const FlexFilter& f, float* out) {
    const FlexTable& t = f.table;
    const int ch = f.channels;
    for (int c = 0; c < ch; ++c) out[c] = 0.0f;
    const float* left = f.history + static_cast<size_t>(f.centre) * ch;
    for (int k = 0; k < t.wingLength; ++k) {
        const float hl = FlexTableAt(t, (k + f.phase) * t.cutoff);
        const float hr = FlexTableAt(t, (k + 1 - f.phase) * t.cutoff);
        const float* xl = left - static_cast<ptrdiff_t>(k) * ch;
        const float* xr = left + static_cast<ptrdiff_t>(k + 1) * ch;
        for (int c = 0; c < ch; ++c) out[c] += xl[c] * hl + xr[c] * hr;
    }
}

// Moves the frames the kernel still needs to the front.
void Compact(FlexFilter& f) {
    const int drop = f.centre - (f.table.wingLength - 1);
    if (drop <= 0) return;
    std::memmove(f.history, f.history + static_cast<size_t>(drop) * f.channels,
                 sizeof(float) * static_cast<size_t>(f.filled - drop) * f.channels);
    f.filled -= drop;
    f.centre -= drop;
}

int Bypass(FlexFilter& f, const float* input, int inputCount, float* granule, int granuleSize) {
    const int rest = inputCount - f.taken;
    const int room = granuleSize - f.granuleCount;
    if (rest >= room) {
        std::memcpy(granule + f.granuleCount, input + f.taken, sizeof(float) * room);
        f.granuleCount = 0;
        f.taken += room;
        return kFlexGranuleFull;
    }
    if (rest > 0) std::memcpy(granule + f.granuleCount, input + f.taken, sizeof(float) * rest);
    f.granuleCount += std::max(rest, 0);
    f.taken = 0;
    return kFlexNeedInput;
}

}  // namespace

int flfChunkBufInit(FlexFilter* state, double ratio, int channels, double cutoff, double startPosition,
                    int halfLength, double beta, int bypass) {
    if (!state) return kFlexNullState;
    std::memset(state, 0, sizeof *state);
    if (!(ratio > 0.0 && std::isfinite(ratio)) || channels < 1 || channels > 64) return kFlexBadParameters;
    state->ratio = ratio;
    state->channels = channels;
    state->bypass = bypass ? 1 : 0;
    if (!bypass) {
        const int r = FlexTableInit(&state->table, cutoff, startPosition, halfLength, beta);
        if (r != kFlexOk) return r;
        // One output step must stay inside a wing, or the kernel would skip input it never read.
        if (1.0 / ratio >= state->table.wingLength) {
            FlexTableFree(&state->table);
            return kFlexBadParameters;
        }
        // Compaction keeps at most two wings; twice the history leaves room to append.
        state->capacity = 2 * state->table.historyLength;
        state->history = static_cast<float*>(
            AlignedCalloc(static_cast<size_t>(state->capacity) * channels, sizeof(float), __FILE__, __LINE__));
        if (!state->history) {
            FlexTableFree(&state->table);
            return kFlexOutOfMemory;
        }
        // Zeros before the first input put the output wingLength - 1 frames behind it.
        state->filled = 2 * state->table.wingLength - 2;
        state->centre = state->table.wingLength - 1;
        state->phase = startPosition;
    }
    state->self = state;
    return kFlexOk;
}

int FlexProcess(FlexFilter* state, const float* input, int inputCount, float* granule, int granuleSize) {
    if (!state || state->self != state || !granule || granuleSize <= 0) return kFlexNeedInput;
    FlexFilter& f = *state;
    if (!input || inputCount < 0) inputCount = 0;
    if (f.bypass) return Bypass(f, input, inputCount, granule, granuleSize);

    const int ch = f.channels;
    const int wing = f.table.wingLength;
    const double advance = 1.0 / f.ratio;
    while (f.granuleCount + ch <= granuleSize) {
        if (f.filled <= f.centre + wing) {
            const int rest = (inputCount - f.taken) / ch;  // whole frames only
            if (f.ended || (inputCount > 0 && rest <= 0)) break;
            Compact(f);
            float* end = f.history + static_cast<size_t>(f.filled) * ch;
            if (inputCount == 0) {
                std::memset(end, 0, sizeof(float) * static_cast<size_t>(f.capacity - f.filled) * ch);
                f.filled = f.capacity;
                f.ended = 1;
            } else {
                const int frames = std::min(rest, f.capacity - f.filled);
                std::memcpy(end, input + f.taken, sizeof(float) * static_cast<size_t>(frames) * ch);
                f.filled += frames;
                f.taken += frames * ch;
                f.consumed += frames;
            }
            continue;
        }
        Interpolate(f, granule + f.granuleCount);
        f.granuleCount += ch;
        f.phase += advance;
        const double whole = std::floor(f.phase);
        f.centre += static_cast<int>(whole);
        f.phase -= whole;
    }
    if (f.granuleCount + ch > granuleSize) {
        f.granuleCount = 0;
        return kFlexGranuleFull;
    }
    if (f.ended) std::memset(granule + f.granuleCount, 0, sizeof(float) * (granuleSize - f.granuleCount));
    f.taken = 0;
    return kFlexNeedInput;
}

int FlexOutputCount(const FlexFilter* state) { return state ? state->granuleCount : 0; }

int FlexDelay(const FlexFilter* state) {
    return state && state->self == state && !state->bypass ? state->table.delay : 0;
}

void FlexFree(FlexFilter* state) {
    if (!state || state->self != state) return;
    FlexTableFree(&state->table);
    AlignedFree(state->history);
    state->history = nullptr;
    state->self = nullptr;
}
