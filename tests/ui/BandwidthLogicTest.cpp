#include "ui/BandwidthLogic.h"

#include <gtest/gtest.h>

namespace {

TEST(BandwidthLogicTest, FiguresInKilobits) {
    CBandwidthLogic logic;
    logic.SetFigures(140800, 140000, 96000);
    EXPECT_EQ(logic.ProvidedText(), "RX: 140 kbps, TX: 96 kbps");
    EXPECT_EQ(logic.NeedText("incl protocol overhead"), "140 kbps (incl protocol overhead)");
    EXPECT_EQ(logic.Measured(), 96000);
}

TEST(BandwidthLogicTest, RemoteAnswers) {
    EXPECT_EQ(CBandwidthLogic::FromRemote(0), CBandwidthLogic::kNone);
    EXPECT_EQ(CBandwidthLogic::FromRemote(16), CBandwidthLogic::kDisconnect);
    EXPECT_EQ(CBandwidthLogic::FromRemote(32), CBandwidthLogic::kContinue);
    EXPECT_EQ(CBandwidthLogic::FromRemote(48), CBandwidthLogic::kTestAgain);
    EXPECT_EQ(CBandwidthLogic::FromRemote(-1), CBandwidthLogic::kTestAgain);
}

}  // namespace
