#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "common/Codes.h"
#include "common/Phonebook.h"
#include "tests/support/TempDir.h"
#include "ui/destinations/IsdnDestinationLogic.h"
#include "ui/destinations/MulticastDestinationLogic.h"
#include "ui/destinations/NetworkDestinationLogic.h"

namespace {

PhonebookEntry Entry(const char* name, int kind) {
    PhonebookEntry e;
    std::strncpy(e.name, name, sizeof(e.name) - 1);
    e.connection.kind = kind;
    return e;
}

struct DestinationLogicTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(m_dir.Ok());
        m_phonebook.Init(m_dir.File("Velmora.pbk").c_str());
        m_phonebook.AddEntry(Entry("Studio A", TRANSPORT_ISDN));
        m_phonebook.AddEntry(Entry("Backup line", TRANSPORT_ISDN));
        m_phonebook.AddEntry(Entry("Remote", TRANSPORT_TCP));
    }
    CTempDir m_dir{"destinations"};
    CSettings m_settings{m_dir.File("Velmora.Ini")};
    CPhonebook m_phonebook;
};

// ---- ISDN ----

TEST_F(DestinationLogicTest, IsdnNewEntryStartsFromLastOk) {
    CIsdnDestinationLogic dlg(m_settings);
    dlg.Load(&m_phonebook, nullptr);
    const AudioFormat& f = dlg.Entry().format;
    EXPECT_EQ(f.codingType, CODING_MPEG_L2);
    EXPECT_EQ(f.bitRate, 64000);
    EXPECT_EQ(f.sampleRate, 48000);
    EXPECT_EQ(f.deviceMode, DEVICEMODE_MONO);
    EXPECT_EQ(dlg.Entry().connection.kind, TRANSPORT_ISDN);

    dlg.SetName("New");
    dlg.SetNumbers("0301234", "");
    dlg.Choose(IsdnChoice::TwoChannels);
    dlg.Choose(IsdnChoice::Layer3);
    dlg.Choose(IsdnChoice::JointStereo);
    ASSERT_FALSE(dlg.Ok());
    // Number 2 left empty takes number 1.
    EXPECT_STREQ(dlg.Entry().connection.isdn.number2, "0301234");

    CIsdnDestinationLogic next(m_settings);
    next.Load(&m_phonebook, nullptr);
    EXPECT_EQ(next.Entry().format.codingType, CODING_MPEG_L3);
    EXPECT_EQ(next.Entry().format.bitRate, 128000);
    EXPECT_EQ(next.Entry().format.deviceMode, DEVICEMODE_JOINT_STEREO);
}

TEST_F(DestinationLogicTest, IsdnOkRefusalsInOrder) {
    CIsdnDestinationLogic dlg(m_settings);
    dlg.Load(&m_phonebook, nullptr);
    EXPECT_EQ(dlg.Ok().line, 26);  // no name
    dlg.SetName("Studio A");
    EXPECT_EQ(dlg.Ok().line, 27);  // used by another entry
    dlg.SetName("Studio B");
    dlg.SetAutoReconnect(true);
    dlg.SetSameDestination(false);
    EXPECT_EQ(dlg.Ok().line, 28);  // no reconnect destination
    dlg.SetSameDestination(true);
    const DestinationRefusal r = dlg.Ok();
    EXPECT_EQ(r.line, 29);  // no number
    EXPECT_EQ(r.focusId, 2104);
    // A refused OK writes no setting.
    EXPECT_EQ(m_settings.ReadInt("ISDN", "LastCodingType", -5), -5);
}

TEST_F(DestinationLogicTest, IsdnKeepingNameAndReconnectingToItself) {
    PhonebookEntry* stored = m_phonebook.FindEntry("Studio A", TRANSPORT_ISDN);
    CIsdnDestinationLogic dlg(m_settings);
    dlg.Load(&m_phonebook, stored);
    EXPECT_TRUE(dlg.IsSameDestination());  // empty reconnect name
    dlg.SetNumbers("1", "2");
    EXPECT_FALSE(dlg.Ok());  // its own name is no clash
    dlg.SetName("Studio A renamed");
    dlg.SetAutoReconnect(true);
    ASSERT_FALSE(dlg.Ok());
    EXPECT_STREQ(dlg.Entry().reconnectName, "Studio A renamed");
    EXPECT_EQ(dlg.Entry().reconnectKind, TRANSPORT_ISDN);
    // The stored entry is untouched until the page copies the result.
    EXPECT_EQ(stored->autoReconnect, 0);
}

TEST_F(DestinationLogicTest, ReconnectDestinationThatIsGoneIsEmptied) {
    PhonebookEntry e = Entry("Main", TRANSPORT_ISDN);
    e.autoReconnect = 1;
    e.reconnectKind = TRANSPORT_ISDN;
    std::strcpy(e.reconnectName, "Backup line");
    CIsdnDestinationLogic dlg(m_settings);
    dlg.Load(&m_phonebook, &e);
    EXPECT_FALSE(dlg.IsSameDestination());
    EXPECT_EQ(dlg.ReconnectChoices().size(), 2u);
    EXPECT_STREQ(dlg.Entry().reconnectName, "Backup line");
    std::strcpy(dlg.Entry().reconnectName, "Gone");
    dlg.ReconnectChoices();
    EXPECT_STREQ(dlg.Entry().reconnectName, "");
    dlg.SetNumbers("1", "");
    EXPECT_EQ(dlg.Ok().line, 28);
    // Another kind lists its own entries; an unknown kind reads as ISDN here.
    dlg.SetReconnectKind(TRANSPORT_TCP);
    EXPECT_EQ(dlg.ReconnectChoices(), std::vector<std::string>{"Remote"});
    dlg.SetReconnectKind(99);
    EXPECT_EQ(dlg.Entry().reconnectKind, TRANSPORT_ISDN);
}

// ---- Network / IP ----

TEST_F(DestinationLogicTest, NetworkNewEntryDefaults) {
    CNetworkDestinationLogic dlg(m_settings);
    dlg.Load(&m_phonebook, nullptr);
    const PhonebookEntry& e = dlg.Entry();
    EXPECT_EQ(e.connection.kind, TRANSPORT_TCP);
    EXPECT_EQ(e.connection.port, 5003);
    EXPECT_EQ(e.format.codingType, CODING_MPEG_L3);
    EXPECT_EQ(e.format.bitRate, 128000);
    EXPECT_EQ(e.format.sampleRate, 48000);
    EXPECT_EQ(e.format.deviceMode, DEVICEMODE_STEREO);
    EXPECT_EQ(dlg.DirectionIndex(), 0);
    const ConnectionTypeMarks marks = dlg.ConnectionMarks();
    EXPECT_EQ(marks.type, ConnectionRadio::Type1);
    EXPECT_FALSE(marks.bufferingEnabled);
}

TEST_F(DestinationLogicTest, NetworkPortRules) {
    CNetworkDestinationLogic dlg(m_settings);
    dlg.Load(&m_phonebook, nullptr);
    dlg.SetName("Far");
    const std::map<std::string, int> refused = {
        {"65536", 42}, {"123456", 42}, {"-1", 42}, {"12ab", 42}, {"0", 37}, {"", 37}};
    for (const auto& [text, line] : refused) EXPECT_EQ(dlg.Ok("host", text, false, false).line, line) << text;
    EXPECT_EQ(dlg.Ok("", "5003", false, false).line, 37);
    EXPECT_FALSE(dlg.Ok("host", " 65535 ", false, false));
    EXPECT_EQ(dlg.Entry().connection.port, 65535);
    EXPECT_FALSE(dlg.Ok("host", "junk", true, false));  // "Use default" ignores the edit
    EXPECT_EQ(dlg.Entry().connection.port, 5003);
    EXPECT_STREQ(dlg.Entry().connection.address, "host");
}

TEST_F(DestinationLogicTest, NetworkBufferStepsSurviveRefusals) {
    PhonebookEntry e = Entry("Buffered", TRANSPORT_TCP);
    e.connection.bufferMs = 0;
    CNetworkDestinationLogic dlg(m_settings);
    dlg.Load(&m_phonebook, &e);
    EXPECT_EQ(dlg.BufferText(), "0.5");
    e.connection.bufferMs = 40000;
    dlg.Load(&m_phonebook, &e);
    EXPECT_EQ(dlg.BufferText(), "30.0");
    dlg.SetBufferSteps(3);
    EXPECT_EQ(dlg.Ok("", "", true, false).line, 37);
    EXPECT_EQ(dlg.Ok("", "", true, false).line, 37);
    ASSERT_FALSE(dlg.Ok("10.0.0.1", "", true, false));
    EXPECT_EQ(dlg.Entry().connection.bufferMs, 1500);
    ASSERT_FALSE(dlg.Ok("10.0.0.1", "", true, false));
    EXPECT_EQ(dlg.Entry().connection.bufferMs, 1500);
}

TEST_F(DestinationLogicTest, NetworkFormatAndTypeOnOk) {
    CNetworkDestinationLogic dlg(m_settings);
    dlg.Load(&m_phonebook, nullptr);
    dlg.SetName("Pcm");
    dlg.ChooseCompression(0);  // PCM
    dlg.ChooseSampleRate(48000);
    dlg.ChooseMode(DEVICEMODE_STEREO);
    const ConnectionTypeMarks marks = dlg.ChooseConnection(ConnectionRadio::FixedBuffer);
    EXPECT_TRUE(marks.bufferingEnabled);
    EXPECT_EQ(marks.buffer, ConnectionRadio::FixedBuffer);
    dlg.SetDirectionIndex(2);
    ASSERT_FALSE(dlg.Ok("10.0.0.1", "", true, false));
    const PhonebookEntry& e = dlg.Entry();
    EXPECT_EQ(e.format.bitRate, 48000 * 16 * 2);
    EXPECT_EQ(e.format.direction, DIRECTION_SEND_ONLY);
    EXPECT_EQ(e.connection.connectionType, CONNTYPE_3);
    EXPECT_EQ(e.connection.bufferingMode, BUFMODE_FIXED);
    EXPECT_EQ(m_settings.GetTCPLastBuffering(), CONNTYPE_3);
    EXPECT_EQ(m_settings.GetTCPLastCodingType(), CODING_PCM);
    // MPEG without a bit rate in its list, and no sample rate, are refused.
    dlg.ChooseCompression(1);
    dlg.Entry().format.bitRate = -1;
    EXPECT_EQ(dlg.Ok("10.0.0.1", "", true, false).line, 38);
    dlg.ChooseBitRate(192000);
    dlg.ChooseSampleRate(22050);
    EXPECT_EQ(dlg.Entry().format.sampleRate, -1);
    EXPECT_EQ(dlg.Ok("10.0.0.1", "", true, false).line, 39);
}

TEST_F(DestinationLogicTest, NetworkProxyFlagFollowsSocksSetting) {
    PhonebookEntry e = Entry("Proxied", TRANSPORT_TCP);
    e.connection.flag = 1;
    CNetworkDestinationLogic dlg(m_settings);
    dlg.Load(&m_phonebook, &e);
    EXPECT_FALSE(dlg.ProxyEnabled());
    ASSERT_FALSE(dlg.Ok("h", "", true, false));
    EXPECT_EQ(dlg.Entry().connection.flag, 1);
    m_settings.SetSocksEnable(1);
    ASSERT_FALSE(dlg.Ok("h", "", true, false));
    EXPECT_EQ(dlg.Entry().connection.flag, 0);
}

// An IP entry with a coding its combo lacks (the remote control may store
// G.711) opens and saves unchanged.
TEST_F(DestinationLogicTest, NetworkKeepsCodingItsComboLacks) {
    PhonebookEntry e = Entry("Phone", TRANSPORT_TCP);
    e.format.codingType = CODING_G711_ULAW;
    e.format.bitRate = 64000;
    e.format.sampleRate = 8000;
    e.format.deviceMode = DEVICEMODE_MONO;
    CNetworkDestinationLogic dlg(m_settings);
    dlg.Load(&m_phonebook, &e);
    dlg.UpdateFormats();
    ASSERT_FALSE(dlg.Ok("h", "", true, false));
    EXPECT_EQ(dlg.Entry().format.codingType, CODING_G711_ULAW);
    EXPECT_EQ(dlg.Entry().format.bitRate, 64000);
    EXPECT_EQ(dlg.Entry().format.sampleRate, 8000);
}

// ---- Multicast ----

struct MulticastLogicTest : DestinationLogicTest {
    std::map<std::string, uint32_t> m_hosts = {{"group.studio", 0xE9010203u}, {"plain.studio", 0x0A000001u}};
    CMulticastDestinationLogic m_dlg{m_settings, [this](const char* name, uint32_t* address) {
                                         const auto it = m_hosts.find(name);
                                         if (it == m_hosts.end()) return false;
                                         *address = it->second;
                                         return true;
                                     }};
};

TEST_F(MulticastLogicTest, NewEntryIsAReceiver) {
    m_dlg.Load(&m_phonebook, nullptr);
    const PhonebookEntry& e = m_dlg.Entry();
    EXPECT_EQ(e.connection.kind, TRANSPORT_MULTICAST);
    EXPECT_EQ(e.connection.port, 5005);
    EXPECT_EQ(e.connection.hops, 1);
    EXPECT_FALSE(m_dlg.IsSender());
    EXPECT_EQ(e.format.direction, DIRECTION_RECEIVE_ONLY);
    EXPECT_EQ(m_dlg.ConnectionMarks().type, ConnectionRadio::Type1);
    EXPECT_TRUE(m_dlg.UpdateFormats().sampleRates.empty());  // receiver: combos disabled
}

TEST_F(MulticastLogicTest, GroupAddressCheck) {
    for (const char* yes : {"225.0.0.0", "239.255.255.255", "230 .1.2.3", "23*0.1.2_.3", "group.studio"})
        EXPECT_TRUE(m_dlg.IsMulticastAddress(yes)) << yes;
    for (const char* no : {"224.0.0.1", "240.0.0.1", "10.0.0.1", "plain.studio", "unknown.host", "", "0.0.0.0"})
        EXPECT_FALSE(m_dlg.IsMulticastAddress(no)) << no;
}

TEST_F(MulticastLogicTest, OkAsksBeforeKeepingAnAddressThatIsNoGroup) {
    m_dlg.Load(&m_phonebook, nullptr);
    m_dlg.SetName("Group");
    CMulticastDestinationLogic::OkResult r = m_dlg.Ok("224.1.1.1", "", true, 1);
    EXPECT_FALSE(r.refusal);
    EXPECT_TRUE(r.askNotMulticast);
    EXPECT_FALSE(m_dlg.OkAnyway(1));
    r = m_dlg.Ok("231 .1.1.1", "", true, 1);
    EXPECT_FALSE(r.askNotMulticast);
    EXPECT_FALSE(r.refusal);
    EXPECT_STREQ(m_dlg.Entry().connection.address, "231 .1.1.1");  // as typed
    EXPECT_EQ(m_dlg.Ok("231.1.1.1", "70000", false, 1).refusal.line, 39);
}

TEST_F(MulticastLogicTest, SenderStoresTypeOneAndClampedHops) {
    m_dlg.Load(&m_phonebook, nullptr);
    m_dlg.SetName("Send");
    m_dlg.ChooseConnection(ConnectionRadio::LowDelay);
    m_dlg.SetSender(true);
    const FormatLists lists = m_dlg.UpdateFormats();
    EXPECT_FALSE(lists.sampleRates.empty());
    EXPECT_EQ(m_dlg.Entry().format.direction, DIRECTION_SEND_ONLY);
    ASSERT_FALSE(m_dlg.Ok("239.1.1.1", "", true, 0).refusal);
    EXPECT_EQ(m_dlg.Entry().connection.connectionType, CONNTYPE_1);
    EXPECT_EQ(m_settings.GetUDPLastBuffering(), CONNTYPE_3);
    EXPECT_EQ(m_dlg.Entry().connection.hops, 1);
    const std::map<int, int> hops = {{0, 1}, {-3, 1}, {1, 1}, {255, 255}, {256, 255}, {999, 255}, {1000, 1}};
    for (const auto& [in, out] : hops) EXPECT_EQ(CMulticastDestinationLogic::ClampHops(in), out) << in;
}

TEST_F(MulticastLogicTest, ReceiverKeepsItsFormatAndRadios) {
    PhonebookEntry e = Entry("Listen", TRANSPORT_MULTICAST);
    e.format.codingType = CODING_MPEG_L2;
    e.format.bitRate = 384000;
    e.format.sampleRate = 16000;  // no list would keep this
    e.format.deviceMode = DEVICEMODE_MONO;
    e.format.direction = DIRECTION_RECEIVE_ONLY;
    e.connection.connectionType = CONNTYPE_3;
    e.connection.bufferingMode = BUFMODE_FIXED;  // not offered here
    m_dlg.Load(&m_phonebook, &e);
    const ConnectionTypeMarks marks = m_dlg.ConnectionMarks();
    EXPECT_EQ(marks.type, ConnectionRadio::Type3);
    EXPECT_EQ(marks.buffer, ConnectionRadio::Reliable);
    m_dlg.UpdateFormats();
    EXPECT_EQ(m_dlg.Entry().format.sampleRate, 16000);
    EXPECT_EQ(m_dlg.Entry().format.deviceMode, DEVICEMODE_MONO);
}

}  // namespace
