#include "mp3enc/l3core/core/psych/PsyParam.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

constexpr float kFloatMax = 3.4028235e38f;

// Each tuning option, long name and short name, writes one field of a set.
EncError* OptionError(const char* name) {
    return ErrorCreate(__FILE__, __LINE__, name, "invalid value for option \"%s\"", name);
}

EncError* GetFloatOption(const char* name, float minimum, float maximum, const char* help, float* field) {
    return UciGetFloat(name, minimum, maximum, help, "", field) == kUciDone ? nullptr : OptionError(name);
}

EncError* GetIntOption(const char* name, int minimum, int maximum, const char* help, int32_t* field) {
    int v = *field;
    if (UciGetInt(name, minimum, maximum, help, "", &v) != kUciDone) return OptionError(name);
    *field = v;
    return nullptr;
}

// peMin and peMax are integers kept in the float coding record.
EncError* GetIntIntoFloat(const char* name, const char* help, float* field) {
    int v = static_cast<int>(*field);
    if (UciGetInt(name, 0, 10000, help, "", &v) != kUciDone) return OptionError(name);
    *field = static_cast<float>(v);
    return nullptr;
}

EncError* RegisterOptions(PsyParam* p, bool isLong, int fftLength) {
    ThrParam* t = p->thr;
    float* cod = p->cod->values;
    auto n = [isLong](const char* longName, const char* shortName) { return isLong ? longName : shortName; };
    EncError* e = nullptr;
    if (!e) e = GetFloatOption(n("NMT", "NMT_S"), 0, kFloatMax, "noise masking tone", &t->nmtDb);
    if (!e) e = GetFloatOption(n("TMN", "TMN_S"), 0, kFloatMax, "tone masking noise", &t->tmnDb);
    if (!e)
        e = GetFloatOption(n("masklow", "masklow_S"), 0, kFloatMax,
                           "slope of the spreading function toward low frequencies", &t->maskLow);
    if (!e)
        e = GetFloatOption(n("maskhigh", "maskhigh_S"), 0, kFloatMax, "slope of the spreading function toward high frequencies",
                           &t->maskHigh);
    if (!e) {
        int noHole = 0;
        if (UciGetSwitch(n("maskNoHole", "maskNoHole_S"), "no suspension hole in the spreading function", "", &noHole) !=
            kUciDone)
            e = OptionError(n("maskNoHole", "maskNoHole_S"));
        else if (noHole)
            t->noHole = 1;
    }
    if (!e)
        e = GetFloatOption(n("TONE_LIMIT_FREQ", "TONE_LIMIT_FREQ_S"), 0, kFloatMax,
                           "frequency limit of the tonality computation", &t->toneLimitHz);
    if (!e)
        e = GetIntOption(n("CB_MODE", "CB_MODE_S"), 0, fftLength,
                         "number of bands that use the minimum instead of the mean threshold", &t->cbMode);
    if (!e)
        e = GetIntOption(n("CHAOS_METHOD", "CHAOS_METHOD_S"), 0, 4,
                         "0: euclidic dist., 1: fast euclidic dist., 2: peak filter, 3: fast peak filter, 4: combination of 0 and 2",
                         &t->chaosMethod);
    if (!e)
        e = GetFloatOption(n("TONE_COMB_LIMIT_FREQ", "TONE_COMB_LIMIT_FREQ_S"), 0, kFloatMax,
                           "frequency limit of the peak-filter part of method 4", &t->combLimitHz);
    if (!e) e = GetFloatOption(n("rpmin", "rpmin_s"), 0, 1, "maximum pre-echo control impact", &t->preEchoMin);
    if (!e) {
        float rpre = 0;
        e = GetFloatOption(n("rpre", "rpre_s"), 1, kFloatMax, "pre-echo control ratio", &rpre);
        if (!e && rpre != 0)
            for (float& r : t->preEchoRatio) r = rpre;
    }
    if (!e) e = GetIntIntoFloat(n("peMin", "peMin_s"), "reservoir tuning: perceptual entropy limits", &cod[kCodPeMin]);
    if (!e) e = GetIntIntoFloat(n("peMax", "peMax_s"), "reservoir tuning: perceptual entropy limits", &cod[kCodPeMax]);
    if (!e) e = GetFloatOption(n("minBitSp", "minBitSp_s"), 0, 10000, "reservoir tuning: minimum bit spend", &cod[kCodMinBitSp]);
    if (!e) e = GetFloatOption(n("maxBitSp", "maxBitSp_s"), 0, 10000, "reservoir tuning: maximum bit spend", &cod[kCodMaxBitSp]);
    if (!e) e = GetFloatOption("bw", 0, 48000, "Encoder bandwidth", &cod[0]);
    return e;
}

int Trunc(float v) { return static_cast<int>(v); }

// The line limits that follow from the bandwidth; the bandwidth option may
// ask for more than half the sample rate, which no line can carry.
void SetLineLimits(PsyParam* p) {
    const float fs = p->sampleRate;
    const int n = p->sfb->lineCount;
    const int h = p->halfFft;
    const float bw = std::fmin(p->cod->values[0], 0.5f * fs);
    p->mdctLowpass = Trunc(n * 2.0f * bw / fs);
    int& u = p->sfb->lineLimit;
    if (bw > u * (fs / 2) / n) u = std::min(n, Trunc(bw / (fs / 2) * n + 0.5f));
    p->fftLimit = std::min(Trunc(static_cast<float>(h) / n * u + 0.5f), Trunc(p->mdctLowpass * static_cast<float>(h) / n + 0.5f));
    p->toneLimit = std::min(p->fftLimit, Trunc(h * p->thr->toneLimitHz / (0.5f * fs) + 0.5f));
    p->combLimit = std::min(p->fftLimit, Trunc(h * p->thr->combLimitHz / (0.5f * fs) + 0.5f));
}

}  // namespace

EncError* CreatePsyParam(PsyParam** out, int fftLength, int mdctLines, float sampleRate, int bitRatePerChannel,
                         int stereo, int blockKind, int complexMdct) {
    (void)complexMdct;  // the partition table, not the set, depends on it
    if (!out) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    *out = nullptr;
    const bool isLong = blockKind == 0 || blockKind == 1 || blockKind == 3;
    if (!isLong && blockKind != 2) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid block type parameter");
    if (fftLength < 4 || fftLength % 2 != 0 || mdctLines < 1 || !(sampleRate > 0))
        return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameters");
    auto* p = static_cast<PsyParam*>(AlignedCalloc(1, sizeof(PsyParam), __FILE__, __LINE__));
    if (!p) return ErrorCreate(__FILE__, __LINE__, nullptr, "out of memory");
    p->sampleRate = sampleRate;
    p->bitRate = bitRatePerChannel;
    p->halfFft = fftLength / 2;
    p->sfb = SfbParamCreate(blockKind, sampleRate);
    p->thr = p->sfb ? ThrParamCreate(blockKind, bitRatePerChannel, stereo) : nullptr;
    p->cod = p->thr ? CodParamCreate(blockKind, bitRatePerChannel, sampleRate, stereo) : nullptr;
    EncError* e = nullptr;
    if (!p->sfb)
        e = ErrorCreate(__FILE__, __LINE__, nullptr, "error initializing sfbParam");
    else if (!p->thr)
        e = ErrorCreate(__FILE__, __LINE__, nullptr, "error initializing thrParam");
    else if (!p->cod)
        e = ErrorCreate(__FILE__, __LINE__, nullptr,
                        "error initializing codParam: no parameter set found for this combination of bit rate, "
                        "sample rate and channel mode");
    else
        e = RegisterOptions(p, isLong, fftLength);
    if (e) {
        DeletePsyParam(p);
        return e;
    }
    SetLineLimits(p);
    *out = p;
    return nullptr;
}

void DeletePsyParam(PsyParam* set) {
    if (!set) return;
    SfbParamFree(set->sfb);
    ThrParamFree(set->thr);
    CodParamFree(set->cod);
    AlignedFree(set);
}

float BarkOf(float hz) {
    const float a = std::atan(hz / 7500.0f);
    return 13.3f * std::atan(0.00076f * hz) + 3.5f * a * a;
}

namespace {

struct Border {
    int line;    // the border chosen
    float error;  // its distance from the frequency, relative to the frequency
};

// The band holding a line among starts [0, n]; n when the line is at or above start[n].
int BandOfLine(int line, const SfbParam* s) {
    const int n = s->bandCount;
    if (line >= s->start[n]) return n;
    int i = 0;
    while (s->start[i + 1] <= line) ++i;
    return i;
}

Border Nearest(float hz, float hzPerLine, const SfbParam* s) {
    const int line = Trunc(hz / hzPerLine + 0.5f);
    const int i = BandOfLine(line, s);
    int border = s->start[i];
    if (i < s->bandCount && s->start[i + 1] - line < line - s->start[i]) border = s->start[i + 1];
    return {border, std::fabs(border * hzPerLine - hz) / hz};
}

Border Below(float hz, float hzPerLine, const SfbParam* s) {
    const int line = Trunc(hz / hzPerLine + 0.5f);
    const int border = s->start[BandOfLine(line, s)];
    return {border, std::fabs(border * hzPerLine - hz) / hz};
}

// The nearest border within 2.5 %, else the one below within 5 %, else none.
void AdjustOne(PsyParam* p, float hzPerLine) {
    const float bw = p->cod->values[0];
    if (!(bw > 0)) return;
    const Border d = Nearest(bw, hzPerLine, p->sfb);
    if (d.error <= 0.025f) {
        p->mdctLowpass = d.line;
        return;
    }
    const Border e = Below(bw, hzPerLine, p->sfb);
    if (e.error <= 0.05f) p->mdctLowpass = e.line;
}

Border NearOrBelow(float hz, float hzPerLine, const SfbParam* s) {
    const Border d = Nearest(hz, hzPerLine, s);
    return d.error < 0.025f ? d : Below(hz, hzPerLine, s);
}

}  // namespace

void AdjustLowpass(float sampleRate, PsyParam* longSet, PsyParam* shortSet) {
    if (!longSet || !shortSet || !(sampleRate > 0)) return;
    const float h = (sampleRate / 2) / 576.0f;
    const float g = (sampleRate / 2) / 192.0f;
    AdjustOne(longSet, h);
    AdjustOne(shortSet, g);
    if (longSet->cod->values[0] != shortSet->cod->values[0]) return;
    const float longHz = longSet->mdctLowpass * h;
    const float shortHz = shortSet->mdctLowpass * g;
    if (!(longHz > 0) || !(shortHz > 0)) return;
    const Border sB = NearOrBelow(longHz, g, shortSet->sfb);
    const Border lB = NearOrBelow(shortHz, h, longSet->sfb);
    if (lB.error < sB.error)
        longSet->mdctLowpass = lB.error > 0.05f ? 3 * shortSet->mdctLowpass : lB.line;
    else
        shortSet->mdctLowpass = sB.error > 0.05f ? Trunc(longSet->mdctLowpass / 3.0f + 0.5f) : sB.line;
}
