#include "common/Phonebook.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/ByteOrder.h"
#include "common/PhonebookFile.h"

namespace {
namespace fs = std::filesystem;

PhonebookEntry MakeEntry(const char* name, int kind) {
    PhonebookEntry e;
    std::memcpy(e.name, name, strnlen(name, sizeof e.name - 1));
    e.connection.kind = kind;
    return e;
}

std::vector<uint8_t> ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Header(uint32_t version = kPhonebookVersion) {
    std::vector<uint8_t> h = {'Q', 'i', 'v', 0, 0, 0, 0, 0};
    PutLe32(h.data() + 4, version);
    return h;
}

void AppendRecord(std::vector<uint8_t>& file, const char* name, int32_t index, int32_t length = 488) {
    PhonebookEntry e = MakeEntry(name, TRANSPORT_TCP);
    e.index = index;
    e.length = length;
    std::vector<uint8_t> rec(std::max<int32_t>(length, 484), 0xEE);
    uint8_t full[kPhonebookEntryBytes];
    StorePhonebookEntry(e, full);
    std::memcpy(rec.data(), full, std::min<size_t>(rec.size(), sizeof full));
    file.insert(file.end(), rec.begin(), rec.end());
}

struct FakeList : IPhonebookListView {
    std::vector<std::pair<std::string, int>> items;  // top first
    const char* mark = nullptr;
    void DeleteAllItems() override { items.clear(); }
    void InsertItemAtTop(const char* name, int image) override { items.insert(items.begin(), {name, image}); }
    const char* GetSelectionMarkText() override { return mark; }
};

struct PhonebookTest : ::testing::Test {
    fs::path dir = fs::temp_directory_path() / ("pbtest-" + std::to_string(getpid()) + "-" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::path file = dir / "My Phonebook.Pb";
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }

    std::vector<std::string> LoadedNames() {
        CPhonebook book;
        book.Init(file.c_str());
        EXPECT_EQ(book.Load(true), 1);
        std::vector<std::string> names;
        book.GetList().Rewind();
        while (PhonebookEntry* e = book.GetList().Next()) names.push_back(e->name);
        book.SetFileName("");  // no save on destruction
        return names;
    }
};
}  // namespace

TEST_F(PhonebookTest, WrittenFileMatchesTheLayoutByteForByte) {
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";
    const fs::path expected = dir / "expected.Pb";
    const std::string cmd = std::string("python3 '") + source + "/tests/common/phonebook_layout.py' '" +
                            expected.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);

    CPhonebook book;
    book.Init(file.c_str());
    PhonebookEntry a = MakeEntry("Studio A", TRANSPORT_TCP);
    std::strcpy(a.connection.address, "studio-a.example");
    a.connection.port = 5003;
    a.connection.flag = 1;
    a.connection.connectionType = CONNTYPE_3;
    a.connection.bufferingMode = BUFMODE_FIXED;
    a.connection.bufferMs = 1500;
    a.format = {};
    a.format.codingType = CODING_PCM;
    a.format.bitRate = 768000;
    a.format.sampleRate = 48000;
    a.format.deviceMode = DEVICEMODE_MONO;
    a.format.aptxOption = 0;
    PhonebookEntry b = MakeEntry("Studio B", TRANSPORT_ISDN);
    std::strcpy(b.connection.isdn.number1, "0301234567");
    std::strcpy(b.connection.isdn.number2, "0307654321");
    b.connection.connectionType = CONNTYPE_2;
    b.format = {};
    b.format.codingType = CODING_G722;
    b.format.bitRate = 128000;
    b.format.sampleRate = 16000;
    b.format.deviceMode = DEVICEMODE_STEREO;
    b.format.direction = DIRECTION_SEND_ONLY;
    b.autoReconnect = 1;
    b.reconnectKind = TRANSPORT_ISDN;
    std::strcpy(b.reconnectName, "Studio B");
    PhonebookEntry m = MakeEntry("Multicast", TRANSPORT_MULTICAST);
    std::strcpy(m.connection.address, "239.1.2.3");
    m.connection.port = 5005;
    m.connection.flag = 1;
    m.connection.hops = 16;
    m.format = {};
    m.format.codingType = CODING_MPEG_L2;
    m.format.bitRate = 256000;
    m.format.sampleRate = 48000;
    m.format.deviceMode = DEVICEMODE_STEREO;
    m.format.frameBytes = 768;
    book.AddEntry(a);
    book.AddEntry(b);
    book.AddEntry(m);
    ASSERT_EQ(book.Save(), 1);
    EXPECT_EQ(ReadAll(file), ReadAll(expected));

    // Every kind survives the round trip field for field.
    CPhonebook again;
    again.Init(file.c_str());
    ASSERT_EQ(again.Load(true), 1);
    const PhonebookEntry* isdn = again.FindEntry("Studio B", TRANSPORT_ISDN);
    ASSERT_NE(isdn, nullptr);
    EXPECT_STREQ(isdn->connection.isdn.number2, "0307654321");
    EXPECT_EQ(isdn->format.direction, DIRECTION_SEND_ONLY);
    EXPECT_STREQ(again.FindEntry("Studio A", TRANSPORT_TCP)->connection.address, "studio-a.example");
    EXPECT_EQ(again.FindEntry("Multicast", TRANSPORT_MULTICAST)->connection.hops, 16);
    again.SetFileName("");
}

TEST_F(PhonebookTest, HeaderRulesAndRecordLengths) {
    WriteAll(file, Header());
    EXPECT_TRUE(LoadedNames().empty());
    EXPECT_EQ(CPhonebook::IsPhonebookFile(file.c_str()), 0);  // header only

    for (uint32_t version : {0x00000000u, 0x00000001u, 0xABCD0001u}) {
        auto bytes = Header(version);
        AppendRecord(bytes, "One", 0);
        WriteAll(file, bytes);
        EXPECT_EQ(CPhonebook::IsPhonebookFile(file.c_str()), 1) << std::hex << version;
    }
    auto bad = Header(0x00010002);
    AppendRecord(bad, "One", 0);
    WriteAll(file, bad);
    EXPECT_EQ(CPhonebook::IsPhonebookFile(file.c_str()), 0);
    CPhonebook book;
    book.Init(file.c_str());
    book.AddEntry(MakeEntry("Kept", TRANSPORT_TCP));
    EXPECT_EQ(book.Load(true), 0);
    EXPECT_EQ(book.GetCount(), 1);  // a refused file leaves the list alone
    book.SetFileName("");

    // A 484-byte record, then a 600-byte one, then a normal one.
    auto mixed = Header();
    AppendRecord(mixed, "Short", 0, 484);
    AppendRecord(mixed, "Long", 1, 600);
    AppendRecord(mixed, "Plain", 2);
    WriteAll(file, mixed);
    EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"Plain", "Long", "Short"}));
    CPhonebookFile reader;
    ASSERT_EQ(reader.Open(file.c_str(), FILEMODE_READ), 1);
    PhonebookEntry e;
    ASSERT_EQ(reader.ReadEntry(&e), 1);
    EXPECT_EQ(e.reconnectName[44], 0);  // the last four bytes of a short record are zero

    auto huge = Header();
    AppendRecord(huge, "One", 0);
    AppendRecord(huge, "TooLong", 1, 1025);
    WriteAll(file, huge);
    EXPECT_EQ(LoadedNames(), std::vector<std::string>{"One"});
}

TEST_F(PhonebookTest, DamagedRecordKeepsWhatCameBeforeAndTheTail) {
    auto bytes = Header();
    AppendRecord(bytes, "First", 0);
    AppendRecord(bytes, "Stray", 5);  // wrong index
    AppendRecord(bytes, "Lost", 2);
    WriteAll(file, bytes);
    {
        CPhonebook book;
        book.Init(file.c_str());
        ASSERT_EQ(book.Load(true), 1);
        EXPECT_EQ(book.GetCount(), 1);
        book.AddEntry(MakeEntry("Added", TRANSPORT_TCP));
    }  // saves on destruction
    const auto saved = ReadAll(file);
    ASSERT_EQ(saved.size(), bytes.size() + 488);
    // The unreadable records are still there, behind the saved ones, unchanged.
    EXPECT_TRUE(std::equal(bytes.begin() + 8 + 488, bytes.end(), saved.begin() + 8 + 2 * 488));
}

TEST_F(PhonebookTest, UnreadableFileIsNotOverwrittenUnlessEdited) {
    const std::vector<uint8_t> junk = {'n', 'o', 't', ' ', 'a', ' ', 'b', 'o', 'o', 'k'};
    WriteAll(file, junk);
    {
        CPhonebook book;
        book.Init(file.c_str());
        EXPECT_EQ(book.Load(true), 0);
    }
    EXPECT_EQ(ReadAll(file), junk);
    {
        CPhonebook book;
        book.Init(file.c_str());
        EXPECT_EQ(book.Load(true), 0);
        book.AddEntry(MakeEntry("Mine", TRANSPORT_TCP));
    }
    EXPECT_EQ(LoadedNames(), std::vector<std::string>{"Mine"});
}

TEST_F(PhonebookTest, SaveReversesOrderAndRenumbers) {
    auto bytes = Header();
    AppendRecord(bytes, "A", 0);
    AppendRecord(bytes, "B", 1);
    AppendRecord(bytes, "C", 2);
    WriteAll(file, bytes);
    EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"C", "B", "A"}));
    {
        CPhonebook book;
        book.Init(file.c_str());
        book.Load(true);
    }
    EXPECT_EQ(LoadedNames(), (std::vector<std::string>{"A", "B", "C"}));
    const auto saved = ReadAll(file);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(GetLe32s(saved.data() + 8 + 488 * i), i);
}

TEST_F(PhonebookTest, UnterminatedTextsAreCutInTheirFields) {
    auto bytes = Header();
    AppendRecord(bytes, "x", 0);
    std::memset(bytes.data() + 8 + 4, 'N', 30);     // name without its zero
    std::memset(bytes.data() + 8 + 68, 'A', 80);    // address without its zero
    std::memset(bytes.data() + 8 + 440, 'R', 48);   // reconnect name without its zero
    WriteAll(file, bytes);
    CPhonebook book;
    book.Init(file.c_str());
    ASSERT_EQ(book.Load(true), 1);
    book.GetList().Rewind();
    const PhonebookEntry* e = book.GetList().Next();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::strlen(e->name), 29u);
    EXPECT_EQ(std::strlen(e->connection.address), 79u);
    EXPECT_EQ(std::strlen(e->reconnectName), 47u);
    book.SetFileName("");
}

TEST_F(PhonebookTest, CopyNamesAreUniqueAfterTheCut) {
    CPhonebook book;
    book.AddEntry(MakeEntry("Studio", TRANSPORT_TCP));
    book.AddEntry(MakeEntry("Copy of Studio", TRANSPORT_TCP));
    book.AddEntry(MakeEntry("Copy (2) of Studio", TRANSPORT_TCP));
    FakeList list;
    list.mark = "Studio";
    EXPECT_EQ(book.CopySelectedEntry(&list, TRANSPORT_TCP), 1);
    EXPECT_NE(book.FindEntry("Copy (3) of Studio", TRANSPORT_TCP), nullptr);

    const char* longName = "ABCDEFGHIJKLMNOPQRSTUVWXYZabc";  // 29 characters
    book.AddEntry(MakeEntry(longName, TRANSPORT_TCP));
    list.mark = longName;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(book.CopySelectedEntry(&list, TRANSPORT_TCP), 1);
    EXPECT_NE(book.FindEntry("Copy of ABCDEFGHIJKLMNOPQRSTU", TRANSPORT_TCP), nullptr);
    EXPECT_NE(book.FindEntry("Copy (2) of ABCDEFGHIJKLMNOPQ", TRANSPORT_TCP), nullptr);
    EXPECT_NE(book.FindEntry("Copy (3) of ABCDEFGHIJKLMNOPQ", TRANSPORT_TCP), nullptr);

    list.mark = nullptr;
    EXPECT_EQ(book.CopySelectedEntry(&list, TRANSPORT_TCP), 0);
}

TEST_F(PhonebookTest, NamesAreCheckedPerKindAndListsFollowDirections) {
    CPhonebook book;
    PhonebookEntry isdn = MakeEntry("Studio", TRANSPORT_ISDN);
    book.AddEntry(isdn);
    PhonebookEntry ip = MakeEntry("Studio", TRANSPORT_TCP);
    EXPECT_EQ(book.IsNameUsed(ip), 0);
    EXPECT_EQ(book.IsNameUsed(isdn), 1);  // a dialog's copy is never the record itself
    EXPECT_EQ(book.IsNameUsed(*book.FindEntry("Studio", TRANSPORT_ISDN)), 0);
    EXPECT_EQ(book.IsNameUsed(MakeEntry("", TRANSPORT_ISDN)), 0);

    PhonebookEntry send = MakeEntry("Send", TRANSPORT_TCP);
    send.format.direction = DIRECTION_SEND_ONLY;
    PhonebookEntry odd = MakeEntry("Odd", TRANSPORT_TCP);
    odd.format.direction = 7;
    book.AddEntry(ip);
    book.AddEntry(send);
    book.AddEntry(odd);
    book.AddEntry(MakeEntry("", TRANSPORT_TCP));  // refused quietly
    FakeList list;
    EXPECT_EQ(book.FillListCtrl(&list, TRANSPORT_TCP), 1);
    ASSERT_EQ(list.items.size(), 3u);
    // Each goes in at the top, so the list shows the oldest first.
    EXPECT_EQ(list.items[0], (std::pair<std::string, int>{"Studio", 0}));
    EXPECT_EQ(list.items[1], (std::pair<std::string, int>{"Send", 1}));
    EXPECT_EQ(list.items[2], (std::pair<std::string, int>{"Odd", -1}));

    list.mark = "Send";
    EXPECT_EQ(book.DeleteSelectedEntry(&list, TRANSPORT_ISDN), 1);  // wrong kind: nothing removed
    EXPECT_EQ(book.GetCount(), 4);
    EXPECT_EQ(book.DeleteSelectedEntry(&list, TRANSPORT_TCP), 1);
    EXPECT_EQ(book.GetCount(), 3);
}

TEST_F(PhonebookTest, ManyEntriesRoundTrip) {
    {
        CPhonebook book;
        book.Init(file.c_str());
        for (int i = 0; i < 10000; ++i) book.AddEntry(MakeEntry(("Dest " + std::to_string(i)).c_str(), TRANSPORT_TCP));
    }
    CPhonebook book;
    book.Init(file.c_str());
    ASSERT_EQ(book.Load(true), 1);
    EXPECT_EQ(book.GetCount(), 10000);
    book.SetFileName("");
}

TEST_F(PhonebookTest, KilledDuringSaveLeavesOldOrNewFile) {
    // The old file holds one entry; the child keeps saving 2000 entries until killed.
    {
        CPhonebook book;
        book.Init(file.c_str());
        book.AddEntry(MakeEntry("Old", TRANSPORT_TCP));
    }
    const auto oldBytes = ReadAll(file);
    for (int round = 0; round < 20; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CPhonebook book;
            book.Init(file.c_str());
            for (int i = 0; i < 2000; ++i) book.AddEntry(MakeEntry(("N" + std::to_string(i)).c_str(), TRANSPORT_TCP));
            for (;;) book.Save();
        }
        usleep(1000 * (1 + round % 7));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const auto now = ReadAll(file);
        ASSERT_TRUE(now == oldBytes || now.size() == 8 + 2000 * 488u) << "size " << now.size();
    }
}
