// The shared library shows exactly its 21 entry points, nothing of what it
// is built from.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

TEST(DizuvoExportsTest, ExactlyThe21EntryPointsAreVisible) {
    const std::string lib = std::string(VELMORA_BINARY_DIR) + "/lib/libDizuvo.so";
    FILE* nm = popen(("nm -D --defined-only '" + lib + "' 2>/dev/null").c_str(), "r");
    ASSERT_NE(nm, nullptr);
    std::set<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, nm)) {
        char type = 0;
        char name[256] = {};
        if (std::sscanf(line, "%*s %c %255s", &type, name) == 2) names.insert(name);
    }
    ASSERT_EQ(pclose(nm), 0) << "nm failed on " << lib;
    const std::set<std::string> want = {
        "DCapiConnectActiveResp", "DCapiConnectB3ActiveResp", "DCapiConnectB3Req", "DCapiConnectB3Resp",
        "DCapiDataB3Resp",        "DCapiDisconnectB3Resp",    "DCapiDisconnectReq", "DCapiDisconnectResp",
        "DCapiGetManufacturer",   "DCapiGetMsg",              "DCapiGetProfile",   "DCapiGetSerialNumber",
        "DCapiGetVersion",        "DCapiInfoResp",            "DCapiIsInstalled",  "DCapiPrepMsgHeader",
        "DCapiPutMsg",            "DCapiRegister",            "DCapiRelease",      "DCapiResetB3Req",
        "DCapiResetB3Resp"};
    EXPECT_EQ(names, want);
}
