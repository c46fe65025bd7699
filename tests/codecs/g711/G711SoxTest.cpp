// Our G.711 against sox as an independent peer, over every input and every code.
#include <gtest/gtest.h>

#include <vector>

#include "codecs/G7xxPeer.h"
#include "codecs/g711/G711Codec.h"

namespace {

using namespace g7xx_test;

struct Law {
    const char* soxEncoding;
    int gridStep;  // input step of the law's own resolution: 13 bits (A) or 14 bits (mu)
    uint8_t (*encode)(int16_t);
    int16_t (*decode)(uint8_t);
};

const Law kLaws[] = {
    {"a-law", 8, CG711Codec::LinearToALaw, CG711Codec::ALawToLinear},
    {"u-law", 4, CG711Codec::LinearToMuLaw, CG711Codec::MuLawToLinear},
};

class G711SoxTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (!HavePeer("sox")) GTEST_SKIP() << "sox not on PATH";
        ASSERT_TRUE(m_dir.Ok());
    }
    CScratchDir m_dir;
};

// G.711 takes the top 13 (A-law) or 14 (mu-law) bits of a 16-bit sample, i.e.
// it truncates. sox first rounds the sample to that resolution (half up, and
// clips what rounds past 32767), then applies the same law. So on the grid of
// multiples of the step both must agree exactly; off the grid the difference
// must be exactly that rounding: sox(x) == ours(round(x)).
TEST_P(G711SoxTest, AllInputsEncodeLikeSox) {
    const Law& law = kLaws[GetParam()];
    std::vector<int16_t> all(65536);
    for (int i = 0; i < 65536; ++i) all[static_cast<size_t>(i)] = static_cast<int16_t>(i - 32768);
    ASSERT_TRUE(WriteSamples(m_dir / "all.raw", all));
    ASSERT_EQ(RunCommand("sox -D -V1 -t raw -r 8000 -e signed -b 16 -c 1 " + (m_dir / "all.raw") + " -t raw -e " +
                  law.soxEncoding + " -b 8 " + (m_dir / "all.law")),
              0);
    const std::vector<uint8_t> sox = ReadBytes(m_dir / "all.law");
    ASSERT_EQ(sox.size(), 65536u);
    int onGrid = 0, offGridDiffering = 0;
    for (int x = -32768; x <= 32767; ++x) {
        const uint8_t ours = law.encode(static_cast<int16_t>(x));
        const uint8_t theirs = sox[static_cast<size_t>(x + 32768)];
        if (x % law.gridStep == 0) {
            ++onGrid;
            ASSERT_EQ(ours, theirs) << law.soxEncoding << " on the grid at " << x;
            continue;
        }
        const int floorStep = (x >= 0 ? x : x - law.gridStep + 1) / law.gridStep * law.gridStep;
        int rounded = (x - floorStep) * 2 >= law.gridStep ? floorStep + law.gridStep : floorStep;
        if (rounded > 32767) rounded = 32767;
        ASSERT_EQ(law.encode(static_cast<int16_t>(rounded)), theirs) << law.soxEncoding << " off the grid at " << x;
        if (ours != theirs) ++offGridDiffering;
    }
    EXPECT_EQ(onGrid, 65536 / law.gridStep);
    // Only the inputs that round up into the next code differ: a few per code.
    EXPECT_GT(offGridDiffering, 0);
    EXPECT_LT(offGridDiffering, 256 * law.gridStep / 2);
    std::printf("%s: %d grid inputs identical; %d off-grid inputs differ only by sox's rounding\n",
                law.soxEncoding, onGrid, offGridDiffering);
}

TEST_P(G711SoxTest, AllCodesDecodeLikeSox) {
    const Law& law = kLaws[GetParam()];
    std::vector<uint8_t> codes(256);
    for (int i = 0; i < 256; ++i) codes[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    ASSERT_TRUE(WriteBytes(m_dir / "codes.law", codes.data(), codes.size()));
    ASSERT_EQ(RunCommand(std::string("sox -V1 -t raw -r 8000 -e ") + law.soxEncoding + " -b 8 -c 1 " +
                  (m_dir / "codes.law") + " -t raw -e signed -b 16 " + (m_dir / "codes.raw")),
              0);
    const std::vector<int16_t> sox = ReadSamples(m_dir / "codes.raw");
    ASSERT_EQ(sox.size(), 256u);
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(law.decode(static_cast<uint8_t>(c)), sox[static_cast<size_t>(c)]) << law.soxEncoding << " code " << c;
    }
}

INSTANTIATE_TEST_SUITE_P(Laws, G711SoxTest, ::testing::Values(0, 1),
                         [](const ::testing::TestParamInfo<int>& i) { return i.param == 0 ? "ALaw" : "MuLaw"; });

}  // namespace
