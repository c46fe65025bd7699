// Two real stations under Xvfb, each in a network namespace of this test:
// a control application in a third namespace asks A, through its
// remote-control port, to send its tone to a multicast group (Layer II,
// 192 kbit/s, 48 kHz stereo) and B to receive it. B reports A's identity and format, and plays
// A's tone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "StationProcess.h"
#include "XDisplay.h"
#include "audio/ToneAnalysis.h"
#include "support/NetNamespace.h"

namespace fs = std::filesystem;

namespace {

pid_t StartStationIn(const CTestNetwork& net, char station, const fs::path& dir, const std::string& device) {
    StationEnv env;
    env.extra = {{"VELMORA_MESSAGEBOX_TIMEOUT_MS", "3000"}};
    // Never left: the child has one thread, and the program it becomes stays in the namespace.
    env.enter = [&net, station] { return (new CNamespaceScope(net, station))->IsIn(); };
    return StartStation(dir, device, env);
}

std::vector<int16_t> ReadRaw(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<int16_t> pcm;
    int16_t s;
    while (in.read(reinterpret_cast<char*>(&s), sizeof s)) pcm.push_back(s);
    return pcm;
}

}  // namespace

TEST(MulticastStationsTest, ReceiverReportsTheSendersIdentityAndFormatAndPlaysItsTone) {
    CXDisplay x;
    if (!x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";
    CTestNetwork net("abx");
    if (!net.IsUp()) GTEST_SKIP() << net.Why();

    const int ripPort = 4700;  // each station has a network of its own
    const fs::path root = fs::temp_directory_path() / ("velmora_multicast_" + std::to_string(getpid()));
    const fs::path a = root / "a", b = root / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    for (const auto& [dir, name] : {std::pair{a, "Studio A"}, std::pair{b, "Studio B"}})
        std::ofstream(dir / "Velmora.Ini") << "[ARIP]\nPortNumber=" << ripPort << "\n[Main]\nNoSplash=1\nFastCPU=1\nIDString="
                                           << name << "\n[Audio]\nInterface=1\n";
    const fs::path played = b / "played.raw";
    const pid_t stationA = StartStationIn(net, 'a', a, "Virtual A,tone=1000,level=0.25");
    const pid_t stationB = StartStationIn(net, 'b', b, "Virtual B,tone=440,sink=" + played.string());

    const std::string cmd = "ip netns exec " + net.Name('x') + " python3 '" + source + "/tests/app/rip_multicast.py' " +
                            net.AddressText('a') + " " + net.AddressText('b') + " " + std::to_string(ripPort) +
                            " 239.255.30.1 5004 32 192000 48000 20";
    const int status = std::system(cmd.c_str());
    StopStation(stationA);
    StopStation(stationB);
    EXPECT_FALSE(fs::exists(a / "ERRORLOG.TXT"));
    EXPECT_FALSE(fs::exists(b / "ERRORLOG.TXT"));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    // What B played (48 kHz stereo, written when the call's device closed)
    // is A's tone, not B's own, at A's level: judged window by window (20 ms),
    // since real devices on a busy machine may slip now and then, and B, which
    // joined before A began, also catches up on what queued meanwhile.
    const std::vector<int16_t> pcm = ReadRaw(played);
    fs::remove_all(root);
    const size_t frames = pcm.size() / 2;
    const double level = 0.25 * 32767.0;
    std::vector<double> toneDb;
    size_t firstTone = frames;
    for (size_t w = 0; w + 960 <= frames; w += 960) {
        const ToneFit a = FitTone(pcm.data(), w, 960, 2, 0, 1000.0, 48000.0);
        if (a.amplitude < 0.5 * level) continue;  // muted start, or a slip
        toneDb.push_back(20.0 * std::log10(a.amplitude / level));
        firstTone = std::min(firstTone, w);
    }
    ASSERT_GE(toneDb.size(), 20u) << "B played " << frames << " frames, little of it A's tone";
    std::sort(toneDb.begin(), toneDb.end());
    const double median = toneDb[toneDb.size() / 2];
    // B's own tone, were it looped through, would show over the whole stretch.
    const double own = FitTone(pcm.data(), firstTone, frames - firstTone, 2, 0, 440.0, 48000.0).amplitude / level;
    std::printf("B plays A's 1000 Hz tone in %zu windows of 20 ms, median level %+.2f dB; its own 440 Hz at %.4f\n",
                toneDb.size(), median, own);
    EXPECT_NEAR(median, 0.0, 0.5);
    EXPECT_LT(own, 0.01);
}
