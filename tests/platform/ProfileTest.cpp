#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Profile.h"
#include "support/FileText.h"
#include "support/TempDir.h"

namespace {

struct ProfileTest : ::testing::Test {
    CTempDir m_dir;
    std::string m_file = m_dir.File("test.ini");

    std::string Get(const char* section, const char* key, const char* def = "?", DWORD size = 256) {
        std::vector<char> out(size == 0 ? 1 : size, 'Z');
        const DWORD n = GetPrivateProfileStringA(section, key, def, out.data(), size, m_file.c_str());
        if (size == 0) return {};
        EXPECT_EQ(n, std::string(out.data()).size());
        return std::string(out.data(), n);
    }
    int GetInt(const char* section, const char* key, int def) {
        return static_cast<int>(GetPrivateProfileIntA(section, key, def, m_file.c_str()));
    }
    bool Put(const char* section, const char* key, const char* value) {
        return WritePrivateProfileStringA(section, key, value, m_file.c_str()) == TRUE;
    }
};

std::string ShellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

bool HavePython() { return std::system("python3 -c 'import configparser' >/dev/null 2>&1") == 0; }

int RunPeer(const std::string& mode, const std::string& file, const std::vector<std::string>& triples) {
    std::string cmd = "python3 " + ShellQuote(std::string(VELMORA_TEST_DATA) + "/ini_peer.py") + " " + mode +
                      " " + ShellQuote(file);
    for (const std::string& t : triples) cmd += " " + ShellQuote(t);
    return std::system(cmd.c_str());
}

}  // namespace

TEST_F(ProfileTest, ReadsFollowTheWindowsRules) {
    Spit(m_file,
         "; comment = not a key\n"
         "orphan=before any section\n"
         "[ Main ]\n"
         "  Language =  Deutsch  \t\n"
         "Quoted=\"  padded  \"\n"
         "Single='x'\n"
         "Twice=\"\"inner\"\"\n"
         "Half=\"open\n"
         "Empty=\n"
         "Equals=a=b\n"
         "Language=second copy\n"
         "[Other]\r\n"
         "Language=other\r\n");
    EXPECT_EQ(Get("MAIN", "language"), "Deutsch");
    EXPECT_EQ(Get("main", "QUOTED"), "  padded  ");
    EXPECT_EQ(Get("Main", "Single"), "x");
    EXPECT_EQ(Get("Main", "Twice"), "\"inner\"") << "one pair only";
    EXPECT_EQ(Get("Main", "Half"), "\"open");
    EXPECT_EQ(Get("Main", "Empty"), "");
    EXPECT_EQ(Get("Main", "Equals"), "a=b");
    EXPECT_EQ(Get("Other", "Language"), "other");
    EXPECT_EQ(Get("Main", "Missing", "  fallback "), "fallback");
    EXPECT_EQ(Get("Main", "Missing", nullptr), "");
    EXPECT_EQ(Get("Nowhere", "orphan"), "?");
    EXPECT_EQ(Get("Main", "; comment"), "?");
    EXPECT_EQ(Get("Main", "Language", "", 4), "Deu") << "cut to size - 1";
    EXPECT_EQ(Get("Main", "Language", "", 1), "");

    EXPECT_EQ(GetInt("Main", "Empty", 7), 7);
    EXPECT_EQ(GetInt("Main", "Missing", -5), -5);
    EXPECT_EQ(GetInt("Main", "Language", 7), 0);
    EXPECT_EQ(GetInt("Nowhere", "x", 3), 3);
    EXPECT_EQ(GetPrivateProfileIntA("Main", "x", 9, m_dir.File("absent.ini").c_str()), 9u);
}

TEST_F(ProfileTest, IntegersTakeSignAndLeadingDigits) {
    Spit(m_file, "[N]\na=-1\nb=+42\nc=12abc\nd=4294967295\ne= - 3\nf=0x10\n");
    EXPECT_EQ(GetInt("N", "a", 0), -1);
    EXPECT_EQ(GetInt("N", "b", 0), 42);
    EXPECT_EQ(GetInt("N", "c", 0), 12);
    EXPECT_EQ(GetInt("N", "d", 0), -1) << "wraps like a 32-bit value";
    EXPECT_EQ(GetInt("N", "e", 5), 0);
    EXPECT_EQ(GetInt("N", "f", 5), 0);
}

TEST_F(ProfileTest, WritesCreateFileAndSectionAndKeepEveryOtherLine) {
    EXPECT_TRUE(Put("Main", "Page", "2"));
    EXPECT_EQ(Slurp(m_file), "[Main]\nPage=2\n");
    EXPECT_TRUE(Put("Audio", "EnableSRC", "0"));
    EXPECT_TRUE(Put("main", "XPos", "10"));
    EXPECT_TRUE(Put("MAIN", "PAGE", "3"));
    EXPECT_EQ(Slurp(m_file), "[Main]\nPage=3\nXPos=10\n\n[Audio]\nEnableSRC=0\n");

    const std::string windows =
        "\xEF\xBB\xBF; written on a Windows station\r\n"
        "[Main]\r\n"
        "Page = 1 ; stays as written\r\n"
        "odd line without equals\r\n"
        "\r\n"
        "[Audio]\r\n"
        "Interface=2";  // no line end on the last line
    Spit(m_file, windows);
    EXPECT_TRUE(Put("Main", "XPos", "5"));
    EXPECT_TRUE(Put("Audio", "UseASIO", "1"));
    EXPECT_EQ(Slurp(m_file),
              "\xEF\xBB\xBF; written on a Windows station\r\n"
              "[Main]\r\n"
              "Page = 1 ; stays as written\r\n"
              "odd line without equals\r\n"
              "XPos=5\r\n"
              "\r\n"
              "[Audio]\r\n"
              "Interface=2\r\n"
              "UseASIO=1\r\n");
    EXPECT_EQ(Get("Main", "Page"), "1 ; stays as written");
}

TEST_F(ProfileTest, NullValueRemovesAKeyAndNullKeyASection) {
    Spit(m_file, "[A]\nx=1\ny=2\n[B]\nz=3\n[C]\nw=4\n");
    EXPECT_TRUE(Put("A", "X", nullptr));
    EXPECT_TRUE(Put("b", nullptr, nullptr));
    EXPECT_TRUE(Put("A", "gone", nullptr));
    EXPECT_TRUE(Put("Nowhere", nullptr, nullptr));
    EXPECT_EQ(Slurp(m_file), "[A]\ny=2\n[C]\nw=4\n");
}

TEST_F(ProfileTest, BadNamesAndLineBreaksAreRefusedWithoutHarm) {
    Spit(m_file, "[A]\nx=1\n");
    EXPECT_FALSE(Put("A", "x", "two\nlines"));
    EXPECT_FALSE(Put("A", "x=y", "1"));
    EXPECT_FALSE(Put("A]", "x", "1"));
    EXPECT_FALSE(Put("A", "  ", "1"));
    EXPECT_FALSE(Put(nullptr, "x", "1"));
    EXPECT_FALSE(WritePrivateProfileStringA("A", "x", "1", m_dir.File("no/such/folder.ini").c_str()));
    EXPECT_EQ(Slurp(m_file), "[A]\nx=1\n");
    EXPECT_EQ(GetPrivateProfileStringA("A", "x", "", nullptr, 10, m_file.c_str()), 0u);
}

TEST_F(ProfileTest, ListsSectionsAndKeysDoubleTerminated) {
    Spit(m_file, "[One]\na=1\nbb=2\n[Two]\n");
    char out[32];
    DWORD n = GetPrivateProfileStringA(nullptr, nullptr, "", out, sizeof out, m_file.c_str());
    EXPECT_EQ(std::string(out, n + 1), std::string("One\0Two\0\0", 9));
    n = GetPrivateProfileStringA("one", nullptr, "", out, sizeof out, m_file.c_str());
    EXPECT_EQ(std::string(out, n + 1), std::string("a\0bb\0\0", 6));
    n = GetPrivateProfileStringA("one", nullptr, "", out, 5, m_file.c_str());
    EXPECT_EQ(n, 3u) << "the last name cut, the list still closed";
    EXPECT_EQ(std::string(out, 5), std::string("a\0b\0\0", 5));
}

TEST_F(ProfileTest, ConfigparserReadsWhatWeWrite) {
    if (!HavePython()) GTEST_SKIP() << "python3 with configparser not on PATH";
    ASSERT_TRUE(Put("Main", "IDString", "Studio 4 = London"));
    ASSERT_TRUE(Put("Main", "PhoneFile", "My Phonebook.Pb"));
    ASSERT_TRUE(Put("TCP", "PortNumber", "5003"));
    ASSERT_TRUE(Put("Library", "AudioLocation", ".\\"));
    ASSERT_TRUE(Put("Main", "Language",
                    "Fran\xC3\xA7"
                    "ais 100%"));
    ASSERT_TRUE(Put("TCP", "PortNumber", "5004"));
    EXPECT_EQ(RunPeer("check", m_file,
                      {"Main", "IDString", "Studio 4 = London", "Main", "PhoneFile", "My Phonebook.Pb", "TCP",
                       "PortNumber", "5004", "Library", "AudioLocation", ".\\", "Main", "Language",
                       "Fran\xC3\xA7"
                       "ais 100%"}),
              0);
}

TEST_F(ProfileTest, WeReadWhatConfigparserWrites) {
    if (!HavePython()) GTEST_SKIP() << "python3 with configparser not on PATH";
    ASSERT_EQ(RunPeer("write", m_file,
                      {"Main", "PhoneFile", "Other Book.Pb", "Main", "FastCPU", "-1", "Socks", "Address",
                       "proxy.example.org", "ISDN", "MSN-1", "0301234567"}),
              0);
    EXPECT_EQ(Get("main", "phonefile"), "Other Book.Pb");
    EXPECT_EQ(GetInt("Main", "FastCPU", 0), -1);
    EXPECT_EQ(Get("Socks", "Address"), "proxy.example.org");
    EXPECT_EQ(Get("ISDN", "MSN-1"), "0301234567");
    // And our write into the peer's file stays readable to the peer.
    ASSERT_TRUE(Put("Main", "Page", "2"));
    EXPECT_EQ(RunPeer("check", m_file, {"Main", "Page", "2", "Main", "PhoneFile", "Other Book.Pb"}), 0);
}

// Two processes (two stations started from one folder, or a tool beside the
// program) write different keys of one file at the same time.
TEST_F(ProfileTest, TwoProcessesWritingDifferentKeysLoseNothing) {
    constexpr int kWrites = 150;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    const char* who = child == 0 ? "Child" : "Parent";
    bool ok = true;
    for (int i = 0; i < kWrites; ++i) {
        const std::string key = std::string(who) + std::to_string(i);
        ok = Put(i % 2 ? "Odd" : "Even", key.c_str(), std::to_string(i).c_str()) && ok;
    }
    if (child == 0) std::_Exit(ok ? 0 : 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(ok);
    for (const char* name : {"Child", "Parent"}) {
        for (int i = 0; i < kWrites; ++i) {
            const std::string key = name + std::to_string(i);
            ASSERT_EQ(GetInt(i % 2 ? "Odd" : "Even", key.c_str(), -1), i) << key;
        }
    }
}
