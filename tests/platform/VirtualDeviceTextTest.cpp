// The three kinds of virtual device read their environment text alike: the
// keys they share mean the same, and a bad item refuses the whole text and
// leaves the caller's settings as they were.
#include <gtest/gtest.h>

#include "platform/VirtualAsio.h"
#include "platform/VirtualEndpoints.h"
#include "platform/VirtualWave.h"

namespace {

template <class Config>
struct Kind {
    int (*parse)(const char*, Config*);
    const char* ownSetting;  // one key only this kind takes
};

template <class Config>
void ExpectSharedKeysAndRefusals(const Kind<Config>& kind) {
    Config c;
    const std::string text = std::string("Desk,clock=sim,rate_error=0.5,tone=440,level=0.25,sink_seconds=3,") +
                             kind.ownSetting;
    ASSERT_EQ(kind.parse(text.c_str(), &c), 1) << text;
    EXPECT_EQ(c.name, "Desk");
    EXPECT_TRUE(c.simulatedClock);
    EXPECT_DOUBLE_EQ(c.rateErrorPercent, 0.5);
    EXPECT_DOUBLE_EQ(c.toneHz, 440);
    EXPECT_DOUBLE_EQ(c.toneLevel, 0.25);
    EXPECT_EQ(c.sinkSeconds, 3);
    for (const char* bad : {"Desk,clock=fast", "Desk,clock=1", "Desk,tone", "Desk,tone=1e7", "Desk,level=inf",
                            "Desk,sink_seconds=x", "Desk,volume=3", "Desk,tone=440,"}) {
        Config kept;
        kept.toneHz = 123;
        EXPECT_EQ(kind.parse(bad, &kept), 0) << bad;
        EXPECT_DOUBLE_EQ(kept.toneHz, 123) << bad;
    }
}

TEST(VirtualDeviceTextTest, EveryKindReadsTheSharedKeysAndRefusesABadItem) {
    ExpectSharedKeysAndRefusals(Kind<VirtualWaveConfig>{VirtualWaveParse, "source=/tmp/in.raw"});
    ExpectSharedKeysAndRefusals(Kind<VirtualAsioConfig>{VirtualAsioParse, "buffer=256"});
    ExpectSharedKeysAndRefusals(Kind<VirtualEndpointConfig>{VirtualEndpointParse, "block=20"});
}

TEST(VirtualDeviceTextTest, NoKindTakesATextWithoutAName) {
    VirtualWaveConfig wave;
    VirtualAsioConfig asio;
    VirtualEndpointConfig endpoint;
    EXPECT_EQ(VirtualWaveParse(",tone=440", &wave), 0);
    EXPECT_EQ(VirtualAsioParse(",tone=440", &asio), 0);
    EXPECT_EQ(VirtualEndpointParse(",tone=440", &endpoint), 0);
}

}  // namespace
