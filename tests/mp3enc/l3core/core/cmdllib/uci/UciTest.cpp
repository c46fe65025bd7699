#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"

namespace {
struct Scope {
    Scope() { EXPECT_EQ(UciBegin(), kUciDone); }
    ~Scope() { UciEnd(); }
};
}  // namespace

TEST(Uci, TypedGettersStoreInRangeValuesAndKeepDefaultsOtherwise) {
    Scope scope;
    ASSERT_EQ(UciSet("mol", "400"), kUciDone);
    int mol = 7;
    EXPECT_EQ(UciGetIntVector("mol", 1, 1, 1000, "", "", &mol), kUciDone);
    EXPECT_EQ(mol, 400);

    UciSet("big", "1001");
    int big = 7;
    EXPECT_EQ(UciGetIntVector("big", 1, 1, 1000, "", "long help", &big), kUciRangeFailed);
    EXPECT_EQ(big, 7);
    EXPECT_EQ(UciGetInt("big", 1, 1000, "", "", &big), kUciRangeFailed);  // the failure sticks

    UciSet("three", "1 2 3");
    int two[2] = {0, 0};
    EXPECT_EQ(UciGetIntVector("three", 2, 0, 0, "", "", two), kUciTooMany);
    EXPECT_EQ(two[0], 1);
    EXPECT_EQ(two[1], 2);
    int four[4] = {9, 9, 9, 9};
    EXPECT_EQ(UciGetIntVector("three", 4, 0, 0, "", "", four), kUciTooFew);
    EXPECT_EQ(four[0], 1);
    EXPECT_EQ(four[2], 9);  // the last token present is not stored

    UciSet("bases", "0x1F 017 -12");
    int bases[3];
    EXPECT_EQ(UciGetIntVector("bases", 3, 0, 0, "", "", bases), kUciDone);
    EXPECT_EQ(bases[0], 31);
    EXPECT_EQ(bases[1], 15);
    EXPECT_EQ(bases[2], -12);

    UciSet("bw", "15500.5");
    float bw = 0.0f;
    EXPECT_EQ(UciGetFloat("bw", 0.0f, 24000.0f, "", "", &bw), kUciDone);
    EXPECT_FLOAT_EQ(bw, 15500.5f);
    UciSet("junk", "12abc");
    float junk = 3.0f;
    EXPECT_EQ(UciGetFloat("junk", 0.0f, 0.0f, "", "", &junk), kUciRangeFailed);
    EXPECT_EQ(junk, 3.0f);

    UciSet("noCmdct", "");
    int on = 5, off = 5;
    EXPECT_EQ(UciGetSwitch("noCmdct", "", "", &on), kUciDone);
    EXPECT_EQ(on, 1);
    EXPECT_EQ(UciGetSwitch("neverSet", "", "", &off), kUciDone);
    EXPECT_EQ(off, 0);
    int valued = 5;
    EXPECT_EQ(UciGetSwitch("mol", "", "", &valued), kUciTooMany);

    int untouched = 42;
    EXPECT_EQ(UciGetInt("hfs", 0, 1, "", "", &untouched), kUciDone);
    EXPECT_EQ(untouched, 42);
}

TEST(Uci, ScopeHoldsTwentyNamesAndNothingOutsideIt) {
    int value = 3;
    EXPECT_EQ(UciSet("amp", "1"), kUciDone);  // no scope: stored nowhere
    EXPECT_EQ(UciGetInt("amp", 0, 0, "", "", &value), kUciDone);
    EXPECT_EQ(value, 3);
    {
        Scope scope;
        EXPECT_EQ(UciBegin(), kUciDone);  // this thread's scope is already open
        for (int i = 0; i < 20; ++i) UciSet(("o" + std::to_string(i)).c_str(), std::to_string(i).c_str());
        UciSet("o20", "20");
        EXPECT_EQ(UciSet(nullptr, "1"), kUciDone);
        EXPECT_EQ(UciGetInt("o19", 0, 0, "", "", &value), kUciDone);
        EXPECT_EQ(value, 19);
        value = 3;
        EXPECT_EQ(UciGetInt("o20", 0, 0, "", "", &value), kUciDone);  // the 21st was ignored
        EXPECT_EQ(value, 3);
    }
    EXPECT_EQ(UciGetInt("o19", 0, 0, "", "", &value), kUciDone);
    EXPECT_EQ(value, 3);
}

TEST(Uci, FirstItemOfANameSetTwiceWins) {
    Scope scope;
    UciSet("mol", "1");
    UciSet("mol", "2");
    int mol = 0;
    UciGetInt("mol", 0, 0, "", "", &mol);
    EXPECT_EQ(mol, 1);
}

// Two encoders opened at once on different threads each read their own
// options: a second scope waits for the first to end.
TEST(Uci, ScopesOnTwoThreadsNeverMix) {
    std::atomic<int> mismatches{0};
    auto open = [&](int id) {
        for (int round = 0; round < 200; ++round) {
            if (UciBegin() != kUciDone) {
                ++mismatches;
                continue;
            }
            UciSet("id", std::to_string(id).c_str());
            int seen = -1;
            UciGetInt("id", 0, 0, "", "", &seen);
            if (seen != id) ++mismatches;
            UciEnd();
        }
    };
    std::thread a(open, 1), b(open, 2);
    a.join();
    b.join();
    EXPECT_EQ(mismatches.load(), 0);
}
