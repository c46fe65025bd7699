#include "codecs/g722/G722Core.h"

#include "codecs/g722/G722Tables.h"
#include "codecs/g722/Q15.h"

namespace g722 {
namespace {

constexpr int kValueShift = 3;           // table magnitudes are used times 8
constexpr int16_t kLeak = 32512;         // 127/128: scale-factor and AL2 leakage
constexpr int16_t kLeak256 = 32640;      // 255/256: AL1 and zero-section leakage
constexpr int16_t kNbLowMax = 18432;
constexpr int16_t kNbHighMax = 22528;
constexpr int kIlaLowOffset = 64;
constexpr int16_t kA2Limit = 12288;
constexpr int16_t kA1Bound = 15360;
constexpr int16_t kPoleGain2 = 128;
constexpr int16_t kPoleGain1 = 192;
constexpr int16_t kZeroGain = 128;
constexpr int kQmfInShift = 14;
constexpr int kQmfOutShift = 11;

// Sign as the recommendation compares it: the sign bit (0 counts as positive).
constexpr int Sign(int16_t v) { return v < 0 ? -1 : 0; }

// Magnitude for the quantiser decisions: the ones' complement of a negative value.
constexpr int16_t Magnitude(int16_t e) { return e >= 0 ? e : static_cast<int16_t>(~e); }

// Scaled inverse-quantiser output: +/- (magnitude << 3) * det in Q15.
int16_t Dequantise(int16_t magnitude, int sign, int16_t det) {
    int16_t wd = Shl16(magnitude, kValueShift);
    if (sign < 0) wd = SatNeg16(wd);
    return MulQ15(det, wd);
}

// Log scale factor update (LOGSCL / LOGSCH) with the sub-band's upper limit.
int16_t AdaptLogScale(int16_t nb, int16_t w, int16_t limit) {
    const int16_t nbp = SatAdd16(MulQ15(nb, kLeak), w);
    return nbp < 0 ? 0 : (nbp > limit ? limit : nbp);
}

// Log to linear scale factor (SCALEL / SCALEH): one look-up, times 4.
int16_t LinearScale(int16_t nbp, int offset) {
    return Shl16(static_cast<int16_t>(kIla[(nbp >> 6) + offset] + 1), 2);
}

// RECONS, PARREC, UPPOL2, UPPOL1, UPZERO, DELAYA, FILTEP, FILTEZ, PREDIC: update
// the predictor with the quantised difference d and predict the next sample.
void AdaptPredictor(BandState& b, int16_t d) {
    const int16_t r = SatAdd16(b.s, d);
    const int16_t p = SatAdd16(d, b.sz);

    const int sg0 = Sign(p), sg1 = Sign(b.p1), sg2 = Sign(b.p2);
    int16_t wd1 = Shl16(b.a1, 2);
    const int16_t wd2 = sg0 == sg1 ? SatNeg16(wd1) : wd1;
    int16_t a2 = SatAdd16(static_cast<int16_t>(wd2 >> 7), sg0 == sg2 ? kPoleGain2 : -kPoleGain2);
    a2 = SatAdd16(a2, MulQ15(b.a2, kLeak));
    a2 = a2 > kA2Limit ? kA2Limit : (a2 < -kA2Limit ? -kA2Limit : a2);

    int16_t a1 = SatAdd16(sg0 == sg1 ? kPoleGain1 : -kPoleGain1, MulQ15(b.a1, kLeak256));
    const int16_t bound = SatSub16(kA1Bound, a2);
    a1 = a1 > bound ? bound : (a1 < -bound ? SatNeg16(bound) : a1);

    const int16_t gain = d == 0 ? 0 : kZeroGain;
    const int sgd = Sign(d);
    for (int i = 1; i <= 6; ++i) {
        const int16_t step = Sign(b.d[i]) == sgd ? gain : static_cast<int16_t>(-gain);
        b.b[i] = SatAdd16(step, MulQ15(b.b[i], kLeak256));
    }

    for (int i = 6; i > 1; --i) b.d[i] = b.d[i - 1];
    b.d[1] = d;
    b.r2 = b.r1;
    b.r1 = r;
    b.p2 = b.p1;
    b.p1 = p;
    b.a1 = a1;
    b.a2 = a2;

    wd1 = MulQ15(b.a1, SatAdd16(b.r1, b.r1));
    const int16_t sp = SatAdd16(wd1, MulQ15(b.a2, SatAdd16(b.r2, b.r2)));
    int16_t sz = 0;
    for (int i = 1; i <= 6; ++i) sz = SatAdd16(sz, MulQ15(b.b[i], SatAdd16(b.d[i], b.d[i])));
    b.sz = sz;
    b.s = SatAdd16(sp, sz);
}

// INVQAL, LOGSCL, SCALEL and the predictor, from the 4-bit view of the code.
void UpdateLow(BandState& b, int il) {
    const int ril = il >> 2;
    const int16_t d = Dequantise(kQq4[kIl4[ril]], kSil4[ril], b.det);
    b.nb = AdaptLogScale(b.nb, kWl[kIl4[ril]], kNbLowMax);
    b.det = LinearScale(b.nb, kIlaLowOffset);
    AdaptPredictor(b, d);
}

// INVQAH, LOGSCH, SCALEH and the predictor.
void UpdateHigh(BandState& b, int ih) {
    const int16_t d = Dequantise(kQq2[kIh2[ih]], kSih2[ih], b.det);
    b.nb = AdaptLogScale(b.nb, kWh[kIh2[ih]], kNbHighMax);
    b.det = LinearScale(b.nb, 0);
    AdaptPredictor(b, d);
}

int EncodeLow(BandState& b, int16_t xl) {
    const int16_t e = SatSub16(xl, b.s);
    const int16_t wd = Magnitude(e);
    int m = 1;  // quantiser interval 1..30
    while (m < 30 && wd >= MulQ15(Shl16(kQ6[m], kValueShift), b.det)) ++m;
    const int il = e < 0 ? kIln[m] : kIlp[m];
    UpdateLow(b, il);
    return il;
}

int EncodeHigh(BandState& b, int16_t xh) {
    const int16_t e = SatSub16(xh, b.s);
    const int m = Magnitude(e) >= MulQ15(Shl16(kQ2[1], kValueShift), b.det) ? 2 : 1;
    const int ih = e < 0 ? kIhn[m] : kIhp[m];
    UpdateHigh(b, ih);
    return ih;
}

int16_t DecodeLow(BandState& b, int il) {
    const int16_t dl = Dequantise(kQq6[kIl6[il]], kSil6[il], b.det);  // 6-bit INVQBL
    const int16_t out = Limit15(SatAdd16(b.s, dl));
    UpdateLow(b, il);
    return out;
}

int16_t DecodeHigh(BandState& b, int ih) {
    const int16_t dh = Dequantise(kQq2[kIh2[ih]], kSih2[ih], b.det);
    const int16_t out = Limit15(SatAdd16(b.s, dh));
    UpdateHigh(b, ih);
    return out;
}

void ResetBand(BandState& b, int16_t det) {
    b = BandState{};
    b.det = det;
}

}  // namespace

void Reset(EncoderState& state) {
    state = EncoderState{};
    ResetBand(state.low, kResetDetLow);
    ResetBand(state.high, kResetDetHigh);
}

void Reset(DecoderState& state) {
    state = DecoderState{};
    ResetBand(state.low, kResetDetLow);
    ResetBand(state.high, kResetDetHigh);
}

uint8_t EncodePair(EncoderState& state, int16_t first, int16_t second) {
    int16_t* x = state.x;
    for (int i = 23; i > 1; --i) x[i] = x[i - 2];
    x[1] = first;
    x[0] = second;
    // Even taps weigh the newest sample, odd taps the one before.
    int32_t even = 0, odd = 0;
    for (int i = 0; i < 12; ++i) {
        even += int32_t{kQmfCoefficients[2 * i]} * x[2 * i];
        odd += int32_t{kQmfCoefficients[2 * i + 1]} * x[2 * i + 1];
    }
    const int16_t xl = Limit15((even + odd) >> kQmfInShift);
    const int16_t xh = Limit15((even - odd) >> kQmfInShift);
    const int il = EncodeLow(state.low, xl);
    const int ih = EncodeHigh(state.high, xh);
    return static_cast<uint8_t>((ih << 6) | il);
}

void DecodeByte(DecoderState& state, uint8_t code, int16_t* first, int16_t* second) {
    const int16_t rl = DecodeLow(state.low, code & 0x3F);
    const int16_t rh = DecodeHigh(state.high, code >> 6);
    for (int i = 11; i > 0; --i) {
        state.xd[i] = state.xd[i - 1];
        state.xs[i] = state.xs[i - 1];
    }
    state.xd[0] = SatSub16(rl, rh);
    state.xs[0] = SatAdd16(rl, rh);
    int32_t even = 0, odd = 0;
    for (int i = 0; i < 12; ++i) {
        even += int32_t{kQmfCoefficients[2 * i]} * state.xd[i];
        odd += int32_t{kQmfCoefficients[2 * i + 1]} * state.xs[i];
    }
    *first = Sat16(even >> kQmfOutShift);
    *second = Sat16(odd >> kQmfOutShift);
}

}  // namespace g722
