// Stereo PCM through the psychoacoustic model, the quantisation loop and the
// bitstream writer (joint stereo, CRC on), as one stream: the path the
// encoder takes, for the model tests that check streams in peers.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "PsyTestSupport.h"
#include "mp3enc/l3core/core/bitmux/BitstreamEncoder.h"
#include "mp3enc/l3core/core/psych/PsyHandOver.h"

namespace psytest {

// Granules of each kind the model handed over.
struct ModelStreamCounts {
    int shortGranules = 0;  // short or mixed
    int midSideGranules = 0;
    int intensityGranules = 0;
    int shortIntensityGranules = 0;  // short or mixed with intensity
};

inline std::vector<uint8_t> EncodeModelStream(const std::vector<int16_t>& pcm, int hz, int bitRate, int allowIntensity,
                                              ModelStreamCounts* counts) {
    *counts = ModelStreamCounts{};
    std::vector<uint8_t> stream;
    PsyMain* model = nullptr;
    EXPECT_EQ(TakeMessage(CreatePsychoacousticModel(&model, 2, hz > 24000 ? 2 : 1, hz, bitRate, 1, allowIntensity)),
              "");
    BitstreamEncoder* writer = nullptr;
    EXPECT_EQ(TakeMessage(CreateBitstreamEncoder(hz, bitRate, 0, 1, 0, 0, 1, 0, 1, 0, &writer)), "");
    LoopKernel* loop = CreateLoopKernel(hz, 2);
    EXPECT_NE(loop, nullptr);
    if (model && writer && loop) {
        PsyHandOver h;
        InitPsyHandOver(&h, model);
        std::vector<float> granule(2 * 576);
        std::vector<uint8_t> out(16000);
        int budgets[4] = {0, 0, 0, 0};
        const size_t granules = pcm.size() / 2 / 576;
        for (size_t g = 0; g < granules; ++g) {
            for (int i = 0; i < 576; ++i)
                for (int c = 0; c < 2; ++c) granule[c * 576 + i] = pcm[(g * 576 + i) * 2 + c];
            AdvancePsychoacousticModel(model, granule.data());
            FillPsyHandOver(&h, model);
            counts->shortGranules += h.granule.channel[0].blockType == 2 || h.granule.channel[0].blockType == 5;
            counts->midSideGranules += h.granule.channel[0].midSide;
            counts->intensityGranules += h.granule.channel[1].intensity;
            counts->shortIntensityGranules +=
                h.granule.channel[1].intensity && (h.granule.channel[1].blockType == 2 || h.granule.channel[1].blockType == 5);
            EXPECT_EQ(AdvanceBitstreamEncoder(writer, &h.granule, 0, budgets), 1);
            EXPECT_EQ(AdvanceLoopKernel(loop, h.loop, budgets), 1) << g;
            if (!loop->frame.complete) continue;
            int n = 0;
            WriteBitstream(writer, &loop->frame, nullptr, nullptr, &n, out.data(), static_cast<int>(out.size()));
            stream.insert(stream.end(), out.begin(), out.begin() + n);
        }
        int n = 0;
        FlushBitstreamEncoder(writer, &n, out.data(), static_cast<int>(out.size()));
        stream.insert(stream.end(), out.begin(), out.begin() + n);
    }
    DeleteLoopKernel(loop);
    DeleteBitstreamEncoder(writer);
    DeletePsychoacousticModel(model);
    return stream;
}

}  // namespace psytest
