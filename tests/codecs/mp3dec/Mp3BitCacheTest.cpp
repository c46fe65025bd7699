#include "codecs/mp3dec/Mp3BitCache.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "codecs/mp3dec/Mp3BitRing.h"

namespace {

// The cached reader against the ring's own reads on random bytes: every start
// bit, reads of 1 to 16 bits (and the 4-bit peeks of the Huffman steps), runs
// across the ring's end and past its fill, and the position handed back.
TEST(Mp3BitCacheTest, ReadsWhatTheRingReadsAcrossItsEnd) {
    for (uint32_t capacity : {2u, 8u, 64u, 4096u}) {
        const uint32_t seed = 2718u + capacity;
        std::mt19937 rng(seed);
        std::vector<uint8_t> bytes(capacity);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
        CMp3BitRing ring;
        ASSERT_TRUE(ring.Create(capacity));
        ASSERT_EQ(ring.Write(bytes.data(), capacity), capacity);
        const uint32_t starts = capacity <= 64 ? capacity * 8 : 200;
        for (uint32_t s = 0; s < starts; ++s) {
            const uint32_t start = capacity <= 64 ? s : static_cast<uint32_t>(rng()) % (capacity * 8);
            ring.Advance(static_cast<int>((start - ring.ReadPos()) & (ring.CapacityBits() - 1)));
            const int32_t mark0 = ring.Mark();
            const int32_t fill0 = ring.Fill();
            std::vector<int> widths;
            int32_t total = 0;
            while (total < static_cast<int32_t>(capacity) * 8 * 2 + 40) {
                const int n = (rng() % 3 == 0) ? 4 : 1 + static_cast<int>(rng() % 16);
                widths.push_back(n);
                total += n;
            }
            std::vector<uint32_t> cached;
            CMp3BitCache cache(ring);
            for (int n : widths) {
                if (n == 4) {
                    EXPECT_EQ(cache.Peek(4), cache.Peek(8) >> 4);
                }
                cached.push_back(cache.Read(n));
            }
            EXPECT_EQ(cache.Mark(), mark0 + total);
            cache.Commit();
            EXPECT_EQ(ring.Mark(), mark0 + total);
            EXPECT_EQ(ring.Fill(), fill0 - total);
            EXPECT_EQ(ring.ReadPos(), (start + static_cast<uint32_t>(total)) & (ring.CapacityBits() - 1));
            ring.Unread(total);
            for (size_t i = 0; i < widths.size(); ++i) {
                ASSERT_EQ(cached[i], ring.Read(widths[i]))
                    << "seed " << seed << " capacity " << capacity << " start bit " << start << " read " << i;
            }
            ring.Unread(total);
            ring.SetMark(0);
        }
    }
}

}  // namespace
