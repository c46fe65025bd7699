#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "mp3enc/util/AlignedAlloc.h"
#include "mp3enc/util/EncError.h"

TEST(EncError, KeepsTheFileNameAndChainsLocationsBehindTheFirstLink) {
    EncError* e = ErrorCreate("l3core/core/psy/psymain.c", 42, "psymain", "bad block type %d", 9);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->source, "psymain.c");
    EXPECT_EQ(e->line, 42);
    EXPECT_STREQ(e->context, "psymain");
    EXPECT_STREQ(e->message, "bad block type 9");
    EncError* whole = ErrorCreate("C:\\src\\x.c", 1, nullptr, "x");
    EXPECT_STREQ(whole->source, "C:\\src\\x.c");  // no '/': kept whole
    EXPECT_EQ(whole->context, nullptr);
    ErrorFree(whole);

    EXPECT_EQ(ErrorChain("a/b.c", 1, nullptr, nullptr), nullptr);
    EXPECT_EQ(ErrorChain("a/b.c", 2, "second", e), e);
    EXPECT_EQ(ErrorChain("a/c.c", 3, nullptr, e), e);
    ASSERT_NE(e->next, nullptr);
    ASSERT_NE(e->next->next, nullptr);
    EXPECT_STREQ(e->next->source, "b.c");
    EXPECT_EQ(e->next->message, nullptr);
    EXPECT_STREQ(e->next->next->source, "c.c");
    EXPECT_EQ(e->next->next->next, nullptr);
    ErrorFree(e);
    ErrorFree(nullptr);
    // The out-of-memory error is static: freeing it is harmless.
    ErrorFree(const_cast<EncError*>(OutOfMemoryError()));
    EXPECT_STREQ(OutOfMemoryError()->message, "errorhnd: the error handler has run out of memory");
}

TEST(EncError, FatalErrorEndsTheProcessWithCode20) {
    EXPECT_EXIT(FatalError("table mismatch", "l3core/x.c", 7), ::testing::ExitedWithCode(20),
                "fatal error: table mismatch in file l3core/x.c, 7");
}

TEST(AlignedAlloc, EveryBlockIsAlignedAndZeroFilledWhereAsked) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{3}, size_t{17}, size_t{4096}, size_t{100001}}) {
        void* a[8];
        for (void*& p : a) {
            p = AlignedMalloc(size, __FILE__, __LINE__);
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
            std::memset(p, 0xAB, size);  // the whole block is ours (ASan checks the edges)
        }
        for (void* p : a) AlignedFree(p);
    }
    auto* z = static_cast<uint8_t*>(AlignedCalloc(333, 3, __FILE__, __LINE__));
    ASSERT_NE(z, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(z) % 16, 0u);
    for (int i = 0; i < 999; ++i) ASSERT_EQ(z[i], 0);
    AlignedFree(z);
    AlignedFree(nullptr);
    EXPECT_EQ(AlignedCalloc(SIZE_MAX / 2, 4, __FILE__, __LINE__), nullptr);  // overflowing count x size
}
