// Two real stations under Xvfb, each with a virtual sound device: a control
// application asks the first, through its remote-control port, to call the
// second over TCP, follows the reports and hangs up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>
#include <algorithm>
#include <cmath>

#include "audio/SrcDesign.h"
#include "audio/ToneAnalysis.h"

#include "StationProcess.h"
#include "XDisplay.h"

namespace fs = std::filesystem;

namespace {

const StationEnv kBoxesClose{{{"VELMORA_MESSAGEBOX_TIMEOUT_MS", "3000"}}, {}};

}  // namespace

TEST(TwoStationsTest, ControlApplicationCallsTheSecondStationAndHangsUp) {
    CXDisplay x;
    if (!x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";

    const int base = 30000 + (getpid() % 3000) * 10;
    const int ripPort = base, portA = base + 1, portB = base + 2;
    const fs::path root = fs::temp_directory_path() / ("velmora_two_" + std::to_string(getpid()));
    const fs::path a = root / "a", b = root / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    std::ofstream(a / "Velmora.Ini") << "[ARIP]\nPortNumber=" << ripPort << "\n[TCP]\nPortNumber=" << portA
                                     << "\n[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio A\n[Audio]\nInterface=1\n";
    std::ofstream(b / "Velmora.Ini") << "[TCP]\nPortNumber=" << portB
                                     << "\nAnswerAcceptCalls=1\nAnswerSameSettings=1\n"
                                        "[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio B\n[Audio]\nInterface=1\n";
    const pid_t stationA = StartStation(a, "Virtual A,tone=1000", kBoxesClose);
    const pid_t stationB = StartStation(b, "Virtual B,tone=440", kBoxesClose);

    const std::string cmd = std::string("python3 '") + source + "/tests/app/rip_two_stations.py' " +
                            std::to_string(ripPort) + " " + std::to_string(portB);
    const int status = RunControlScript(cmd, {stationA, stationB});
    StopStation(stationA);
    StopStation(stationB);
    EXPECT_FALSE(fs::exists(a / "ERRORLOG.TXT"));
    EXPECT_FALSE(fs::exists(b / "ERRORLOG.TXT"));
    fs::remove_all(root);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

namespace {

struct Layer2Case {
    const char* name;
    int bitRate, sampleRate, mode;
    int coding = 32;  // Layer II, or 64 for Layer III
};

void PrintTo(const Layer2Case& c, std::ostream* os) { *os << c.name; }

// The median level (dB against `peak`) of 5 ms pieces fitted to hz over
// [from, to) seconds of a raw file; the SNR median goes to *snrDb.
double MedianToneDb(const fs::path& raw, int channels, double hz, double peak, double from, double to, double* snrDb) {
    std::ifstream in(raw, std::ios::binary);
    std::vector<int16_t> pcm(static_cast<size_t>(fs::file_size(raw)) / 2);
    in.read(reinterpret_cast<char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * 2));
    const size_t frames = pcm.size() / static_cast<size_t>(channels);
    std::vector<double> levels, snrs;
    const size_t first = static_cast<size_t>(from * 48000), last = std::min(frames, static_cast<size_t>(to * 48000));
    for (size_t w = first; w + 240 <= last; w += 240)
        for (int ch = 0; ch < channels; ++ch) {
            const ToneFit fit = FitTone(pcm.data(), w, 240, channels, ch, hz, 48000.0);
            levels.push_back(Db(fit.amplitude / peak));
            snrs.push_back(Db(fit.amplitude / std::sqrt(2.0) / std::max(fit.residualRms, 1e-9)));
        }
    if (levels.empty()) return -200.0;
    std::sort(levels.begin(), levels.end());
    std::sort(snrs.begin(), snrs.end());
    *snrDb = snrs[snrs.size() / 2];
    return levels[levels.size() / 2];
}

// The capture and playback converters' gain at f when the call runs at
// another rate than the devices' 48 kHz.
double ConverterGain(int callRate, double f) {
    if (callRate == 48000) return 1.0;
    CSampleRateConverter down, up;
    if (!down.Init(48000, 1, callRate, 1, 96) || !up.Init(callRate, 1, 48000, 1, 96)) return 0.0;
    return SrcDesign(down, 48000).Gain(f) * SrcDesign(up, callRate).Gain(f);
}

struct TwoStationsLayer2Test : ::testing::TestWithParam<Layer2Case> {};

// Layer II between two programs, made through the remote control: each
// station's device plays the other's tone, and each knows the other's name.
TEST_P(TwoStationsLayer2Test, ToneBothWaysAndIdentitiesThroughTheRemoteControl) {
    const Layer2Case& c = GetParam();
    CXDisplay x;
    if (!x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";
    const int base = 40000 + (getpid() % 2000) * 10;
    const int ripA = base, portA = base + 1, portB = base + 2, ripB = base + 3;
    const fs::path root = fs::temp_directory_path() / ("velmora_mpeg_" + std::string(c.name) + "_" + std::to_string(getpid()));
    const fs::path a = root / "a", b = root / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    std::ofstream(a / "Velmora.Ini") << "[ARIP]\nPortNumber=" << ripA << "\n[TCP]\nPortNumber=" << portA
                                     << "\n[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio A\n[Audio]\nInterface=1\n";
    std::ofstream(b / "Velmora.Ini") << "[ARIP]\nPortNumber=" << ripB << "\n[TCP]\nPortNumber=" << portB
                                     << "\nAnswerAcceptCalls=1\nAnswerSameSettings=1\n"
                                        "[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio B\n[Audio]\nInterface=1\n";
    const pid_t stationA = StartStation(a, "Virtual A,tone=1000,sink=" + (a / "played.raw").string(), kBoxesClose);
    const pid_t stationB = StartStation(b, "Virtual B,tone=440,sink=" + (b / "played.raw").string(), kBoxesClose);
    const std::string cmd = std::string("python3 '") + source + "/tests/app/rip_two_stations.py' " +
                            std::to_string(ripA) + " " + std::to_string(portB) + " " + std::to_string(c.coding) + " " + std::to_string(c.bitRate) +
                            " " + std::to_string(c.sampleRate) + " " + std::to_string(c.mode) + " 4 " +
                            std::to_string(ripB);
    const int status = RunControlScript(cmd, {stationA, stationB});
    // The devices write what they played when they close, at the end of the call.
    for (int i = 0; i < 200 && !(fs::exists(a / "played.raw") && fs::exists(b / "played.raw")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    StopStation(stationA);
    StopStation(stationB);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const int channels = c.mode == 10 ? 1 : 2;
    for (const auto& [dir, hz, who] : {std::tuple{b, 1000.0, "answerer"}, std::tuple{a, 440.0, "caller"}}) {
        const fs::path raw = dir / "played.raw";
        ASSERT_TRUE(fs::exists(raw)) << who;
        const double seconds = static_cast<double>(fs::file_size(raw)) / (2.0 * channels * 48000);
        double snr = 0;
        const double peak = 0.5 * 32767.0 * ConverterGain(c.sampleRate, hz);
        const double level = MedianToneDb(raw, channels, hz, peak, seconds - 2.5, seconds - 0.3, &snr);
        std::printf("%s %s hears %.0f Hz: level %+.2f dB, SNR %.1f dB (%.1f s played)\n", c.name, who, hz, level, snr,
                    seconds);
        EXPECT_NEAR(level, 0.0, 0.5) << who;
        EXPECT_GT(snr, 30.0) << who;
    }
    fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(Layer2, TwoStationsLayer2Test,
                         ::testing::Values(Layer2Case{"Stereo48k256", 256000, 48000, 20},
                                           Layer2Case{"Joint48k128", 128000, 48000, 21},
                                           Layer2Case{"Mono24k64", 64000, 24000, 10}),
                         [](const ::testing::TestParamInfo<Layer2Case>& i) { return std::string(i.param.name); });

}  // namespace

// Layer III between two programs, the same way.
INSTANTIATE_TEST_SUITE_P(Layer3, TwoStationsLayer2Test,
                         ::testing::Values(Layer2Case{"Layer3Stereo48k128", 128000, 48000, 20, 64},
                                           Layer2Case{"Layer3Mono24k32", 32000, 24000, 10, 64}),
                         [](const ::testing::TestParamInfo<Layer2Case>& i) { return std::string(i.param.name); });
