#include "mp3enc/resample/Resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "mp3enc/util/AlignedAlloc.h"

struct Resampler {
    int channels;
    int up;      // U
    int down;    // D
    int mode;    // 0 pass-through, 1 filter
    int taps;    // padded to a multiple of U
    int branchLength;
    int perPhase;  // B = 1025 - branch length
    int inputBlock, outputBlock, delay;
    int historyLength;
    float* branches;  // U phases x branchLength, scaled by U
    float* work;      // per channel: history followed by one block
};

namespace {
constexpr double kPi = 3.14159265358979323846;

long long Gcd(long long a, long long b) {
    while (b) {
        const long long t = a % b;
        a = b;
        b = t;
    }
    return a;
}

double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 500; ++k) {
        const double f = (x / 2.0) / k;
        term *= f * f;
        sum += term;
        if (term < 1e-21 * sum) break;
    }
    return sum;
}

// Kaiser-windowed sinc, normalised to the design gain; false when refused.
bool Design(ResamplerDesign& d, int& n, double*& h) {
    const double a = d.attenuation;
    if (d.taps <= 0) {
        if (!(d.transitionWidth > 0.0f)) return false;
        n = static_cast<int>((a - 7.95) / (14.36 * 1.66 * d.transitionWidth) + 1.0);
    } else {
        n = d.taps;
        d.transitionWidth = static_cast<float>((a - 7.95) / (14.36 * 1.66 * n));
    }
    if (n < 1 || n >= 2049) return false;
    d.beta = (a < 25.0 || a > 140.0) ? 0.0
             : a > 50.0            ? 0.1102 * (a - 8.7)
                                   : 0.5842 * std::pow(a - 21.0, 0.4) + 0.07886 * (a - 21.0);
    h = new (std::nothrow) double[static_cast<size_t>(n)];
    if (!h) return false;
    const double i0b = BesselI0(d.beta);
    const double fc = d.stopEdge - 0.5 * 1.66 * d.transitionWidth;
    if (n % 2) {
        const int c = (n - 1) / 2;
        h[c] = 2.0 * kPi * fc;
        for (int k = 1; k <= c; ++k) {
            const double r = static_cast<double>(k) / c;
            const double w = BesselI0(d.beta * std::sqrt(std::max(0.0, 1.0 - r * r + 4e-16))) / i0b;
            h[c + k] = h[c - k] = w * std::sin(2.0 * kPi * fc * k) / k;
        }
    } else {
        const int c = n / 2;
        for (int i = 0; i < c; ++i) {
            const double r = (i + 0.5) / c;
            const double w = BesselI0(d.beta * std::sqrt(std::max(0.0, 1.0 - r * r - 4e-16))) / i0b;
            h[c + i] = h[c - 1 - i] = w * std::sin(2.0 * kPi * fc * (i + 0.5)) / (i + 0.5);
        }
    }
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += h[i];
    if (sum == 0.0) {
        delete[] h;
        h = nullptr;
        return false;
    }
    for (int i = 0; i < n; ++i) h[i] *= d.gain / sum;
    return true;
}
}  // namespace

void ResamplerDesignFor(ResamplerDesign* d, int inputRate, int outputRate, float passBand) {
    if (!d || inputRate < 1 || outputRate < 1) return;
    const double l = static_cast<double>(inputRate) * outputRate / Gcd(inputRate, outputRate);
    d->stopEdge = static_cast<float>((outputRate - passBand) / l);
    d->transitionWidth = static_cast<float>((outputRate - 2.0 * passBand) / l);
}

int ResamplerCreate(Resampler** object, ResamplerDesign* design, int channels, int inputRate, int outputRate,
                    int* inputBlock, int* outputBlock) {
    if (!object) return 0;
    *object = nullptr;
    if (!design || inputRate < 1 || outputRate < 1 || channels < 1 || channels > 2) return 0;
    const long long g = Gcd(inputRate, outputRate);
    const int up = static_cast<int>(outputRate / g), down = static_cast<int>(inputRate / g);
    int mode = 1;
    if (up != down) {
        if (static_cast<long long>(up) * down >= 256) return 0;
    } else if (design->stopEdge == 0.0f) {
        mode = 0;
    }
    auto* r = new (std::nothrow) Resampler{};
    if (!r) return 0;
    r->channels = channels;
    r->up = up;
    r->down = down;
    r->mode = mode;
    if (mode == 0) {
        r->inputBlock = r->outputBlock = channels * 1024;
        *inputBlock = r->inputBlock;
        *outputBlock = r->outputBlock;
        *object = r;
        return 1;
    }
    int n = 0;
    double* h = nullptr;
    if (!Design(*design, n, h)) {
        delete r;
        return 0;
    }
    const int ud = up * down;
    int l = n / ud;
    if (n % ud) ++l;
    if (l >= 1015) {
        delete[] h;
        delete r;
        return 0;
    }
    const int padded = ud * l;
    r->taps = padded;
    r->branchLength = (padded + up - 1) / up;
    r->perPhase = 1025 - l;
    r->inputBlock = channels * down * r->perPhase;
    r->outputBlock = channels * up * r->perPhase;
    r->delay = (padded - 1) / (2 * down);
    r->historyLength = r->branchLength + 1;
    r->branches = static_cast<float*>(
        AlignedCalloc(static_cast<size_t>(up) * r->branchLength, sizeof(float), __FILE__, __LINE__));
    r->work = static_cast<float*>(AlignedCalloc(static_cast<size_t>(channels) * (r->historyLength + down * r->perPhase),
                                                sizeof(float), __FILE__, __LINE__));
    if (!r->branches || !r->work) {
        delete[] h;
        ResamplerDestroy(r);
        return 0;
    }
    // Branch p holds U h[p + jU]: the taps that meet real input samples at output phase p.
    for (int p = 0; p < up; ++p)
        for (int j = 0; j < r->branchLength; ++j) {
            const int k = p + j * up;
            r->branches[p * r->branchLength + j] = k < n ? static_cast<float>(up * h[k]) : 0.0f;
        }
    if (design->coefficients)
        for (int i = 0; i < n; ++i) design->coefficients[i] = h[i];
    delete[] h;
    design->taps = n;
    *inputBlock = r->inputBlock;
    *outputBlock = r->outputBlock;
    *object = r;
    return 1;
}

void ResamplerProcess(Resampler* r, float* input, float* output, int* inputCount, int* outputCount) {
    if (!r || !input || !output || !inputCount || !outputCount) return;
    if (r->mode == 0) {
        *outputCount = 0;
        return;
    }
    int given = *inputCount;
    if (given < 0) given = 0;
    if (given > r->inputBlock) given = r->inputBlock;
    given -= given % (r->channels * r->down);
    for (int i = given; i < r->inputBlock; ++i) input[i] = 0.0f;
    const int ch = r->channels;
    const int frames = given / ch;
    const int outFrames = frames / r->down * r->up;
    const int span = r->historyLength + r->down * r->perPhase;
    for (int c = 0; c < ch; ++c) {
        float* x = r->work + c * span;
        float* block = x + r->historyLength;
        for (int i = 0; i < frames; ++i) block[i] = input[i * ch + c];
        for (int m = 0; m < outFrames; ++m) {
            const long long base = static_cast<long long>(m) * r->down;
            const int phase = static_cast<int>(base % r->up);
            const int n0 = static_cast<int>(base / r->up);
            const float* b = r->branches + phase * r->branchLength;
            const float* at = block + n0;
            float s = 0.0f;
            for (int j = 0; j < r->branchLength; ++j) s += b[j] * at[-j];
            output[m * ch + c] = s;
        }
        std::memmove(x, x + frames, sizeof(float) * static_cast<size_t>(r->historyLength));
    }
    *inputCount = given;
    *outputCount = outFrames * ch;
}

void ResamplerDestroy(Resampler* r) {
    if (!r) return;
    AlignedFree(r->branches);
    AlignedFree(r->work);
    delete r;
}

int ResamplerDelay(const Resampler* r) { return r ? r->delay : 0; }
int ResamplerTaps(const Resampler* r) { return r ? r->taps : 0; }
