// The message layer against byte vectors typed from the CAPI 2.0 message
// descriptions: every message the program sends is encoded byte for byte,
// every message it receives decoded field by field; then a round trip of the
// whole command table and the malformed messages that must give an error.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "dizuvo/source/msg/CapiCodec.h"
#include "dizuvo/source/msg/CapiTables.h"

namespace {

std::vector<uint8_t> Hex(const std::string& text) {
    std::istringstream in(text);
    std::vector<uint8_t> out;
    for (std::string byte; in >> byte;) out.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
    return out;
}

CapiMessage Header(uint16_t appl, uint8_t command, uint8_t sub, uint16_t number, uint32_t adr) {
    CapiMessage m;
    std::memset(static_cast<void*>(&m), 0, sizeof m);
    m.ApplId = appl;
    m.Command = command;
    m.Subcommand = sub;
    m.Messagenumber = number;
    m.adr = adr;
    return m;
}

std::vector<uint8_t> Encode(CapiMessage m) {
    uint8_t buffer[kCapiMessageBufferBytes];
    EXPECT_EQ(CapiEncode(&m, buffer, sizeof buffer), CAPI_NOERROR);
    return std::vector<uint8_t>(buffer, buffer + (buffer[0] | (buffer[1] << 8)));
}

// Decoded structures point into the message: the last one decoded is kept.
std::vector<uint8_t> g_lastDecoded;

CapiMessage Decode(const std::vector<uint8_t>& bytes) {
    g_lastDecoded = bytes;
    CapiMessage m;
    EXPECT_EQ(CapiDecode(&m, g_lastDecoded.data(), g_lastDecoded.size()), CAPI_NOERROR);
    return m;
}

const uint8_t kCalled[] = {5, 0x80, '3', '4', '1', '2'};

}  // namespace

TEST(CapiCodecTest, MessagesTheProgramSendsEncodeByteForByte) {
    CapiMessage m = Header(1, CAPI_CONNECT, CAPI_REQ, 0, 1);
    m.CIPValue = 1;
    m.CalledPartyNumber = kCalled;
    m.B1protocol = 1;
    m.B2protocol = 1;
    // Controller, CIP, called number, empty calling number and subaddresses,
    // B protocol of three words and three empty structures, empty BC, LLC,
    // HLC, additional information of four empty structures.
    EXPECT_EQ(Encode(m), Hex("29 00 01 00 02 80 00 00  01 00 00 00  01 00  05 80 33 34 31 32  00 00 00 "
                             "09 01 00 01 00 00 00 00 00 00  00 00 00  04 00 00 00 00"));

    m = Header(3, CAPI_CONNECT, CAPI_RESP, 7, 0x202);
    m.B1protocol = 1;
    m.B2protocol = 1;
    EXPECT_EQ(Encode(m), Hex("20 00 03 00 02 83 07 00  02 02 00 00  00 00  09 01 00 01 00 00 00 00 00 00 "
                             "00 00 00  04 00 00 00 00"));

    m = Header(1, CAPI_LISTEN, CAPI_REQ, 0, 1);
    m.CIPmask = 0x10016;
    EXPECT_EQ(Encode(m), Hex("1a 00 01 00 05 80 00 00  01 00 00 00  00 00 00 00  16 00 01 00  00 00 00 00  00 00"));

    m = Header(1, CAPI_DISCONNECT, CAPI_REQ, 0, 0x101);
    EXPECT_EQ(Encode(m), Hex("11 00 01 00 04 80 00 00  01 01 00 00  04 00 00 00 00"));

    m = Header(1, CAPI_DISCONNECT_B3, CAPI_REQ, 0, 0x10101);
    EXPECT_EQ(Encode(m), Hex("0d 00 01 00 84 80 00 00  01 01 01 00  00"));

    m = Header(1, CAPI_DATA_B3, CAPI_REQ, 0, 0x10101);
    m.DataLength = 192;
    m.DataHandle = 3;
    m.Data64 = 0x0000123456789ABCull;
    EXPECT_EQ(Encode(m), Hex("1e 00 01 00 86 80 00 00  01 01 01 00  00 00 00 00  c0 00  03 00  00 00 "
                             "bc 9a 78 56 34 12 00 00"));

    m = Header(1, CAPI_CONNECT_B3, CAPI_REQ, 0, 0x101);
    EXPECT_EQ(Encode(m), Hex("0d 00 01 00 82 80 00 00  01 01 00 00  00"));
    m = Header(2, CAPI_CONNECT_B3, CAPI_RESP, 9, 0x10202);
    EXPECT_EQ(Encode(m), Hex("0f 00 02 00 82 83 09 00  02 02 01 00  00 00  00"));
    m = Header(2, CAPI_DATA_B3, CAPI_RESP, 0x1234, 0x10202);
    m.DataHandle = 5;
    EXPECT_EQ(Encode(m), Hex("0e 00 02 00 86 83 34 12  02 02 01 00  05 00"));  // 14 bytes

    // The responses that carry the address alone.
    const uint8_t bare[][2] = {{CAPI_CONNECT_ACTIVE, CAPI_RESP}, {CAPI_CONNECT_B3_ACTIVE, CAPI_RESP},
                               {CAPI_DISCONNECT, CAPI_RESP},     {CAPI_DISCONNECT_B3, CAPI_RESP},
                               {CAPI_INFO, CAPI_RESP},           {CAPI_RESET_B3, CAPI_RESP}};
    for (const auto& c : bare) {
        m = Header(2, c[0], c[1], 4, 0x10202);
        std::vector<uint8_t> want = Hex("0c 00 02 00 00 00 04 00  02 02 01 00");
        want[4] = c[0];
        want[5] = c[1];
        EXPECT_EQ(Encode(m), want) << CapiMessageName(c[0], c[1]);
    }
}

TEST(CapiCodecTest, MessagesTheProgramReceivesDecodeFieldByField) {
    CapiMessage m = Decode(Hex("0e 00 01 00 02 81 05 00  01 01 00 00  00 00"));
    EXPECT_EQ(m.Command, CAPI_CONNECT);
    EXPECT_EQ(m.Subcommand, CAPI_CONF);
    EXPECT_EQ(m.Messagenumber, 5);
    EXPECT_EQ(m.adr, 0x101u);
    EXPECT_EQ(m.Info, 0);

    const std::vector<uint8_t> ind = Hex("21 00 03 00 02 82 00 00  02 02 00 00  01 00  05 80 33 34 31 32 "
                                         "06 00 80 33 34 31 31  00 00  00 00 00  00");
    m = Decode(ind);
    EXPECT_EQ(m.ApplId, 3);
    EXPECT_EQ(m.adr, 0x202u);
    EXPECT_EQ(m.CIPValue, 1);
    ASSERT_NE(m.CalledPartyNumber, nullptr);
    EXPECT_EQ(m.CalledPartyNumber, g_lastDecoded.data() + 14);  // points into the message
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(m.CallingPartyNumber + 3), 4), "3411");
    EXPECT_EQ(m.AdditionalInfo, 1u);  // empty sub-structure

    m = Decode(Hex("0f 00 01 00 03 82 00 00  01 01 00 00  00 00 00"));
    EXPECT_EQ(m.Command, CAPI_CONNECT_ACTIVE);
    m = Decode(Hex("0e 00 01 00 04 82 00 00  01 01 00 00  91 34"));
    EXPECT_EQ(m.Reason, 0x3491);
    m = Decode(Hex("0e 00 01 00 04 81 00 00  01 01 00 00  02 20"));
    EXPECT_EQ(m.Info, 0x2002);
    m = Decode(Hex("0e 00 01 00 05 81 00 00  01 00 00 00  00 00"));
    EXPECT_EQ(m.Command, CAPI_LISTEN);
    m = Decode(Hex("11 00 01 00 08 82 00 00  01 01 00 00  18 00  02 89 01"));
    EXPECT_EQ(m.InfoNumber, 0x18);
    EXPECT_EQ(m.InfoElement[0], 2);
    m = Decode(Hex("0e 00 01 00 82 81 00 00  01 01 01 00  00 00"));
    EXPECT_EQ(m.adr, 0x10101u);
    m = Decode(Hex("0d 00 01 00 82 82 00 00  01 01 01 00  00"));
    EXPECT_EQ(m.NCPI[0], 0);
    m = Decode(Hex("0d 00 01 00 83 82 00 00  01 01 01 00  00"));
    EXPECT_EQ(m.Command, CAPI_CONNECT_B3_ACTIVE);
    m = Decode(Hex("0f 00 01 00 84 82 00 00  01 01 01 00  01 33  00"));
    EXPECT_EQ(m.Reason_B3, 0x3301);
    m = Decode(Hex("0e 00 01 00 84 81 00 00  01 01 01 00  00 00"));
    EXPECT_EQ(m.Command, CAPI_DISCONNECT_B3);
    m = Decode(Hex("1e 00 01 00 86 82 0a 00  01 01 01 00  00 00 00 00  c0 00  06 00  00 00 "
                   "00 10 00 00 00 00 00 00"));
    EXPECT_EQ(m.DataLength, 192);
    EXPECT_EQ(m.DataHandle, 6);
    EXPECT_EQ(m.Data64, 0x1000u);
    // A 32-bit application's DATA_B3_IND ends before the 64-bit address.
    m = Decode(Hex("16 00 01 00 86 82 0a 00  01 01 01 00  00 20 00 00  c0 00  06 00  00 00"));
    EXPECT_EQ(m.Data, 0x2000u);
    EXPECT_EQ(m.Data64, 0u);
    m = Decode(Hex("10 00 01 00 86 81 00 00  01 01 01 00  03 00  00 00"));
    EXPECT_EQ(m.DataHandle, 3);
    EXPECT_EQ(m.Info, 0);
    m = Decode(Hex("0d 00 01 00 87 82 00 00  01 01 01 00  00"));
    EXPECT_EQ(m.Command, CAPI_RESET_B3);
    m = Decode(Hex("0e 00 01 00 87 81 00 00  01 01 01 00  00 00"));
    EXPECT_EQ(m.Subcommand, CAPI_CONF);
}

TEST(CapiCodecTest, EveryDefinedMessageSurvivesARoundTrip) {
    const uint8_t commands[] = {CAPI_ALERT, CAPI_CONNECT, CAPI_CONNECT_ACTIVE, CAPI_DISCONNECT, CAPI_LISTEN,
                                CAPI_INFO, CAPI_SELECT_B_PROTOCOL, CAPI_FACILITY, CAPI_CONNECT_B3,
                                CAPI_CONNECT_B3_ACTIVE, CAPI_DISCONNECT_B3, CAPI_DATA_B3, CAPI_RESET_B3,
                                CAPI_CONNECT_B3_T90_ACTIVE, CAPI_MANUFACTURER};
    const uint8_t s1[] = {3, 1, 2, 3};
    const uint8_t s2[] = {2, 9, 8};
    int defined = 0;
    for (uint8_t c : commands) {
        for (uint8_t sub = CAPI_REQ; sub <= CAPI_RESP; ++sub) {
            if (!CapiCommandParams(c, sub)) continue;
            ++defined;
            CapiMessage m = Header(7, c, sub, 0x4321, 0x10203);
            // Every member set: words, dwords and structures.
            m.B1protocol = 1;
            m.B2protocol = 2;
            m.B3protocol = 3;
            m.B1configuration = s1;
            m.CIPValue = 16;
            m.CIPmask = 0x10016;
            m.InfoMask = 0x55;
            m.CalledPartyNumber = s1;
            m.CallingPartyNumber = s2;
            m.BChannelinformation = s2;
            m.Useruserdata = s1;
            m.NCPI = s2;
            m.Info = 0x3301;
            m.Reason = 0x3490;
            m.Reason_B3 = 0x3301;
            m.Reject = 3;
            m.DataLength = 10;
            m.DataHandle = 4;
            m.Data64 = 0x1122334455667788ull;
            m.ManuID = 0xABCD;
            m.FacilitySelector = 1;
            m.FacilityRequestParameter = s1;
            m.InfoNumber = 8;
            m.InfoElement = s2;
            const std::vector<uint8_t> first = Encode(m);
            CapiMessage back = Decode(first);
            EXPECT_EQ(back.Command, c);
            EXPECT_EQ(back.Subcommand, sub);
            EXPECT_EQ(back.adr, 0x10203u);
            EXPECT_EQ(Encode(back), first) << CapiMessageName(c, sub);
        }
    }
    EXPECT_EQ(defined, 48);
}

TEST(CapiCodecTest, EmptyAndLongStructures) {
    CapiMessage m = Header(1, CAPI_CONNECT, CAPI_REQ, 0, 1);
    m.BProtocol = 1;       // default B protocol: one empty byte
    m.AdditionalInfo = 1;  // and no additional information
    EXPECT_EQ(Encode(m), Hex("17 00 01 00 02 80 00 00  01 00 00 00  00 00  00 00 00 00  00  00 00 00  00"));

    // A sub-structure of 300 bytes is written as 0xFF, 0x2C, 0x01 and its
    // bytes: a long B-channel information of 3 + 294 bytes and three empty
    // structures.
    std::vector<uint8_t> longInfo(3 + 294, 0x5A);
    longInfo[0] = 0xFF;
    longInfo[1] = 294 & 0xFF;
    longInfo[2] = 294 >> 8;
    m = Header(1, CAPI_DISCONNECT, CAPI_REQ, 0, 0x101);
    m.BChannelinformation = longInfo.data();
    const std::vector<uint8_t> bytes = Encode(m);
    ASSERT_EQ(bytes.size(), 12u + 3u + 300u);
    EXPECT_EQ(bytes[12], 0xFF);
    EXPECT_EQ(bytes[13], 0x2C);
    EXPECT_EQ(bytes[14], 0x01);
    const CapiMessage back = Decode(bytes);
    EXPECT_EQ(back.BChannelinformation, g_lastDecoded.data() + 15);
    EXPECT_EQ(back.Keypadfacility[0], 0);
}

TEST(CapiCodecTest, MalformedMessagesGiveAnErrorAndNothingElse) {
    CapiMessage m;
    // Too short for a header, a length below the header, a length past the bytes.
    EXPECT_EQ(CapiDecode(&m, Hex("0c 00 01 00").data(), 4), CAPI_ILLCMDORSUBCMDORMSGTOSMALL);
    EXPECT_EQ(CapiDecode(&m, Hex("06 00 01 00 02 81 00 00").data(), 8), CAPI_ILLCMDORSUBCMDORMSGTOSMALL);
    EXPECT_EQ(CapiDecode(&m, Hex("20 00 01 00 02 81 00 00 01 00 00 00 00 00").data(), 14), CAPI_ILLMESSAGEPARMCODING);
    // Commands and subcommands outside the tables (MANUFACTURER_RESP is the last entry).
    for (const char* bad : {"0e 00 01 00 06 81 00 00 01 00 00 00 00 00", "0e 00 01 00 02 84 00 00 01 00 00 00 00 00",
                            "0e 00 01 00 ff 7f 00 00 01 00 00 00 00 00", "0e 00 01 00 03 80 00 00 01 00 00 00 00 00"}) {
        const std::vector<uint8_t> b = Hex(bad);
        EXPECT_EQ(CapiDecode(&m, b.data(), b.size()), CAPI_ILLCMDORSUBCMDORMSGTOSMALL) << bad;
    }
    // A structure or a sub-structure running past the message end; a word cut short.
    for (const char* bad : {"0d 00 01 00 82 82 00 00 01 01 01 00 05", "0d 00 01 00 82 82 00 00 01 01 01 00 ff",
                            "0d 00 01 00 02 82 00 00 01 01 00 00 01", "11 00 01 00 04 80 00 00 01 01 00 00 09 00 00 00 00",
                            "0c 00 01 00 86 83 00 00 01 01 01 00"}) {
        const std::vector<uint8_t> b = Hex(bad);
        EXPECT_NE(CapiDecode(&m, b.data(), b.size()), CAPI_NOERROR) << bad;
        EXPECT_EQ(m.Command, 0) << "nothing half decoded: " << bad;
    }
    // Encoding checks its buffer and its command.
    CapiMessage big = Header(1, CAPI_DATA_B3, CAPI_REQ, 0, 1);
    uint8_t small[29];
    EXPECT_EQ(CapiEncode(&big, small, sizeof small), CAPI_ILLMESSAGEPARMCODING);
    std::vector<uint8_t> huge(3 + 3000, 1);
    huge[0] = 0xFF;
    huge[1] = 3000 & 0xFF;
    huge[2] = 3000 >> 8;
    CapiMessage over = Header(1, CAPI_DISCONNECT, CAPI_REQ, 0, 0x101);
    over.BChannelinformation = huge.data();
    uint8_t buffer[kCapiMessageBufferBytes];
    EXPECT_EQ(CapiEncode(&over, buffer, sizeof buffer), CAPI_ILLMESSAGEPARMCODING);
    CapiMessage undefined = Header(1, CAPI_ALERT, CAPI_IND, 0, 1);
    EXPECT_EQ(CapiEncode(&undefined, buffer, sizeof buffer), CAPI_ILLCMDORSUBCMDORMSGTOSMALL);
}
