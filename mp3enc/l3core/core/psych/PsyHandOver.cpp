#include "mp3enc/l3core/core/psych/PsyHandOver.h"

void InitPsyHandOver(PsyHandOver* h, const PsyMain* m) {
    h->demandLong = DemandParamFromRecord(m->conf->psy[0]->cod->values);
    h->demandShort = DemandParamFromRecord(m->conf->psy[1]->cod->values);
    h->granule = PsyGranule{};
    h->loop = LoopGranuleInput{};
}

void FillPsyHandOver(PsyHandOver* h, const PsyMain* m) {
    PsyGranule& g = h->granule;
    LoopGranuleInput& in = h->loop;
    g.channels = in.channels = m->channels;
    g.granule = in.granule = m->granule;
    g.demandLong = &h->demandLong;
    g.demandShort = &h->demandShort;
    for (int c = 0; c < m->channels; ++c) {
        const TraChan* t = m->transform[c];
        const CodChan* cod = m->coding[c];
        PsyGranuleChannel& p = g.channel[c];
        p.blockType = t->blockType;
        p.spectrum = t->spectrum;
        p.thresholdLong = cod->distLong;
        p.midSide = t->midSide;
        p.intensity = t->intensity ? 1 : 0;
        LoopChannelInput& q = in.channel[c];
        q.blockType = t->blockType;
        q.spectrum = t->spectrum;
        q.energyLong = cod->energyLong;
        q.distLong = cod->distLong;
        q.intensity = t->intensity;
        for (int w = 0; w < kShortWindows; ++w) {
            p.thresholdShort[w] = cod->distShort[w];
            q.energyShort[w] = cod->energyShort[w];
            q.distShort[w] = cod->distShort[w];
        }
    }
}
