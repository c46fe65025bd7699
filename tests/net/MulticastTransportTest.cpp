// The multicast transport on 127.0.0.1, where a plain UDP socket plays the
// other end: loopback carries no multicast, so there the "group" is the
// loopback address (the receiver's join of it fails and is only kept as its
// error). Then a real group, in network namespaces made by the tests.
// Protocol time is a CSimClock; real time only lets datagrams arrive.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "common/ByteOrder.h"
#include "fakes/DatagramPeer.h"
#include "net/MulticastTransport.h"
#include "net/PeerBlock.h"
#include "platform/Clock.h"
#include "support/Layer2PacketFrame.h"
#include "support/NetNamespace.h"
#include "support/TestFormat.h"

using namespace datagram;

namespace {

// Every format here is one a station sends.
AudioFormat SendFormat(int coding, int bitRate, int rate, int mode, int frameBytes) {
    return TestFormat(coding, bitRate, rate, mode, frameBytes, DIRECTION_SEND_ONLY);
}

Bytes FormatPayload(const AudioFormat& f) {
    Bytes b(kAudioFormatBytes);
    StoreAudioFormat(f, b.data());
    return b;
}

Bytes IdentityPayload(const char* name) {
    StationIdentity id;
    std::snprintf(id.stationName, sizeof id.stationName, "%s", name);
    std::snprintf(id.productName, sizeof id.productName, "Velmora");
    id.versionNumber = kStationVersionNumber;
    Bytes b(kStationIdentityBytes);
    StoreStationIdentity(id, b.data());
    return b;
}

Bytes Pattern(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

// Polls the transport until done() holds or about maxMs of real time passed.
template <typename F>
bool PumpUntil(CMulticastTransport& t, F done, int maxMs = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    while (std::chrono::steady_clock::now() < end) {
        t.Poll();
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

struct MulticastTransportTest : ::testing::Test {
    CSimClock m_clock{1000};
    CMulticastTransport m_t;
    Peer m_peer;

    void SetUp() override {
        ASSERT_EQ(m_t.Init(10240), 1);
        ASSERT_EQ(m_t.OpenSocket(), 1);
    }

    void OpenSender(int hops = 1) { ASSERT_EQ(m_t.Open("127.0.0.1", m_peer.port, 1, hops), 1); }
    uint16_t OpenReceiver() {
        // A port nobody else uses: the peer's, freed again.
        uint16_t port;
        {
            Peer probe;
            port = probe.port;
        }
        EXPECT_EQ(m_t.Open("127.0.0.1", port, 0, 1), 1);
        return port;
    }
};

TEST_F(MulticastTransportTest, StatesFromInitToOpenAndBack) {
    CMulticastTransport t;
    EXPECT_EQ(t.OpenSocket(), 0);  // not initialised
    ASSERT_EQ(t.Init(0), 1);
    EXPECT_EQ(t.GetState(), 16);
    EXPECT_EQ(t.Init(10240), 0);
    EXPECT_EQ(t.Open("127.0.0.1", 5000, 1, 1), 0);  // no socket yet
    ASSERT_EQ(t.OpenSocket(), 1);
    EXPECT_EQ(t.IsStateChanged(), 1);
    EXPECT_EQ(t.GetState(), 17);
    EXPECT_EQ(t.IsStateChanged(), 0);
    EXPECT_EQ(t.OpenSocket(), 0);
    // Settings that cannot work are refused with a reason.
    EXPECT_EQ(t.Open("239.255.1.1", 0, 1, 1), 0);
    EXPECT_EQ(t.GetLastError(), 10022);
    EXPECT_EQ(t.Open("no-such-host.invalid", 5000, 1, 1), 0);
    EXPECT_EQ(t.GetLastError(), 11001);
    EXPECT_EQ(t.GetLastError(), 0);
    ASSERT_EQ(t.Open(" 127.0_.0.1* ", 5000, 1, 1), 1);
    EXPECT_EQ(t.GetState(), 48);
    EXPECT_EQ(t.Close(), 1);
    EXPECT_EQ(t.GetState(), 16);
    EXPECT_EQ(t.IsReceiveFormatChanged(), 1);
    AudioFormat f;
    t.GetReceiveFormat(&f);
    EXPECT_EQ(f.codingType, 0);
    EXPECT_EQ(t.IsReceiveFormatChanged(), 0);
}

TEST_F(MulticastTransportTest, SenderSplitsABlockIntoDatagramsOfAtMost1024Bytes) {
    OpenSender();
    const AudioFormat f = SendFormat(CODING_PCM, 768000, 48000, DEVICEMODE_MONO, 3000);
    m_t.SetSendFormat(&f);
    EXPECT_EQ(m_t.GetSendSpace(), 3000);
    EXPECT_EQ(m_t.GetReceiveAvailable(), 0);
    ASSERT_EQ(m_peer.Receive(1).size(), 1u);  // the format goes out at once
    const Bytes block = Pattern(3000, 3);
    ASSERT_EQ(m_t.WriteAudio(block.data(), 3000), 1);
    const std::vector<Datagram> got = m_peer.Receive(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].bytes.size(), 1024u);
    EXPECT_EQ(got[1].bytes.size(), 1024u);
    EXPECT_EQ(got[2].bytes.size(), 952u);
    Bytes joined;
    for (const Datagram& d : got) joined.insert(joined.end(), d.bytes.begin(), d.bytes.end());
    EXPECT_EQ(joined, block);
    EXPECT_EQ(m_t.WriteAudio(block.data(), 0), 0);
    EXPECT_EQ(m_t.ReadAudio(joined.data(), 10), 0);  // a sender hears nothing
}

TEST_F(MulticastTransportTest, SenderAnnouncesFormatAndIdentityEvery4Seconds) {
    OpenSender();
    // G.711's 96-byte frames are smaller than the 140-byte identity frame: it goes all the same.
    const AudioFormat f = SendFormat(CODING_G711_ALAW, 64000, 8000, DEVICEMODE_MONO, 96);
    m_t.SetSendFormat(&f);
    const Bytes id = IdentityPayload("Studio A");
    EXPECT_EQ(m_t.SendControl(CTRL_PEERINFO, id.data(), static_cast<int>(id.size())), 1);
    std::vector<Datagram> got = m_peer.Receive(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(FrameType(got[0].bytes), CTRL_FORMAT);
    EXPECT_EQ(got[0].bytes.size(), 16u + 72u);
    EXPECT_EQ(LoadAudioFormat(got[0].bytes.data() + 16).frameBytes, 96);
    EXPECT_EQ(FrameType(got[1].bytes), CTRL_PEERINFO);
    EXPECT_EQ(Bytes(got[1].bytes.begin() + 16, got[1].bytes.end()), id);
    for (int period = 0; period < 3; ++period) {
        m_clock.AdvanceMs(3999);
        m_t.Poll();
        EXPECT_TRUE(m_peer.Drain(50).empty()) << "period " << period;
        m_clock.AdvanceMs(1);
        m_t.Poll();
        got = m_peer.Receive(2);
        ASSERT_EQ(got.size(), 2u) << "period " << period;
        EXPECT_EQ(FrameType(got[0].bytes), CTRL_FORMAT);
        EXPECT_EQ(FrameType(got[1].bytes), CTRL_PEERINFO);
    }
}

TEST_F(MulticastTransportTest, ReceiverTakesFormatAudioAndIdentityFromItsSource) {
    const uint16_t port = OpenReceiver();
    EXPECT_EQ(m_t.GetLastError(), 10022);  // the loopback address is no group to join
    const ws::SocketAddress to = At(ws::kAddressLoopback, port);
    const AudioFormat f = SendFormat(CODING_PCM, 768000, 48000, DEVICEMODE_MONO, 2304);
    ASSERT_TRUE(m_peer.Send(Frame(CTRL_FORMAT, FormatPayload(f)), to));
    ASSERT_TRUE(PumpUntil(m_t, [&] { return m_t.IsReceiveFormatChanged() && m_t.GetReceiver().GetFormat().codingType; }));
    AudioFormat got;
    m_t.GetReceiveFormat(&got);
    EXPECT_EQ(got.codingType, CODING_PCM);
    EXPECT_EQ(got.frameBytes, 2304);
    EXPECT_EQ(got.direction, DIRECTION_RECEIVE_ONLY);
    EXPECT_EQ(got.aptxOption, 1);
    EXPECT_EQ(m_t.GetReceiver().GetParseMode(), 10);
    EXPECT_EQ(m_t.GetSendSpace(), 0);
    EXPECT_EQ(m_t.SendControl(CTRL_PEERINFO, nullptr, 0), 0);  // receivers send nothing

    // The same format again (another frame size, same first four words) changes nothing.
    AudioFormat again = f;
    again.frameBytes = 4608;
    ASSERT_TRUE(m_peer.Send(Frame(CTRL_FORMAT, FormatPayload(again)), to));
    const Bytes audio = Pattern(2304, 9);
    const Bytes id = IdentityPayload("Studio A");
    ASSERT_TRUE(m_peer.Send(Bytes(audio.begin(), audio.begin() + 1024), to));
    ASSERT_TRUE(m_peer.Send(Frame(CTRL_PEERINFO, id), to));
    ASSERT_TRUE(m_peer.Send(Bytes(audio.begin() + 1024, audio.end()), to));
    std::vector<int> types;
    Bytes heard;
    uint8_t buf[4096];
    ASSERT_TRUE(PumpUntil(m_t, [&] {
        if (m_t.GetControlType() == CTRL_PEERINFO) {
            EXPECT_EQ(m_t.ReadAudio(buf, sizeof buf), 0);  // the frame first
            EXPECT_EQ(m_t.GetControlLength(), 124);
            uint8_t record[130];
            EXPECT_EQ(m_t.ReadControl(record, sizeof record), 1);
            EXPECT_EQ(Bytes(record, record + 124), id);
            EXPECT_EQ(record[124], 0);
            types.push_back(CTRL_PEERINFO);
        }
        const int n = m_t.ReadAudio(buf, sizeof buf);
        if (n > 0) heard.insert(heard.end(), buf, buf + n);
        return heard.size() >= audio.size() && !types.empty();
    }));
    EXPECT_EQ(heard, audio);
    EXPECT_EQ(m_t.IsReceiveFormatChanged(), 0);
    EXPECT_EQ(m_t.GetReceiver().GetFormat().frameBytes, 2304);
}

TEST_F(MulticastTransportTest, ShortOrBrokenFramesAreIgnored) {
    const uint16_t port = OpenReceiver();
    const ws::SocketAddress to = At(ws::kAddressLoopback, port);
    // A format frame whose payload is too short for a format.
    ASSERT_TRUE(m_peer.Send(Frame(CTRL_FORMAT, Bytes(40, 7)), to));
    // A frame head claiming more than any buffer holds.
    Bytes huge = Frame(CTRL_PEERINFO, Bytes(8, 1));
    PutLe32(huge.data() + 8, 0x7FFFFFF0u);
    ASSERT_TRUE(m_peer.Send(huge, to));
    ASSERT_TRUE(PumpUntil(m_t, [&] { return m_t.GetReceiver().HasSource(); }));
    for (int i = 0; i < 50; ++i) m_t.Poll();
    EXPECT_EQ(m_t.GetReceiver().GetFormat().codingType, 0);
    EXPECT_EQ(m_t.GetControlType(), 0);
    EXPECT_EQ(m_t.GetReceiver().IsPartial(), 0);
}

TEST_F(MulticastTransportTest, ReceiverFollowsOnlyItsFirstSourceUntilItIsSilentFor2Seconds) {
    const uint16_t port = OpenReceiver();
    const ws::SocketAddress to = At(ws::kAddressLoopback, port);
    Peer second;
    const AudioFormat first = SendFormat(CODING_PCM, 768000, 48000, DEVICEMODE_MONO, 2304);
    const AudioFormat other = SendFormat(CODING_PCM, 512000, 32000, DEVICEMODE_MONO, 2304);
    ASSERT_TRUE(m_peer.Send(Frame(CTRL_FORMAT, FormatPayload(first)), to));
    ASSERT_TRUE(PumpUntil(m_t, [&] { return m_t.GetReceiver().GetFormat().codingType != 0; }));
    ASSERT_TRUE(second.Send(Frame(CTRL_FORMAT, FormatPayload(other)), to));
    ASSERT_TRUE(PumpUntil(m_t, [&] { return m_t.GetReceiver().GetIgnoredDatagrams() == 1; }));
    EXPECT_EQ(m_t.GetReceiver().GetFormat().sampleRate, 48000);
    m_clock.AdvanceMs(1999);
    m_t.Poll();
    EXPECT_EQ(m_t.GetReceiver().GetFormat().sampleRate, 48000);
    m_clock.AdvanceMs(1);
    m_t.Poll();
    EXPECT_EQ(m_t.GetReceiver().HasSource(), 0);
    EXPECT_EQ(m_t.GetReceiver().GetFormat().codingType, 0);
    EXPECT_EQ(m_t.IsReceiveFormatChanged(), 1);
    ASSERT_TRUE(second.Send(Frame(CTRL_FORMAT, FormatPayload(other)), to));
    ASSERT_TRUE(PumpUntil(m_t, [&] { return m_t.GetReceiver().GetFormat().sampleRate == 32000; }));
    EXPECT_EQ(m_t.GetReceiver().GetSource().port, second.port);
}

TEST_F(MulticastTransportTest, ReceiverWithoutFormatTriesBothReadingsInTurnEvery10Seconds) {
    OpenReceiver();
    m_t.Poll();
    EXPECT_EQ(m_t.GetReceiver().GetParseMode(), 0);
    const int expected[] = {20, 10, 20, 10};
    for (int mode : expected) {
        m_clock.AdvanceMs(9999);
        m_t.Poll();
        m_clock.AdvanceMs(1);
        m_t.Poll();
        EXPECT_EQ(m_t.GetReceiver().GetParseMode(), mode);
    }
}

Bytes LayerIIFrame(uint8_t seed) { return Layer2PacketFrame(Pattern(384, seed)); }

// A station that starts sending while its receiver tries the parser reading:
// the parser would play its Layer II audio but never read its control frames.
// Its first control frame switches the receiver to them, and it is named.
TEST_F(MulticastTransportTest, SenderHeardFirstInTheParserReadingIsStillNamed) {
    const uint16_t port = OpenReceiver();
    m_t.Poll();
    m_clock.AdvanceMs(CMulticastReceiver::kModeToggleMs);
    m_t.Poll();
    ASSERT_EQ(m_t.GetReceiver().GetParseMode(), 20);

    CMulticastTransport sender;
    ASSERT_EQ(sender.Init(10240), 1);
    ASSERT_EQ(sender.OpenSocket(), 1);
    ASSERT_EQ(sender.Open("127.0.0.1", port, 1, 1), 1);
    const AudioFormat f = SendFormat(CODING_MPEG_L2, 128000, 48000, DEVICEMODE_STEREO, 384);
    sender.SetSendFormat(&f);  // announces the format at once
    const Bytes id = IdentityPayload("Studio S");
    ASSERT_EQ(sender.SendControl(CTRL_PEERINFO, id.data(), static_cast<int>(id.size())), 1);
    for (int i = 0; i < 8; ++i) ASSERT_EQ(sender.WriteAudio(LayerIIFrame(static_cast<uint8_t>(i)).data(), 384), 1);

    Bytes named;
    Bytes heard;
    uint8_t buf[384];
    ASSERT_TRUE(PumpUntil(m_t, [&] {
        if (m_t.GetControlType() == CTRL_PEERINFO) {
            named.assign(124, 0);
            m_t.ReadControl(named.data(), 124);
        }
        const int n = m_t.ReadAudio(buf, sizeof buf);
        if (n > 0) heard.insert(heard.end(), buf, buf + n);
        return !named.empty() && heard.size() >= 4 * 384;
    })) << "parse mode " << m_t.GetReceiver().GetParseMode() << ", " << heard.size() << " bytes heard";
    EXPECT_EQ(named, id);
    EXPECT_EQ(m_t.GetReceiver().GetParseMode(), 10);
    EXPECT_EQ(m_t.GetReceiver().GetFormat().codingType, CODING_MPEG_L2);
    EXPECT_EQ(m_t.GetReceiver().GetFormat().bitRate, 128000);
    EXPECT_EQ(heard[0], 0xFF);
}

// A frame size smaller than a control frame: datagrams larger than the room
// there is now are taken in parts, never cut.
TEST_F(MulticastTransportTest, DatagramsLargerThanTheRoomArriveWhole) {
    const uint16_t port = OpenReceiver();
    const ws::SocketAddress to = At(ws::kAddressLoopback, port);
    const AudioFormat f = SendFormat(CODING_G711_ALAW, 64000, 8000, DEVICEMODE_MONO, 96);
    ASSERT_TRUE(m_peer.Send(Frame(CTRL_FORMAT, FormatPayload(f)), to));
    ASSERT_TRUE(PumpUntil(m_t, [&] { return m_t.GetReceiver().GetFormat().codingType != 0; }));
    const Bytes audio = Pattern(1500, 5);
    const Bytes id = IdentityPayload("Low Rate");
    ASSERT_TRUE(m_peer.Send(Bytes(audio.begin(), audio.begin() + 50), to));
    ASSERT_TRUE(m_peer.Send(Frame(CTRL_PEERINFO, id), to));
    ASSERT_TRUE(m_peer.Send(Bytes(audio.begin() + 50, audio.end()), to));
    Bytes heard;
    bool gotId = false;
    uint8_t buf[96];
    ASSERT_TRUE(PumpUntil(m_t, [&] {
        if (m_t.GetControlType() == CTRL_PEERINFO) {
            uint8_t record[124];
            m_t.ReadControl(record, sizeof record);
            gotId = Bytes(record, record + 124) == id;
        }
        const int n = m_t.ReadAudio(buf, sizeof buf);  // one frame a pass, as the call engine reads
        if (n > 0) heard.insert(heard.end(), buf, buf + n);
        return heard.size() >= audio.size();
    }));
    EXPECT_TRUE(gotId);
    EXPECT_EQ(heard, audio);
}

// A station speaking the packet protocol: its peer packet switches the
// receiver to the parser, which finds the Layer II format after four frames.
TEST_F(MulticastTransportTest, PacketProtocolSourceIsReadThroughTheParser) {
    const uint16_t port = OpenReceiver();
    const ws::SocketAddress to = At(ws::kAddressLoopback, port);
    StationIdentity id;
    std::snprintf(id.stationName, sizeof id.stationName, "Packet Studio");
    id.versionNumber = 66000;
    Bytes peerPacket(kPeerPacketBytes);
    BuildPeerPacket(id, peerPacket.data());
    ASSERT_TRUE(m_peer.Send(peerPacket, to));
    ASSERT_TRUE(PumpUntil(m_t, [&] { return m_t.GetControlType() == CTRL_PEERINFO; }));
    EXPECT_EQ(m_t.GetReceiver().GetParseMode(), 20);
    uint8_t record[124];
    ASSERT_EQ(m_t.ReadControl(record, sizeof record), 1);
    const StationIdentity got = LoadStationIdentity(record);
    EXPECT_STREQ(got.stationName, "Packet Studio");
    EXPECT_EQ(got.versionNumber, 66000u);
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(m_peer.Send(LayerIIFrame(static_cast<uint8_t>(i)), to));
    ASSERT_TRUE(PumpUntil(m_t, [&] { return m_t.GetReceiveAvailable() >= 384; }));
    AudioFormat f;
    m_t.GetReceiveFormat(&f);
    EXPECT_EQ(f.codingType, CODING_MPEG_L2);
    EXPECT_EQ(f.bitRate, 128000);
    EXPECT_EQ(f.sampleRate, 48000);
    uint8_t frame[384];
    ASSERT_EQ(m_t.ReadAudio(frame, 384), 384);
    EXPECT_EQ(frame[0], 0xFF);
    EXPECT_EQ(frame[2], 0x84);
}

// A peer packet shorter than a peer block, at the very end of what arrived:
// only its own bytes are read.
TEST_F(MulticastTransportTest, ShortPeerPacketIsReadOnlyAsFarAsItGoes) {
    const uint16_t port = OpenReceiver();
    const ws::SocketAddress to = At(ws::kAddressLoopback, port);
    Bytes packet = {0xFF, 0x10, 16, 0, 6, 0, 'S', 'h', 'o', 'r', 't', 0};
    ASSERT_TRUE(m_peer.Send(packet, to));
    ASSERT_TRUE(PumpUntil(m_t, [&] { return m_t.GetControlType() == CTRL_PEERINFO; }));
    uint8_t record[124];
    ASSERT_EQ(m_t.ReadControl(record, sizeof record), 1);
    const StationIdentity got = LoadStationIdentity(record);
    EXPECT_STREQ(got.stationName, "Short");
    EXPECT_STREQ(got.productName, "");
    EXPECT_EQ(got.versionNumber, 0u);
}

}  // namespace

// ------------------------------------------------------------ in namespaces
// Stations A and D send, B and C receive, each in a network namespace of
// this test joined by a bridge; the group is administratively scoped.

namespace {

constexpr const char* kGroup = "239.255.12.34";
constexpr uint32_t kGroupIp = 0xEFFF0C22u;
constexpr int kGroupPort = 5004;

struct MulticastGroupTest : ::testing::Test {
    CSimClock m_clock{1000};
    CTestNetwork m_net{"abcd"};

    void SetUp() override {
        if (!m_net.IsUp()) GTEST_SKIP() << m_net.Why();
    }

    // A transport opened in the station's namespace.
    std::unique_ptr<CMulticastTransport> Station(char s, int sender, int hops = 1) {
        CNamespaceScope in(m_net, s);
        EXPECT_TRUE(in.IsIn());
        auto t = std::make_unique<CMulticastTransport>();
        EXPECT_EQ(t->Init(10240), 1);
        EXPECT_EQ(t->OpenSocket(), 1);
        EXPECT_EQ(t->Open(kGroup, kGroupPort, sender, hops), 1);
        EXPECT_EQ(t->GetLastError(), 0);
        return t;
    }
    std::unique_ptr<Peer> Listener(char s) {
        CNamespaceScope in(m_net, s);
        return std::make_unique<Peer>(kGroupPort, kGroupIp);
    }

    static bool Hears(CMulticastTransport& r, const Bytes& audio, int maxMs = 3000) {
        Bytes heard;
        uint8_t buf[4096];
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
        while (std::chrono::steady_clock::now() < end && heard.size() < audio.size()) {
            r.Poll();
            if (r.GetControlType()) r.DiscardControl();
            const int n = r.ReadAudio(buf, sizeof buf);
            if (n > 0) heard.insert(heard.end(), buf, buf + n);
            else std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return heard == audio;
    }
};

TEST_F(MulticastGroupTest, OneSenderReachesEveryReceiverWithTheEntrysHops) {
    auto a = Station('a', 1, 3);
    auto b = Station('b', 0);
    auto c = Station('c', 0);
    auto tap = Listener('b');  // a second receiver on B's port: the port is shared
    const AudioFormat f = SendFormat(CODING_PCM, 768000, 48000, DEVICEMODE_MONO, 3000);
    a->SetSendFormat(&f);
    const Bytes block = Pattern(3000, 1);
    for (CMulticastTransport* r : {b.get(), c.get()}) {
        ASSERT_TRUE(PumpUntil(*r, [&] { return r->GetReceiver().GetFormat().codingType == CODING_PCM; }));
    }
    ASSERT_EQ(a->WriteAudio(block.data(), 3000), 1);
    std::vector<Datagram> got = tap->Receive(4);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(FrameType(got[0].bytes), CTRL_FORMAT);
    EXPECT_EQ(got[1].bytes.size(), 1024u);
    EXPECT_EQ(got[2].bytes.size(), 1024u);
    EXPECT_EQ(got[3].bytes.size(), 952u);
    for (const Datagram& d : got) {
        EXPECT_EQ(d.ttl, 3);
        EXPECT_EQ(d.from.ip, m_net.Address('a'));
    }
    EXPECT_TRUE(Hears(*b, block));
    EXPECT_TRUE(Hears(*c, block));
    // The announcement repeats every 4.0 s, as a pair: format, then identity.
    const Bytes id = IdentityPayload("Studio A");
    ASSERT_EQ(a->SendControl(CTRL_PEERINFO, id.data(), static_cast<int>(id.size())), 1);
    ASSERT_EQ(tap->Receive(1).size(), 1u);
    for (int period = 0; period < 2; ++period) {
        m_clock.AdvanceMs(3999);
        a->Poll();
        EXPECT_TRUE(tap->Drain(50).empty());
        m_clock.AdvanceMs(1);
        a->Poll();
        got = tap->Receive(2);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(FrameType(got[0].bytes), CTRL_FORMAT);
        EXPECT_EQ(FrameType(got[1].bytes), CTRL_PEERINFO);
    }
    // Loopback is off: the sender's own station hears nothing of it.
    auto own = Listener('a');
    ASSERT_EQ(a->WriteAudio(block.data(), 100), 1);
    EXPECT_EQ(tap->Receive(1).size(), 1u);
    EXPECT_TRUE(own->Drain(100).empty());
}

TEST_F(MulticastGroupTest, ReceiverJoinsTheGroupOnOpenAndLeavesItOnClose) {
    EXPECT_EQ(m_net.Memberships('b').find(kGroup), std::string::npos);
    auto b = Station('b', 0);
    EXPECT_NE(m_net.Memberships('b').find(kGroup), std::string::npos) << m_net.Memberships('b');
    b->Close();
    EXPECT_EQ(m_net.Memberships('b').find(kGroup), std::string::npos) << m_net.Memberships('b');
    // A sender joins nothing.
    auto a = Station('a', 1);
    EXPECT_EQ(m_net.Memberships('a').find(kGroup), std::string::npos);
}

TEST_F(MulticastGroupTest, SecondSenderIsFollowedOnly2SecondsAfterTheFirstFellSilent) {
    auto a = Station('a', 1);
    auto d = Station('d', 1);
    auto b = Station('b', 0);
    const AudioFormat fa = SendFormat(CODING_PCM, 768000, 48000, DEVICEMODE_MONO, 2304);
    const AudioFormat fd = SendFormat(CODING_G722, 64000, 16000, DEVICEMODE_MONO, 192);
    a->SetSendFormat(&fa);
    ASSERT_TRUE(PumpUntil(*b, [&] { return b->GetReceiver().GetFormat().codingType == CODING_PCM; }));
    d->SetSendFormat(&fd);
    const Bytes fromD = Pattern(192, 40);
    ASSERT_EQ(d->WriteAudio(fromD.data(), 192), 1);
    ASSERT_TRUE(PumpUntil(*b, [&] { return b->GetReceiver().GetIgnoredDatagrams() >= 2; }));
    EXPECT_EQ(b->GetReceiver().GetFormat().codingType, CODING_PCM);
    EXPECT_EQ(b->GetReceiveAvailable(), 0);
    // A falls silent: 2 s later its format is forgotten, and D's next announcement is taken.
    m_clock.AdvanceMs(2000);
    b->Poll();
    AudioFormat got;
    ASSERT_EQ(b->IsReceiveFormatChanged(), 1);
    b->GetReceiveFormat(&got);
    EXPECT_EQ(got.codingType, 0);
    m_clock.AdvanceMs(2000);
    d->Poll();  // D's 4-second repeat
    ASSERT_TRUE(PumpUntil(*b, [&] { return b->GetReceiver().GetFormat().codingType == CODING_G722; }));
    EXPECT_EQ(b->GetReceiver().GetSource().ip, m_net.Address('d'));
    ASSERT_EQ(d->WriteAudio(fromD.data(), 192), 1);
    EXPECT_TRUE(Hears(*b, fromD));
}

TEST_F(MulticastGroupTest, LinkDownSetsTheSendErrorAndAZeroFormatUntilASendSucceeds) {
    auto a = Station('a', 1);
    const AudioFormat f = SendFormat(CODING_PCM, 768000, 48000, DEVICEMODE_MONO, 2304);
    a->SetSendFormat(&f);
    AudioFormat got;
    a->GetReceiveFormat(&got);
    EXPECT_EQ(got.codingType, CODING_PCM);
    ASSERT_TRUE(m_net.SetLink('a', false));
    const Bytes block = Pattern(2304, 2);
    EXPECT_EQ(a->WriteAudio(block.data(), 2304), 0);
    EXPECT_EQ(a->IsSendFailing(), 1);
    ASSERT_EQ(a->IsReceiveFormatChanged(), 1);
    a->GetReceiveFormat(&got);
    EXPECT_EQ(got.codingType, 0);
    EXPECT_EQ(got.aptxOption, 0);
    EXPECT_EQ(a->GetLastError(), 0);  // not kept: it would repeat with every datagram
    ASSERT_TRUE(m_net.SetLink('a', true));
    EXPECT_EQ(a->WriteAudio(block.data(), 2304), 1);
    ASSERT_EQ(a->IsReceiveFormatChanged(), 1);
    a->GetReceiveFormat(&got);
    EXPECT_EQ(got.codingType, CODING_PCM);
}

}  // namespace
