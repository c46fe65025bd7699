#pragma once
// Integer-ratio sample-rate converter ahead of the second engine: up by U,
// Kaiser-windowed low-pass, down by D (U/D the reduced ratio of output to
// input rate), or a band-limiting filter at ratio 1. It works on blocks of the
// fixed size it announces at creation; history carries across blocks.
// Allocates at creation only. One thread per object.

struct ResamplerDesign {
    double gain;             // DC gain of the finished filter (the front end gives 1.0)
    double* coefficients;    // filled by the design, owned by the design step (may be null)
    double beta;             // Kaiser beta, computed
    float stopEdge;          // (output rate - pass band) / L
    float transitionWidth;   // (output rate - 2 pass band) / L
    float attenuation;       // dB (the front end gives 90.0)
    int taps;                // 0: from the transition width
};

struct Resampler;

// Fills stopEdge and transitionWidth of the design for a pass band in Hz.
void ResamplerDesignFor(ResamplerDesign* design, int inputRate, int outputRate, float passBand);
// 1 on success, 0 for a rate below 1, a refused design or no memory.
int ResamplerCreate(Resampler** object, ResamplerDesign* design, int channels, int inputRate, int outputRate,
                    int* inputBlock, int* outputBlock);
// One input block of interleaved floats in, U x (samples per channel / D)
// samples per channel out. *inputCount: samples given (zero-filled up to the
// block), left as the samples processed.
void ResamplerProcess(Resampler* object, float* input, float* output, int* inputCount, int* outputCount);
void ResamplerDestroy(Resampler* object);
int ResamplerDelay(const Resampler* object);  // output samples
int ResamplerTaps(const Resampler* object);
