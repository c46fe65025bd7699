#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "common/Codes.h"
#include "common/Settings.h"
#include "support/FileText.h"
#include "support/TempDir.h"

namespace {

struct SettingsTest : ::testing::Test {
    CTempDir m_dir;
    std::string m_file = m_dir.File("Velmora.Ini");
    CSettings m_settings{m_file};
};

}  // namespace

TEST_F(SettingsTest, EveryGetterGivesItsDefaultWithoutAFile) {
    struct IntKey {
        const char* name;
        std::function<int(const CSettings&)> get;
        int expected;
    };
    const IntKey ints[] = {
        {"ARIPPortNumber", [](const CSettings& s) { return s.GetARIPPortNumber(); }, 0},
        {"SocksEnable", [](const CSettings& s) { return s.GetSocksEnable(); }, 0},
        {"SocksVersion", [](const CSettings& s) { return s.GetSocksVersion(); }, 4},
        {"SocksPortNumber", [](const CSettings& s) { return s.GetSocksPortNumber(); }, 1080},
        {"SocksNeedLogin", [](const CSettings& s) { return s.GetSocksNeedLogin(); }, 0},
        {"TCPBufferSize", [](const CSettings& s) { return s.GetTCPBufferSize(); }, 10240},
        {"TCPPortNumber", [](const CSettings& s) { return s.GetTCPPortNumber(); }, 5003},
        {"TCPLastBuffering", [](const CSettings& s) { return s.GetTCPLastBuffering(); }, 0},
        {"TCPLastCodingType", [](const CSettings& s) { return s.GetTCPLastCodingType(); }, 64},
        {"TCPLastCodingRate", [](const CSettings& s) { return s.GetTCPLastCodingRate(); }, 128000},
        {"TCPLastSamplerate", [](const CSettings& s) { return s.GetTCPLastSamplerate(); }, 48000},
        {"TCPLastDeviceMode", [](const CSettings& s) { return s.GetTCPLastDeviceMode(); }, 20},
        {"TCPAnswerAcceptCalls", [](const CSettings& s) { return s.GetTCPAnswerAcceptCalls(); }, 1},
        {"TCPAnswerSameSettings", [](const CSettings& s) { return s.GetTCPAnswerSameSettings(); }, 1},
        {"TCPAnswerCodingType", [](const CSettings& s) { return s.GetTCPAnswerCodingType(); }, 64},
        {"TCPAnswerCodingRate", [](const CSettings& s) { return s.GetTCPAnswerCodingRate(); }, 128000},
        {"TCPAnswerSamplerate", [](const CSettings& s) { return s.GetTCPAnswerSamplerate(); }, 48000},
        {"TCPAnswerDeviceMode", [](const CSettings& s) { return s.GetTCPAnswerDeviceMode(); }, 20},
        {"UDPBufferSize", [](const CSettings& s) { return s.GetUDPBufferSize(); }, 10240},
        {"UDPLastBuffering", [](const CSettings& s) { return s.GetUDPLastBuffering(); }, 0},
        {"UDPLastCodingType", [](const CSettings& s) { return s.GetUDPLastCodingType(); }, 64},
        {"UDPLastCodingRate", [](const CSettings& s) { return s.GetUDPLastCodingRate(); }, 128000},
        {"UDPLastSamplerate", [](const CSettings& s) { return s.GetUDPLastSamplerate(); }, 48000},
        {"UDPLastDeviceMode", [](const CSettings& s) { return s.GetUDPLastDeviceMode(); }, 20},
        {"ISDNDialDelay", [](const CSettings& s) { return s.GetISDNDialDelay(); }, 1},
        {"ISDNController", [](const CSettings& s) { return s.GetISDNController(); }, 0},
        {"ISDNSynchroStart", [](const CSettings& s) { return s.GetISDNSynchroStart(); }, 4},
        {"ISDNEnableTwoChannelG722", [](const CSettings& s) { return s.GetISDNEnableTwoChannelG722(); }, 0},
        {"ISDNSupported", [](const CSettings& s) { return s.GetISDNSupported(); }, 1},
        {"ISDNG711Type", [](const CSettings& s) { return s.GetISDNG711Type(); }, 2},
        {"ISDNLastCodingType", [](const CSettings& s) { return s.GetISDNLastCodingType(); }, 32},
        {"ISDNLastCodingRate", [](const CSettings& s) { return s.GetISDNLastCodingRate(); }, 64000},
        {"ISDNLastSamplerate", [](const CSettings& s) { return s.GetISDNLastSamplerate(); }, 48000},
        {"ISDNLastDeviceMode", [](const CSettings& s) { return s.GetISDNLastDeviceMode(); }, 10},
        {"ISDNAnswerAcceptCalls", [](const CSettings& s) { return s.GetISDNAnswerAcceptCalls(); }, 1},
        {"ISDNAnswerAcceptVoice", [](const CSettings& s) { return s.GetISDNAnswerAcceptVoice(); }, 1},
        {"ISDNAnswerCodingType", [](const CSettings& s) { return s.GetISDNAnswerCodingType(); }, -1},
        {"ISDNAnswerSamplerate", [](const CSettings& s) { return s.GetISDNAnswerSamplerate(); }, -1},
        {"ISDNAnswerDeviceMode", [](const CSettings& s) { return s.GetISDNAnswerDeviceMode(); }, -1},
        {"AudioEnableSRC", [](const CSettings& s) { return s.GetAudioEnableSRC(); }, 1},
        {"AudioInterface", [](const CSettings& s) { return s.GetAudioInterface(); }, 0},
        {"AudioMp2Processing", [](const CSettings& s) { return s.GetAudioMp2Processing(); }, 1},
        {"AudioMp3Processing", [](const CSettings& s) { return s.GetAudioMp3Processing(); }, 0},
        {"ASIOBlockTime", [](const CSettings& s) { return s.GetASIOBlockTime(); }, 4},
        {"ASIOCard", [](const CSettings& s) { return s.GetASIOCard(); }, 0},
        {"ASIOOutput", [](const CSettings& s) { return s.GetASIOOutput(); }, 0},
        {"ASIOInput", [](const CSettings& s) { return s.GetASIOInput(); }, 0},
        {"CoreAudioBlockTime", [](const CSettings& s) { return s.GetCoreAudioBlockTime(); }, 3},
        {"CoreAudioInput", [](const CSettings& s) { return s.GetCoreAudioInput(); }, -1},
        {"CoreAudioOutput", [](const CSettings& s) { return s.GetCoreAudioOutput(); }, -1},
        {"PlayBlockTime", [](const CSettings& s) { return s.GetPlayBlockTime(); }, 10},
        {"PlayCard", [](const CSettings& s) { return s.GetPlayCard(); }, 0},
        {"PlayLevel", [](const CSettings& s) { return s.GetPlayLevel(); }, 0},
        {"RecNumBlocks", [](const CSettings& s) { return s.GetRecNumBlocks(); }, 10},
        {"RecBlockTime", [](const CSettings& s) { return s.GetRecBlockTime(); }, 10},
        {"RecCard", [](const CSettings& s) { return s.GetRecCard(); }, 0},
        {"RecInput", [](const CSettings& s) { return s.GetRecInput(); }, 0},
        {"RecLevel", [](const CSettings& s) { return s.GetRecLevel(); }, 0},
        {"RecMonoMix", [](const CSettings& s) { return s.GetRecMonoMix(); }, 0},
        {"LibrarySelection", [](const CSettings& s) { return s.GetLibrarySelection(); }, 0},
        {"LibraryLevel", [](const CSettings& s) { return s.GetLibraryLevel(); }, 0},
        {"LibraryMicOn", [](const CSettings& s) { return s.GetLibraryMicOn(); }, 0},
        {"MiniISDNEnabled", [](const CSettings& s) { return s.GetMiniISDNEnabled(); }, 0},
        {"VistaDisableWAVE", [](const CSettings& s) { return s.GetVistaDisableWAVE(); }, 1},
        {"MainNoSplash", [](const CSettings& s) { return s.GetMainNoSplash(); }, 0},
        {"MainStartDelay", [](const CSettings& s) { return s.GetMainStartDelay(); }, 0},
        {"MainAutoDial", [](const CSettings& s) { return s.GetMainAutoDial(); }, 0},
        {"MainAutoDialType", [](const CSettings& s) { return s.GetMainAutoDialType(); }, 0},
        {"MainFastCPU", [](const CSettings& s) { return s.GetMainFastCPU(); }, -1},
        {"MainLibrary", [](const CSettings& s) { return s.GetMainLibrary(); }, 0},
        {"MainPage", [](const CSettings& s) { return s.GetMainPage(); }, 0},
        {"MainXPos", [](const CSettings& s) { return s.GetMainXPos(); }, 100},
        {"MainYPos", [](const CSettings& s) { return s.GetMainYPos(); }, 100},
        {"MainOnTop", [](const CSettings& s) { return s.GetMainOnTop(); }, 0},
        {"OptionsTrace", [](const CSettings& s) { return s.GetOptionsTrace(); }, 0},
        {"OptionsDebug", [](const CSettings& s) { return s.GetOptionsDebug(); }, 0},
    };
    for (const IntKey& k : ints) EXPECT_EQ(k.get(m_settings), k.expected) << k.name;
    EXPECT_EQ(std::size(ints), 76u);

    struct StringKey {
        const char* name;
        std::function<std::string(const CSettings&)> get;
        const char* expected;
    };
    const StringKey strings[] = {
        {"SocksAddress", [](const CSettings& s) { return s.GetSocksAddress(); }, ""},
        {"SocksUsername", [](const CSettings& s) { return s.GetSocksUsername(); }, ""},
        {"SocksPassword", [](const CSettings& s) { return s.GetSocksPassword(); }, ""},
        {"TCPSelection", [](const CSettings& s) { return s.GetTCPSelection(); }, ""},
        {"UDPSelection", [](const CSettings& s) { return s.GetUDPSelection(); }, ""},
        {"ISDNSelection", [](const CSettings& s) { return s.GetISDNSelection(); }, ""},
        {"LibraryAudioLocation", [](const CSettings& s) { return s.GetLibraryAudioLocation(); }, ".\\"},
        {"LibraryLocation", [](const CSettings& s) { return s.GetLibraryLocation(); }, "Library"},
        {"MiniISDNG711Number", [](const CSettings& s) { return s.GetMiniISDNG711Number(); }, ""},
        {"MiniISDNG722Number", [](const CSettings& s) { return s.GetMiniISDNG722Number(); }, ""},
        {"MainAutoDialName", [](const CSettings& s) { return s.GetMainAutoDialName(); }, ""},
        {"MainLanguage", [](const CSettings& s) { return s.GetMainLanguage(); }, ""},
        {"MainIDString", [](const CSettings& s) { return s.GetMainIDString(); }, ""},
        {"MainPhoneFile", [](const CSettings& s) { return s.GetMainPhoneFile(); }, "My Phonebook.Pb"},
        {"MainWinClass", [](const CSettings& s) { return s.GetMainWinClass(); }, "VelmoraClass"},
        {"ISDNMSN-1", [](const CSettings& s) { return s.GetISDNMSN(1); }, ""},
        {"MiniISDNMp2Number-3", [](const CSettings& s) { return s.GetMiniISDNMp2Number(3); }, ""},
    };
    for (const StringKey& k : strings) EXPECT_EQ(k.get(m_settings), k.expected) << k.name;
    std::string out = "stale";
    EXPECT_EQ(&m_settings.GetMainWinClass(out), &out);
    EXPECT_EQ(out, "VelmoraClass");
    EXPECT_FALSE(std::filesystem::exists(m_file)) << "reading must not create the file";
}

TEST_F(SettingsTest, LegacyUseAsioKeyCountsOnlyWhileInterfaceIsZero) {
    Spit(m_file, "[Audio]\nInterface=0\nUseASIO=1\n");
    EXPECT_EQ(m_settings.GetAudioInterface(), INTERFACE_ASIO);
    m_settings.SetAudioInterface(1);
    EXPECT_EQ(m_settings.GetAudioInterface(), INTERFACE_WAVE);
    m_settings.SetAudioInterface(3);
    EXPECT_EQ(m_settings.GetAudioInterface(), INTERFACE_COREAUDIO);
    m_settings.SetAudioInterface(0);
    EXPECT_EQ(m_settings.GetAudioInterface(), INTERFACE_ASIO);
    EXPECT_NE(Slurp(m_file).find("UseASIO=1"), std::string::npos) << "the old key is never rewritten";

    Spit(m_file, "[Audio]\nUseASIO=0\n");
    EXPECT_EQ(m_settings.GetAudioInterface(), INTERFACE_NONE);
}

TEST_F(SettingsTest, PortSettersKeepSixteenBits) {
    m_settings.SetTCPPortNumber(70000);
    EXPECT_EQ(m_settings.GetTCPPortNumber(), 4464);
    EXPECT_NE(Slurp(m_file).find("PortNumber=4464"), std::string::npos);
    m_settings.SetSocksPortNumber(-1);
    EXPECT_EQ(m_settings.GetSocksPortNumber(), 65535);
    m_settings.SetSocksPortNumber(1080);
    EXPECT_EQ(m_settings.GetSocksPortNumber(), 1080);
}

TEST_F(SettingsTest, IntegersAreSignedDecimalAndJunkReadsAsZero) {
    m_settings.SetMainFastCPU(-1);
    EXPECT_EQ(m_settings.GetMainFastCPU(), -1);
    m_settings.SetMainXPos(-2147483647 - 1);
    EXPECT_EQ(m_settings.GetMainXPos(), -2147483647 - 1);
    Spit(m_file, "[Main]\nXPos=  250px \nYPos=abc\nPage=\n");
    EXPECT_EQ(m_settings.GetMainXPos(), 250);
    EXPECT_EQ(m_settings.GetMainYPos(), 0);
    EXPECT_EQ(m_settings.GetMainPage(), 0) << "an empty value gives the default";
    EXPECT_EQ(m_settings.GetMainOnTop(), 0);
}

TEST_F(SettingsTest, PasswordRoundTripsEveryPrintableCharacterAndIsNeverStoredInClear) {
    // Each printable character alone, at the start, in the middle and at the
    // end: the places where trimming or quote removal would bite.
    for (int c = 0x20; c < 0x7F; ++c) {
        const std::string ch(1, static_cast<char>(c));
        for (const std::string& pw : {ch, ch + "ab" + ch, "a" + ch + "b", ch + ch + ch}) {
            m_settings.SetSocksPassword(pw.c_str());
            ASSERT_EQ(m_settings.GetSocksPassword(), pw) << "character " << c;
        }
    }
    std::string all;
    for (int c = 0x20; c < 0x7F; ++c) all += static_cast<char>(c);
    m_settings.SetSocksPassword(all.c_str());
    EXPECT_EQ(m_settings.GetSocksPassword(), all);
    EXPECT_EQ(Slurp(m_file).find("0123456789"), std::string::npos);
    EXPECT_EQ(Slurp(m_file).find("abcdef"), std::string::npos);

    const std::string longest(123, 'k');
    m_settings.SetSocksPassword(longest.c_str());
    EXPECT_EQ(m_settings.GetSocksPassword(), longest);
    m_settings.SetSocksPassword("");
    EXPECT_EQ(m_settings.GetSocksPassword(), "");
}

TEST_F(SettingsTest, PasswordsFromOtherStationsAndByHandStayReadable) {
    // Another station writes the scrambled bytes bare, without quotes.
    char scrambled[16];
    CSettings::ScramblePassword(scrambled, "secret", 6);
    Spit(m_file, std::string("[Socks]\r\nPassword=") + scrambled + "\r\n");
    EXPECT_EQ(m_settings.GetSocksPassword(), "secret");

    // A clear password typed into the file reads as its scrambled form.
    Spit(m_file, "[Socks]\nPassword=secret\n");
    char back[16];
    CSettings::ScramblePassword(back, "secret", 6);
    EXPECT_EQ(m_settings.GetSocksPassword(), back);
    EXPECT_NE(CSettings::kScrambleByte, 0);
    EXPECT_LT(static_cast<unsigned char>(CSettings::kScrambleByte), 0x20u);
}

TEST_F(SettingsTest, IndexedKeysAndTheirLengthLimits) {
    Spit(m_file, "[ISDN]\nMSN-1=1234567890123456789012345\n[MiniISDN]\nMp2Number-2=555\n");
    EXPECT_EQ(m_settings.GetISDNMSN(1), "1234567890123456789");
    EXPECT_EQ(m_settings.GetISDNMSN(2), "");
    EXPECT_EQ(m_settings.GetMiniISDNMp2Number(2), "555");
    m_settings.SetISDNMSN(2, "4711");
    m_settings.SetMiniISDNMp2Number(1, "0815");
    const std::string file = Slurp(m_file);
    EXPECT_NE(file.find("MSN-2=4711"), std::string::npos);
    EXPECT_NE(file.find("Mp2Number-1=0815"), std::string::npos);

    const std::string longText(200, 'x');
    m_settings.SetMainIDString(longText.c_str());
    EXPECT_EQ(m_settings.GetMainIDString(), std::string(120, 'x'));
}

TEST_F(SettingsTest, NothingIsCachedBetweenObjectsOrFromTheFile) {
    const CSettings other(m_file);
    m_settings.SetMainLanguage("Deutsch");
    EXPECT_EQ(other.GetMainLanguage(), "Deutsch");
    Spit(m_file,
         "[main]\nlanguage = \"Fran\xC3\xA7"
         "ais\" \n");
    EXPECT_EQ(other.GetMainLanguage(),
              "Fran\xC3\xA7"
              "ais");
    m_settings.SetUDPAnswerCodingType(8);  // written only: nothing reads it back
    EXPECT_NE(Slurp(m_file).find("Answer-CodingType=8"), std::string::npos);
}

TEST_F(SettingsTest, DefaultPathIsTheCurrentDirectoryFixedAtConstruction) {
    const char* saved = std::getenv("VELMORA_SETTINGS_FILE");
    const std::string savedValue = saved ? saved : "";
    ::unsetenv("VELMORA_SETTINGS_FILE");
    const auto before = std::filesystem::current_path();

    std::filesystem::current_path(m_dir.Path());
    const CSettings here;
    std::filesystem::current_path("/");
    const CSettings root;
    std::filesystem::current_path(before);
    EXPECT_EQ(here.GetPath(), (m_dir.Path() / "Velmora.Ini").string());
    EXPECT_EQ(root.GetPath(), "/Velmora.Ini") << "no second separator after a root";

    ::setenv("VELMORA_SETTINGS_FILE", m_file.c_str(), 1);
    EXPECT_EQ(CSettings().GetPath(), m_file);
    if (saved) {
        ::setenv("VELMORA_SETTINGS_FILE", savedValue.c_str(), 1);
    } else {
        ::unsetenv("VELMORA_SETTINGS_FILE");
    }
}

TEST_F(SettingsTest, ARefusedWriteIsSilentAndKeepsTheFile) {
    const CSettings nowhere(m_dir.File("missing-folder/Velmora.Ini"));
    nowhere.SetMainPage(3);
    EXPECT_EQ(nowhere.GetMainPage(), 0);

    m_settings.SetMainPage(2);
    std::filesystem::permissions(m_file, std::filesystem::perms::owner_read);
    m_settings.SetMainPage(3);
    EXPECT_EQ(m_settings.GetMainPage(), 2);
}

// Two threads (GUI and engine worker in the program) write different keys for
// two seconds; after every write each reads its own key back. A lost update
// shows as an older value.
TEST_F(SettingsTest, TwoThreadsWritingDifferentKeysLoseNothing) {
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    int last[2] = {0, 0};
    auto writer = [&](int id) {
        const CSettings settings(m_file);
        int n = 0;
        while (!stop.load(std::memory_order_relaxed)) {
            ++n;
            if (id == 0) {
                settings.SetTCPLastCodingRate(n);
                if (settings.GetTCPLastCodingRate() != n) failures.fetch_add(1);
            } else {
                settings.SetUDPLastCodingRate(n);
                if (settings.GetUDPLastCodingRate() != n) failures.fetch_add(1);
            }
        }
        last[id] = n;
    };
    std::thread a(writer, 0), b(writer, 1);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop.store(true);
    a.join();
    b.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_GT(last[0], 0);
    EXPECT_GT(last[1], 0);
    EXPECT_EQ(m_settings.GetTCPLastCodingRate(), last[0]);
    EXPECT_EQ(m_settings.GetUDPLastCodingRate(), last[1]);
}
