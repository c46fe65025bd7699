#include "ui/CpuSpeedLogic.h"

#include <gtest/gtest.h>

namespace {

TEST(CpuSpeedLogicTest, CannotBeConfirmedWithoutAChoice) {
    CCpuSpeedLogic logic;
    logic.FirstTick();
    EXPECT_FALSE(logic.OkEnabled());
    EXPECT_EQ(logic.PressOk(), CCpuSpeedLogic::kStayOpen);
    EXPECT_FALSE(logic.OkEnabled());
    logic.Choose(CCpuSpeedLogic::kSlower);
    EXPECT_TRUE(logic.OkEnabled());
    EXPECT_EQ(logic.PressOk(), CCpuSpeedLogic::kEndSlow);
    logic.Choose(CCpuSpeedLogic::kFaster);
    EXPECT_EQ(logic.PressOk(), CCpuSpeedLogic::kEndFast);
    EXPECT_EQ(CCpuSpeedLogic::FastCpuOf(1), 1);
    EXPECT_EQ(CCpuSpeedLogic::FastCpuOf(2), 0);
    EXPECT_EQ(CCpuSpeedLogic::FastCpuOf(0), 0);
}

}  // namespace
