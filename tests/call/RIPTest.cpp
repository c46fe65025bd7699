#include "call/RIP.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "call/RipProtocol.h"
#include "common/ByteOrder.h"
#include "common/MainWindowMessages.h"
#include "platform/Clock.h"
#include "platform/MessageSink.h"

namespace {
namespace fs = std::filesystem;

struct Reply {
    uint32_t command = 0;
    std::vector<uint8_t> body;
};

// A control application: a plain blocking client on loopback.
class Client {
public:
    explicit Client(int port) {
        m_socket = ws::socket(ws::SocketKind::Stream);
        EXPECT_EQ(ws::connect(m_socket, ws::SocketAddress{ws::kAddressLoopback, static_cast<uint16_t>(port)}), 0);
        ws::SetReceiveTimeout(m_socket, 2000);
    }
    ~Client() { Close(); }
    void Close() {
        if (m_socket != ws::INVALID_SOCKET) ws::closesocket(m_socket);
        m_socket = ws::INVALID_SOCKET;
    }
    void SendRaw(const std::vector<uint8_t>& bytes) {
        ASSERT_EQ(ws::send(m_socket, bytes.data(), static_cast<int>(bytes.size())), static_cast<int>(bytes.size()));
    }
    static std::vector<uint8_t> Message(uint32_t command, const std::vector<uint8_t>& body = {}) {
        std::vector<uint8_t> m(8 + body.size());
        PutLe32(m.data(), command);
        PutLe32(m.data() + 4, static_cast<uint32_t>(body.size()));
        std::copy(body.begin(), body.end(), m.begin() + 8);
        return m;
    }
    void Send(uint32_t command, const std::vector<uint8_t>& body = {}) { SendRaw(Message(command, body)); }

    // Polls the server until a whole reply is here.
    Reply Read(CRIP& rip) {
        Reply r;
        std::vector<uint8_t> header = ReadBytes(rip, 8);
        if (header.size() < 8) return r;
        r.command = GetLe32(header.data());
        r.body = ReadBytes(rip, GetLe32(header.data() + 4));
        return r;
    }
    std::vector<uint8_t> ReadBytes(CRIP& rip, size_t n) {
        std::vector<uint8_t> out;
        for (int tries = 0; out.size() < n && tries < 400; ++tries) {
            rip.Poll();
            if (ws::WaitSocket(m_socket, ws::kWaitRead, 5) & ws::kWaitRead) {
                uint8_t buf[2048];
                const int got = ws::recv(m_socket, buf, static_cast<int>(std::min(n - out.size(), sizeof buf)));
                if (got <= 0) break;
                out.insert(out.end(), buf, buf + got);
            }
        }
        return out;
    }
    // Gives the server a few passes to take what was sent; true when it answered nothing.
    bool NothingMore(CRIP& rip) {
        for (int i = 0; i < 20; ++i) {
            rip.Poll();
            usleep(2000);
        }
        return !(ws::WaitSocket(m_socket, ws::kWaitRead, 20) & ws::kWaitRead);
    }
    ws::SOCKET Socket() const { return m_socket; }

private:
    ws::SOCKET m_socket = ws::INVALID_SOCKET;
};

std::vector<uint8_t> Words(std::initializer_list<uint32_t> words) {
    std::vector<uint8_t> b(words.size() * 4);
    size_t i = 0;
    for (uint32_t w : words) PutLe32(b.data() + 4 * i++, w);
    return b;
}

std::vector<uint8_t> NetworkRequest(const char* address, uint32_t port, uint32_t direction) {
    std::vector<uint8_t> b(kRipNetworkRequestBytes, 0);
    PutLe32(b.data(), RIP_MEDIA_NETWORK);
    std::memcpy(b.data() + 4, address, std::strlen(address));
    PutLe32(b.data() + 84, port);
    PutLe32(b.data() + 88, 20);
    PutLe32(b.data() + 92, 10);
    PutLe32(b.data() + 96, 1);
    PutLe32(b.data() + 100, direction);
    return b;
}

uint32_t Word(const Reply& r, size_t index) { return GetLe32(r.body.data() + 4 * index); }

struct RIPTest : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("riptest-" + std::to_string(getpid()));
    fs::path oldDir = fs::current_path();
    CMessageSink window;
    std::unique_ptr<CRIP> rip;
    int port = 0;

    void SetUp() override {
        fs::create_directories(dir);
        fs::current_path(dir);  // the log and the settings live in the current folder
        setenv("VELMORA_SETTINGS_FILE", (dir / "Velmora.Ini").c_str(), 1);
        std::ofstream(dir / "Velmora.Ini") << "[Options]\nDebug=1\n[TCP]\nAnswerAcceptCalls=1\n[ISDN]\nAnswerAcceptCalls=0\n";
        rip = std::make_unique<CRIP>();
        // Port 0 is not ours to ask for; find a free one by trying.
        for (port = 20000 + getpid() % 20000; port < 65000; port += 7) {
            if (rip->Init(window.Handle(), port)) break;
            rip = std::make_unique<CRIP>();
        }
        rip->SetAvailableTransports(TRANSPORT_TCP);
    }
    void TearDown() override {
        rip.reset();
        fs::current_path(oldDir);
        fs::remove_all(dir);
        unsetenv("VELMORA_SETTINGS_FILE");
    }
    std::vector<UINT> SentMessages() {
        std::vector<UINT> codes;
        for (const MSG& m : window.Sent()) codes.push_back(m.message);
        return codes;
    }
};
}  // namespace

TEST_F(RIPTest, IdentityAndStateOnConnect) {
    Client client(port);
    Reply state = client.Read(*rip);
    EXPECT_EQ(state.command, RIP_CMD_STATE);
    EXPECT_EQ(Word(state, 0), 0u);
    EXPECT_TRUE(client.NothingMore(*rip));  // idle: no further reports

    client.Send(RIP_CMD_IDENTITY);
    Reply id = client.Read(*rip);
    ASSERT_EQ(id.command, RIP_CMD_IDENTITY);
    ASSERT_EQ(id.body.size(), 74u);
    EXPECT_EQ(GetLe16(id.body.data()), 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(id.body.data() + 4), "Velmora");
    EXPECT_STREQ(reinterpret_cast<const char*>(id.body.data() + 24), "Transvoria");
    EXPECT_STREQ(reinterpret_cast<const char*>(id.body.data() + 49), "V1.5b");
    EXPECT_STREQ(reinterpret_cast<const char*>(id.body.data() + 59), "20-Jan-2010");
}

TEST_F(RIPTest, MakeConnectionAsksTheMainWindowAndReportsFollow) {
    Client client(port);
    client.Read(*rip);
    client.Send(RIP_CMD_SET_ENCODER, Words({CODING_MPEG_L2, 200000, 24000, 10}));
    client.Send(RIP_CMD_MAKE_CONNECTION, NetworkRequest("127.0.0.1", 5003, 16));
    ASSERT_TRUE(client.NothingMore(*rip));
    ASSERT_EQ(SentMessages(), std::vector<UINT>{WM_RIP_CONNECT});

    ConnectionInfo dest;
    rip->GetRequestedDestination(&dest);
    EXPECT_EQ(dest.kind, TRANSPORT_TCP);
    EXPECT_STREQ(dest.address, "127.0.0.1");
    EXPECT_EQ(dest.port, 5003);
    EXPECT_EQ(dest.connectionType, 20);
    EXPECT_EQ(dest.flag, 1);
    AudioFormat format;
    rip->GetRequestedFormat(&format);
    EXPECT_EQ(format.bitRate, 224000);
    EXPECT_EQ(format.sampleRate, 48000);
    EXPECT_EQ(format.deviceMode, DEVICEMODE_JOINT_STEREO);
    EXPECT_EQ(format.direction, DIRECTION_SEND_ONLY);

    rip->SendState(32);
    rip->SendState(32);  // unchanged: not sent again
    rip->SetConnectionInfo(dest);
    rip->SetEncoderFormat(format);
    AudioFormat receiveOnly = format;
    receiveOnly.direction = DIRECTION_SEND_ONLY;
    rip->SetDecoderFormat(receiveOnly);
    EXPECT_EQ(client.Read(*rip).command, RIP_CMD_STATE);
    Reply conn = client.Read(*rip);
    EXPECT_EQ(conn.command, RIP_CMD_CONNECTION_INFO);
    ASSERT_EQ(conn.body.size(), 104u);
    EXPECT_EQ(Word(conn, 0), RIP_MEDIA_NETWORK);
    EXPECT_EQ(Word(conn, 21), 5003u);
    Reply enc = client.Read(*rip);
    EXPECT_EQ(enc.command, RIP_CMD_ENCODER_FORMAT);
    EXPECT_EQ(Word(enc, 1), 224000u);
    Reply dec = client.Read(*rip);
    EXPECT_EQ(dec.command, RIP_CMD_DECODER_FORMAT);
    EXPECT_EQ(dec.body, std::vector<uint8_t>(16, 0));  // the receive side of a send-only call is empty

    client.Send(RIP_CMD_STOP_CONNECTION);
    client.NothingMore(*rip);
    EXPECT_EQ(SentMessages(), (std::vector<UINT>{WM_RIP_CONNECT, WM_RIP_DISCONNECT}));
}

TEST_F(RIPTest, ErrorReplies) {
    Client client(port);
    client.Read(*rip);
    const auto expect = [&](uint32_t command, uint32_t about, uint32_t reason) {
        Reply r = client.Read(*rip);
        EXPECT_EQ(r.command, command);
        ASSERT_EQ(r.body.size(), 8u);
        EXPECT_EQ(Word(r, 0), about);
        EXPECT_EQ(Word(r, 1), reason);
    };
    client.Send(0x777);
    expect(RIP_CMD_PROTOCOL_ERROR, 0x777, RIP_REASON_UNKNOWN);
    client.Send(RIP_CMD_MAKE_CONNECTION);
    expect(RIP_CMD_PROTOCOL_ERROR, RIP_CMD_MAKE_CONNECTION, RIP_REASON_BAD_BODY);
    std::vector<uint8_t> isdn(kRipIsdnRequestBytes, 0);
    PutLe32(isdn.data(), RIP_MEDIA_ISDN);
    client.Send(RIP_CMD_MAKE_CONNECTION, isdn);  // only TCP is offered
    expect(RIP_CMD_MESSAGE_ERROR, RIP_CMD_MAKE_CONNECTION, RIP_REASON_UNKNOWN);
    auto shortNetwork = NetworkRequest("10.0.0.1", 5003, 0);
    shortNetwork.resize(60);
    client.Send(RIP_CMD_MAKE_CONNECTION, shortNetwork);
    expect(RIP_CMD_PROTOCOL_ERROR, RIP_CMD_MAKE_CONNECTION, RIP_REASON_BAD_BODY);
    client.Send(RIP_CMD_SET_ENCODER, Words({CODING_APTX, 64000, 48000, 10}));
    expect(RIP_CMD_MESSAGE_ERROR, RIP_CMD_SET_ENCODER, RIP_REASON_BAD_BODY);
    client.Send(RIP_CMD_SET_ENCODER, Words({CODING_PCM, 0}));
    expect(RIP_CMD_PROTOCOL_ERROR, RIP_CMD_SET_ENCODER, RIP_REASON_BAD_BODY);
    client.Send(RIP_CMD_SET_ENCODER, Words({CODING_G722, 0, 16000, 10}));
    client.Send(RIP_CMD_MAKE_CONNECTION, NetworkRequest("10.0.0.1", 5003, 0));  // G.722 cannot go over TCP
    expect(RIP_CMD_MESSAGE_ERROR, RIP_CMD_MAKE_CONNECTION, RIP_REASON_BAD_BODY);
    client.Send(RIP_CMD_BANDWIDTH_INFO);
    expect(RIP_CMD_PROTOCOL_ERROR, RIP_CMD_BANDWIDTH_INFO, RIP_REASON_BAD_BODY);
    client.Send(RIP_CMD_PROTOCOL_ERROR);  // logged, never answered
    EXPECT_TRUE(client.NothingMore(*rip));
    EXPECT_TRUE(SentMessages().empty());
}

TEST_F(RIPTest, DestinationsNoTransportCouldDialAreRefusedBeforeTheMainWindow) {
    rip->SetAvailableTransports(TRANSPORT_TCP | TRANSPORT_ISDN | TRANSPORT_MULTICAST);
    Client client(port);
    client.Read(*rip);
    client.Send(RIP_CMD_SET_ENCODER, Words({CODING_PCM, 1536000, 48000, 20}));
    std::vector<std::vector<uint8_t>> requests;
    for (uint32_t bad : {0u, 65536u, 70000u, 0x98816b8au}) requests.push_back(NetworkRequest("127.0.0.1", bad, 0));
    requests.push_back(NetworkRequest("", 5003, 0));
    requests.push_back(NetworkRequest(" * _ ", 5003, 0));
    auto overlong = NetworkRequest("", 5003, 0);
    std::fill(overlong.begin() + 4, overlong.begin() + 84, '1');  // no terminator in the field
    requests.push_back(overlong);
    auto multicast = NetworkRequest("239.1.2.3", 0, 0);
    PutLe32(multicast.data(), RIP_MEDIA_MULTICAST);
    requests.push_back(multicast);
    std::vector<uint8_t> isdn(kRipIsdnRequestBytes, 0);
    PutLe32(isdn.data(), RIP_MEDIA_ISDN);  // no number
    requests.push_back(isdn);
    for (const auto& request : requests) {
        client.Send(RIP_CMD_MAKE_CONNECTION, request);
        Reply r = client.Read(*rip);
        EXPECT_EQ(r.command, RIP_CMD_MESSAGE_ERROR);
        ASSERT_EQ(r.body.size(), 8u);
        EXPECT_EQ(Word(r, 0), RIP_CMD_MAKE_CONNECTION);
        EXPECT_EQ(Word(r, 1), RIP_REASON_BAD_BODY);
    }
    std::vector<uint8_t> unknown = NetworkRequest("127.0.0.1", 5003, 0);
    PutLe32(unknown.data(), 0x40);
    client.Send(RIP_CMD_MAKE_CONNECTION, unknown);
    Reply r = client.Read(*rip);
    EXPECT_EQ(r.command, RIP_CMD_MESSAGE_ERROR);
    EXPECT_EQ(Word(r, 1), RIP_REASON_UNKNOWN);
    EXPECT_TRUE(client.NothingMore(*rip));
    EXPECT_TRUE(SentMessages().empty());

    client.Send(RIP_CMD_MAKE_CONNECTION, NetworkRequest("127.0.0.1", 65535, 0));  // the top port is fine
    ASSERT_TRUE(client.NothingMore(*rip));
    EXPECT_EQ(SentMessages(), std::vector<UINT>{WM_RIP_CONNECT});
}

// A multicast sender must send a format the group's receivers can take (PCM
// or MPEG); a receiver asks for none. The report tells senders from
// receivers and gives buffering only for receivers.
TEST_F(RIPTest, MulticastSendersAndReceivers) {
    const auto request = [](uint32_t role) {
        std::vector<uint8_t> b(kRipMulticastRequestBytes, 0);
        PutLe32(b.data(), RIP_MEDIA_MULTICAST);
        std::memcpy(b.data() + 4, "239.255.1.2", 11);
        PutLe32(b.data() + 84, 5004);
        PutLe32(b.data() + 88, 20);
        PutLe32(b.data() + 92, 10);
        PutLe32(b.data() + 96, role);
        return b;
    };
    Client client(port);
    client.Read(*rip);
    client.Send(RIP_CMD_MAKE_CONNECTION, request(16));  // only TCP offered yet
    Reply refused = client.Read(*rip);
    EXPECT_EQ(refused.command, RIP_CMD_MESSAGE_ERROR);
    EXPECT_EQ(Word(refused, 1), RIP_REASON_UNKNOWN);
    rip->SetAvailableTransports(TRANSPORT_TCP | TRANSPORT_MULTICAST);
    client.Send(RIP_CMD_SET_ENCODER, Words({CODING_G722, 64000, 16000, 10}));
    client.Send(RIP_CMD_MAKE_CONNECTION, request(16));
    Reply wrongCoding = client.Read(*rip);
    EXPECT_EQ(wrongCoding.command, RIP_CMD_MESSAGE_ERROR);
    EXPECT_EQ(Word(wrongCoding, 1), RIP_REASON_BAD_BODY);
    client.Send(RIP_CMD_MAKE_CONNECTION, request(32));  // a receiver sends nothing to check
    ASSERT_TRUE(client.NothingMore(*rip));
    ConnectionInfo dest;
    rip->GetRequestedDestination(&dest);
    EXPECT_EQ(dest.kind, TRANSPORT_MULTICAST);
    EXPECT_STREQ(dest.address, "239.255.1.2");
    EXPECT_EQ(dest.flag, 0);
    AudioFormat format;
    rip->GetRequestedFormat(&format);
    EXPECT_EQ(format.direction, DIRECTION_RECEIVE_ONLY);
    rip->SetConnectionInfo(dest);
    Reply receiver = client.Read(*rip);
    ASSERT_EQ(receiver.body.size(), 100u);
    EXPECT_EQ(Word(receiver, 0), RIP_MEDIA_MULTICAST);
    EXPECT_EQ(Word(receiver, 22), 20u);
    EXPECT_EQ(Word(receiver, 23), 10u);
    EXPECT_EQ(Word(receiver, 24), 32u);

    client.Send(RIP_CMD_SET_ENCODER, Words({CODING_MPEG_L2, 192000, 48000, 20}));
    client.Send(RIP_CMD_MAKE_CONNECTION, request(16));
    ASSERT_TRUE(client.NothingMore(*rip));
    rip->GetRequestedDestination(&dest);
    EXPECT_EQ(dest.flag, 1);
    rip->GetRequestedFormat(&format);
    EXPECT_EQ(format.direction, DIRECTION_SEND_ONLY);
    rip->SetConnectionInfo(dest);
    Reply sender = client.Read(*rip);
    ASSERT_EQ(sender.body.size(), 100u);
    EXPECT_EQ(Word(sender, 22), 0u);
    EXPECT_EQ(Word(sender, 23), 0u);
    EXPECT_EQ(Word(sender, 24), 16u);
    EXPECT_EQ(SentMessages(), (std::vector<UINT>{WM_RIP_CONNECT, WM_RIP_CONNECT}));
}

TEST_F(RIPTest, AnswerSettingsReachTheIniAndComeBack) {
    rip->SetAvailableTransports(TRANSPORT_TCP | TRANSPORT_ISDN);
    Client client(port);
    client.Read(*rip);
    client.Send(RIP_CMD_ANSWER_SETTINGS);
    Reply r = client.Read(*rip);
    EXPECT_EQ(r.command, RIP_CMD_ANSWER_SETTINGS);
    EXPECT_EQ(Word(r, 0), RIP_MEDIA_NETWORK | RIP_MEDIA_ISDN);
    EXPECT_EQ(Word(r, 1), RIP_MEDIA_NETWORK);
    client.Send(RIP_CMD_ANSWER_SETTINGS, Words({0x31, RIP_MEDIA_ISDN}));
    client.NothingMore(*rip);
    EXPECT_EQ(SentMessages(), std::vector<UINT>{WM_RIP_ANSWER_SETTINGS});
    CSettings settings;
    EXPECT_EQ(settings.GetTCPAnswerAcceptCalls(), 0);
    EXPECT_EQ(settings.GetISDNAnswerAcceptCalls(), 1);

    client.Send(RIP_CMD_BANDWIDTH_INFO, Words({32}));
    int answer = 0;
    for (int i = 0; i < 1000 && answer == 0; ++i) {
        answer = rip->PollBandwidthAnswer();
        usleep(1000);
    }
    EXPECT_EQ(answer, 32);
    EXPECT_EQ(rip->PollBandwidthAnswer(), 0);
}

TEST_F(RIPTest, SplitHeadersWaitASecondThenDrop) {
    CSimClock clock(5000);
    Client client(port);
    client.Read(*rip);
    const auto identity = Client::Message(RIP_CMD_IDENTITY);
    client.SendRaw({identity.begin(), identity.begin() + 3});
    ASSERT_TRUE(client.NothingMore(*rip));
    clock.AdvanceMs(900);
    client.SendRaw({identity.begin() + 3, identity.end()});
    EXPECT_EQ(client.Read(*rip).command, RIP_CMD_IDENTITY);  // within the second: whole

    client.SendRaw({identity.begin(), identity.begin() + 5});
    ASSERT_TRUE(client.NothingMore(*rip));
    clock.AdvanceMs(1001);
    ASSERT_TRUE(client.NothingMore(*rip));  // the late piece is dropped
    client.Send(RIP_CMD_STATE);
    Reply r = client.Read(*rip);
    EXPECT_EQ(r.command, RIP_CMD_STATE);  // and the stream is in step again
}

TEST_F(RIPTest, OverlongBodyIsReadToItsEnd) {
    Client client(port);
    client.Read(*rip);
    // A body of 3000 bytes whose tail looks like a stop request: it must not act.
    std::vector<uint8_t> body(3000, 0);
    const auto hidden = Client::Message(RIP_CMD_STOP_CONNECTION);
    std::copy(hidden.begin(), hidden.end(), body.begin() + 2000);
    client.Send(0x4444, body);
    client.Send(RIP_CMD_STATE);
    Reply first = client.Read(*rip);
    EXPECT_EQ(first.command, RIP_CMD_PROTOCOL_ERROR);
    EXPECT_EQ(Word(first, 0), 0x4444u);
    EXPECT_EQ(client.Read(*rip).command, RIP_CMD_STATE);
    EXPECT_TRUE(SentMessages().empty());
}

TEST_F(RIPTest, LateClientHearsTheWholeCallAndASecondOneWaits) {
    ConnectionInfo dest;
    dest.kind = TRANSPORT_TCP;
    std::strcpy(dest.address, "192.0.2.7");
    StationIdentity peer;
    std::strcpy(peer.stationName, "Far Studio");
    std::strcpy(peer.versionText, "V1.5b  ");
    rip->SendState(50);
    rip->SetConnectionInfo(dest);
    rip->SetRemoteIdentity(peer);
    Client client(port);
    std::vector<uint32_t> commands;
    Reply identity;
    for (int i = 0; i < 5; ++i) {
        Reply r = client.Read(*rip);
        commands.push_back(r.command);
        if (r.command == RIP_CMD_REMOTE_IDENTITY) identity = r;
    }
    EXPECT_EQ(commands, (std::vector<uint32_t>{RIP_CMD_STATE, RIP_CMD_CONNECTION_INFO, RIP_CMD_ENCODER_FORMAT,
                                               RIP_CMD_DECODER_FORMAT, RIP_CMD_REMOTE_IDENTITY}));
    ASSERT_EQ(identity.body.size(), 110u);
    EXPECT_STREQ(reinterpret_cast<const char*>(identity.body.data()), "Far Studio");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(identity.body.data() + 85)), "V1.5b ");

    Client second(port);
    EXPECT_TRUE(second.NothingMore(*rip));  // waits while the first is served
    client.Close();
    Reply r = second.Read(*rip);
    EXPECT_EQ(r.command, RIP_CMD_STATE);
    EXPECT_EQ(Word(r, 0), 50u);
}

TEST_F(RIPTest, ClientVanishingMidSendIsSurvived) {
    {
        Client client(port);
        client.Read(*rip);
        const auto msg = Client::Message(RIP_CMD_SET_ENCODER, Words({1, 2, 3, 4}));
        client.SendRaw({msg.begin(), msg.begin() + 12});
        client.NothingMore(*rip);
    }
    for (int i = 0; i < 10; ++i) rip->Poll();
    EXPECT_FALSE(rip->HasControlApplication());
    rip->SendState(16);  // no client: nothing happens
    Client again(port);
    EXPECT_EQ(again.Read(*rip).command, RIP_CMD_STATE);
}

TEST_F(RIPTest, LogLinesHaveDateTimeAndText) {
    Client client(port);
    client.Read(*rip);
    rip.reset();
    std::ifstream log(dir / "Velmora RIP.Log", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    const std::regex line(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d\tCRIP\.Init: Using the protocol on port: \d+!\r\n)");
    EXPECT_TRUE(std::regex_search(text, line)) << text;
    EXPECT_NE(text.find("\tCRIP.ActivateListen: Connected to a control application!\r\n"), std::string::npos);
    EXPECT_NE(text.find("\tCRIP.SendMessage: Command 0x00020010 - BodySize: 0x00000004 (4 bytes)\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\tCRIP.CloseInSocket: Control application disconnected!\r\n"), std::string::npos);
}
