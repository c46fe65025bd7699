#include "ui/NumberRequestLogic.h"

#include <gtest/gtest.h>

#include "common/Settings.h"
#include "support/IniKeys.h"
#include "support/TempDir.h"

namespace {
struct NumberRequestLogicTest : ::testing::Test {
    CTempDir m_dir{"number-request"};
    CSettings m_settings{m_dir / "Velmora.Ini"};
};

TEST_F(NumberRequestLogicTest, EachKindReadsAndStoresItsOwnKeys) {
    m_settings.SetMiniISDNG711Number("111");
    m_settings.SetMiniISDNG722Number("222");
    m_settings.SetMiniISDNMp2Number(0, "330");
    m_settings.SetMiniISDNMp2Number(1, "331");
    CNumberRequestLogic phone(2), g722(8), mpeg(32), unknown(7);
    for (auto* l : {&phone, &g722, &mpeg, &unknown}) l->Load(m_settings);
    EXPECT_EQ(phone.Number(0), "111");
    EXPECT_EQ(g722.Number(0), "222");
    EXPECT_EQ(mpeg.Number(1), "331");
    EXPECT_EQ(unknown.Kind(), 2);
    EXPECT_FALSE(phone.HasSecondNumber());
    EXPECT_STREQ(mpeg.Caption(), "MPEG connection numbers");
    g722.SetNumber(0, "2222");
    ASSERT_TRUE(g722.Dial(m_settings));
    EXPECT_EQ(m_settings.GetMiniISDNG722Number(), "2222");
    EXPECT_EQ(m_settings.GetMiniISDNG711Number(), "111");
}

TEST_F(NumberRequestLogicTest, EmptyFirstNumberIsRefusedAndBlankSecondTakesTheFirst) {
    CNumberRequestLogic mpeg(32);
    EXPECT_FALSE(mpeg.Dial(m_settings));
    EXPECT_TRUE(IniKeys(m_settings.GetPath()).empty());
    mpeg.SetNumber(0, "0301234");
    ASSERT_TRUE(mpeg.Dial(m_settings));
    EXPECT_EQ(mpeg.Number(1), "0301234");
    EXPECT_EQ(m_settings.GetMiniISDNMp2Number(1), "");  // only in the dialog
    char small[4];
    mpeg.GetNumber(1, small, sizeof small);
    EXPECT_STREQ(small, "030");
}
}  // namespace
