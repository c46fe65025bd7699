#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/Records.h"
#include "support/TempDir.h"

namespace {

// The same sample values as records_layout.py.
AudioFormat SampleFormat() {
    AudioFormat f;
    f.codingType = 32;
    f.bitRate = -1;
    f.sampleRate = 48000;
    f.deviceMode = 21;
    f.frameBytes = 0x01020304;
    f.direction = 32;
    f.aptxOption = -2;
    for (int i = 0; i < 40; ++i) f.reserved[i] = static_cast<uint8_t>(0x40 + i);
    f.reserved2 = -3;
    f.padding[0] = 0xEE;
    f.padding[1] = 0xEF;
    return f;
}

ConnectionInfo SampleConnection() {
    ConnectionInfo c;
    c.kind = 32;
    std::strcpy(c.isdn.number1, "0301234567");
    std::strcpy(c.isdn.number2, "0409876543");
    c.port = 5003;
    c.flag = 1;
    c.hops = 0x7F;
    for (int i = 0; i < 148; ++i) c.reserved[i] = static_cast<uint8_t>(i);
    c.connectionType = 20;
    c.bufferingMode = 10;
    c.bufferMs = 1500;
    for (int i = 0; i < 40; ++i) c.reserved2[i] = static_cast<uint8_t>(0xA0 + i);
    return c;
}

PhonebookEntry SampleEntry() {
    PhonebookEntry e;
    e.index = 7;
    std::strcpy(e.name, "Studio B");
    for (int i = 0; i < 26; ++i) e.reserved[i] = static_cast<uint8_t>(0x30 + i);
    e.length = 488;
    e.connection = SampleConnection();
    e.format = SampleFormat();
    e.autoReconnect = 1;
    e.reconnectKind = 16;
    std::strcpy(e.reconnectName, "Backup line");
    return e;
}

void Dump(const std::string& path, const uint8_t* bytes, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
}

}  // namespace

TEST(RecordsTest, BytesMatchALayoutBuiltIndependently) {
    if (std::system("python3 -c 'import struct' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not on PATH";
    CTempDir dir;
    uint8_t format[kAudioFormatBytes], connection[kConnectionInfoBytes], entry[kPhonebookEntryBytes];
    StoreAudioFormat(SampleFormat(), format);
    StoreConnectionInfo(SampleConnection(), connection);
    StorePhonebookEntry(SampleEntry(), entry);
    Dump(dir.File("AudioFormat.bin"), format, sizeof format);
    Dump(dir.File("ConnectionInfo.bin"), connection, sizeof connection);
    Dump(dir.File("PhonebookEntry.bin"), entry, sizeof entry);
    const std::string cmd =
        "python3 '" + std::string(VELMORA_TEST_DATA) + "/records_layout.py' '" + dir.Path().string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);

    // And bytes laid out by the script load into the right fields.
    std::ifstream in(dir.File("py_PhonebookEntry.bin"), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), kPhonebookEntryBytes);
    const PhonebookEntry e = LoadPhonebookEntry(reinterpret_cast<const uint8_t*>(bytes.data()));
    EXPECT_EQ(e.index, -7);
    EXPECT_EQ(e.length, 1024);
    EXPECT_STREQ(e.name, "Studio B");
    EXPECT_EQ(e.connection.port, 65535);
    EXPECT_STREQ(e.connection.isdn.number2, "0409876543");
    EXPECT_EQ(e.connection.bufferMs, 1500);
    EXPECT_EQ(e.format.bitRate, 384000);
    EXPECT_EQ(e.format.frameBytes, 0x01020304);
    EXPECT_EQ(e.format.reserved2, -3);
    EXPECT_EQ(e.reconnectKind, 128);
    EXPECT_STREQ(e.reconnectName, "Backup line");
}

TEST(RecordsTest, EmptyFormatAndZeroedEntry) {
    // Hand-made dump of the empty format: six zero words, option word 1, then zeros.
    uint8_t expected[kAudioFormatBytes] = {};
    expected[24] = 0x01;
    uint8_t bytes[kAudioFormatBytes];
    std::memset(bytes, 0x5A, sizeof bytes);
    StoreAudioFormat(AudioFormat(), bytes);
    EXPECT_EQ(std::memcmp(bytes, expected, sizeof bytes), 0);

    uint8_t entry[kPhonebookEntryBytes];
    StorePhonebookEntry(PhonebookEntry(), entry);
    for (size_t i = 0; i < sizeof entry; ++i) ASSERT_EQ(entry[i], 0) << "byte " << i;
}

TEST(RecordsTest, ConnectionCutFromOneEntryLeavesTheOtherFieldsOfTheNext) {
    uint8_t source[kPhonebookEntryBytes], target[kPhonebookEntryBytes], before[kPhonebookEntryBytes];
    StorePhonebookEntry(SampleEntry(), source);
    PhonebookEntry other;
    other.index = 3;
    std::strcpy(other.name, "Other");
    other.format.codingType = CODING_G722;
    std::strcpy(other.reconnectName, "Elsewhere");
    StorePhonebookEntry(other, target);
    std::memcpy(before, target, sizeof target);

    const ConnectionInfo cut = LoadConnectionInfo(source + 64);
    StoreConnectionInfo(cut, target + 64);
    EXPECT_EQ(std::memcmp(target, before, 64), 0);
    EXPECT_EQ(std::memcmp(target + 64, source + 64, kConnectionInfoBytes), 0);
    EXPECT_EQ(std::memcmp(target + 360, before + 360, kPhonebookEntryBytes - 360), 0);
    const PhonebookEntry back = LoadPhonebookEntry(target);
    EXPECT_STREQ(back.name, "Other");
    EXPECT_EQ(back.connection.kind, 32);
}

TEST(RecordsTest, DerivedBitRates) {
    auto rate = [](int coding, int sampleRate, int mode, int chosen = 0) {
        AudioFormat f;
        f.codingType = coding;
        f.sampleRate = sampleRate;
        f.deviceMode = mode;
        f.bitRate = chosen;
        return DerivedBitRate(f);
    };
    EXPECT_EQ(rate(CODING_G722, 16000, DEVICEMODE_STEREO), 128000);
    EXPECT_EQ(rate(CODING_APTX, 31508, DEVICEMODE_MONO), 128000);
    EXPECT_EQ(rate(CODING_APTX_ENH, 15754, DEVICEMODE_STEREO), 128000);
    EXPECT_EQ(rate(CODING_APTX, 32000, DEVICEMODE_MONO), 128000);
    EXPECT_EQ(rate(CODING_PCM, 48000, DEVICEMODE_DUAL_MONO), 1536000);
    EXPECT_EQ(rate(CODING_G711_ULAW, 8000, DEVICEMODE_MONO_MIX), 128000) << "only mode 10 is not doubled";
    EXPECT_EQ(rate(CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 256000), 256000);
    EXPECT_EQ(rate(CODING_MPEG_L3, 48000, DEVICEMODE_MONO, -1), -1);
    // A wild rate from a file or a peer saturates instead of overflowing.
    EXPECT_EQ(rate(CODING_PCM, 2000000000, DEVICEMODE_STEREO), INT32_MAX);
    EXPECT_EQ(rate(CODING_G722, -2000000000, DEVICEMODE_STEREO), INT32_MIN);
}
