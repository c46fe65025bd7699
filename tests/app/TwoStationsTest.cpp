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
#include <vector>

#include "XDisplay.h"
#include "audio/SampleRateConverter.h"
#include "audio/SrcDesign.h"
#include "audio/ToneAnalysis.h"

namespace fs = std::filesystem;

namespace {

pid_t StartStation(const fs::path& dir, const std::string& device) {
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.c_str()) != 0) _exit(97);
        setenv("VELMORA_VIRTUAL_AUDIO", device.c_str(), 1);
        setenv("VELMORA_REGISTRY_FILE", (dir / "registry").c_str(), 1);
        setenv("VELMORA_MESSAGEBOX_TIMEOUT_MS", "3000", 1);
        setenv("LSAN_OPTIONS", "suppressions=" VELMORA_SOURCE_DIR "/tools/lsan-suppressions.txt", 1);
        execl(VELMORA_PROGRAM, VELMORA_PROGRAM, static_cast<char*>(nullptr));
        _exit(96);
    }
    return child;
}

void Stop(pid_t child) {
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

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
    const pid_t stationA = StartStation(a, "Virtual A,tone=1000");
    const pid_t stationB = StartStation(b, "Virtual B,tone=440");

    const std::string cmd = std::string("python3 '") + source + "/tests/app/rip_two_stations.py' " +
                            std::to_string(ripPort) + " " + std::to_string(portB);
    const int status = std::system(cmd.c_str());
    Stop(stationA);
    Stop(stationB);
    EXPECT_FALSE(fs::exists(a / "ERRORLOG.TXT"));
    EXPECT_FALSE(fs::exists(b / "ERRORLOG.TXT"));
    fs::remove_all(root);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

namespace {

struct Layer3Case {
    const char* name;
    int coding;
    int bitRate;
    int sampleRate;
    int mode;
};

// The gain of the stations' capture and playback converters at f when the
// call runs at another rate than the 48 kHz devices.
double ConverterGain(int callRate, double f) {
    if (callRate == 48000) return 1.0;
    CSampleRateConverter down, up;
    if (!down.Init(48000, 1, callRate, 1, 96) || !up.Init(callRate, 1, 48000, 1, 96)) return 0.0;
    return SrcDesign(down, 48000).Gain(f) * SrcDesign(up, callRate).Gain(f);
}

// What a station played (its device sink, 48 kHz) carries the far tone: the
// loudest half second is fitted at the frequency its zero crossings give (the
// virtual device makes its tone from a whole number of samples per period).
void ExpectHeard(const char* who, const fs::path& sink, double hz, double sentPeak, int channels, int callRate) {
    std::vector<char> raw;
    {
        std::ifstream f(sink, std::ios::binary);
        raw.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    std::vector<int16_t> s(raw.size() / 2);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<int16_t>(static_cast<uint8_t>(raw[2 * i]) | (static_cast<uint8_t>(raw[2 * i + 1]) << 8));
    const size_t frames = s.size() / static_cast<size_t>(channels);
    const size_t window = 24000;
    ASSERT_GT(frames, 2 * window) << who << ": only " << frames << " frames played";
    size_t best = 0;
    double bestEnergy = -1;
    for (size_t w = 0; w + window <= frames; w += window / 4) {
        double e = 0;
        for (size_t i = w; i < w + window; ++i) e += double(s[i * channels]) * s[i * channels];
        if (e > bestEnergy) {
            bestEnergy = e;
            best = w;
        }
    }
    for (int ch = 0; ch < channels; ++ch) {
        double t0 = -1, t1 = -1;
        int crossings = 0;
        for (size_t i = best + 1; i < best + window; ++i) {
            const double a = s[(i - 1) * channels + ch], b = s[i * channels + ch];
            if (a < 0 && b >= 0) {
                const double t = static_cast<double>(i - 1) + a / (a - b);
                if (t0 < 0) t0 = t;
                t1 = t;
                ++crossings;
            }
        }
        const double measured = crossings > 1 ? (crossings - 1) * 48000.0 / (t1 - t0) : 0.0;
        const ToneFit fit = FitTone(s.data(), best, window, channels, ch, measured, 48000.0);
        const double expected = sentPeak * 32767.0 * ConverterGain(callRate, hz);
        const double levelDb = Db(fit.amplitude / expected);
        const double snrDb = Db(fit.amplitude / std::sqrt(2.0) / std::max(fit.residualRms, 1e-9));
        std::printf("%s hears ch %d: %.2f Hz (sent %.0f), level %+.2f dB, SNR %.1f dB\n", who, ch, measured, hz,
                    levelDb, snrDb);
        EXPECT_NEAR(measured, hz, 0.005 * hz) << who;
        EXPECT_NEAR(levelDb, 0.0, 0.5) << who;
        // The engine steers its playback rate by a fraction of a per cent to
        // hold its FIFOs; a tone fitted at one frequency keeps some of that.
        EXPECT_GT(snrDb, 20.0) << who;
    }
}

}  // namespace

class TwoStationsLayer3 : public ::testing::TestWithParam<Layer3Case> {};

TEST_P(TwoStationsLayer3, CallCarriesTheToneBothWays) {
    const Layer3Case& c = GetParam();
    CXDisplay x;
    if (!x.IsOpen()) GTEST_SKIP() << "no X display (run through test.sh for Xvfb)";
    const char* source = std::getenv("VELMORA_SOURCE_DIR");
    if (!source || std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 not available";

    const int base = 30000 + (getpid() % 3000) * 10;
    const int ripPort = base, portA = base + 1, portB = base + 2;
    const fs::path root = fs::temp_directory_path() / ("velmora_" + std::string(c.name) + "_" + std::to_string(getpid()));
    const fs::path a = root / "a", b = root / "b";
    fs::create_directories(a);
    fs::create_directories(b);
    std::ofstream(a / "Velmora.Ini") << "[ARIP]\nPortNumber=" << ripPort << "\n[TCP]\nPortNumber=" << portA
                                     << "\n[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio A\n[Audio]\nInterface=1\n";
    std::ofstream(b / "Velmora.Ini") << "[TCP]\nPortNumber=" << portB
                                     << "\nAnswerAcceptCalls=1\nAnswerSameSettings=1\n"
                                        "[Main]\nNoSplash=1\nFastCPU=1\nIDString=Studio B\n[Audio]\nInterface=1\n";
    const pid_t stationA = StartStation(a, "Virtual A,tone=1000,level=0.5,sink=" + (a / "played.raw").string());
    const pid_t stationB = StartStation(b, "Virtual B,tone=440,level=0.25,sink=" + (b / "played.raw").string());

    const std::string cmd = std::string("python3 '") + source + "/tests/app/rip_two_stations.py' " +
                            std::to_string(ripPort) + " " + std::to_string(portB) + " " + std::to_string(c.coding) + " " + std::to_string(c.bitRate) +
                            " " + std::to_string(c.sampleRate) + " " + std::to_string(c.mode) + " 3";
    const int status = std::system(cmd.c_str());
    // The sinks are written when the output devices close: after the hang-up.
    for (int i = 0; i < 200 && !(fs::exists(a / "played.raw") && fs::exists(b / "played.raw")); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Stop(stationA);
    Stop(stationB);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const int channels = c.mode == 10 ? 1 : 2;
    std::printf("%s: sinks %ju and %ju bytes\n", c.name, static_cast<uintmax_t>(fs::file_size(a / "played.raw")),
                static_cast<uintmax_t>(fs::file_size(b / "played.raw")));
    ExpectHeard("Studio B", b / "played.raw", 1000.0, 0.5, channels, c.sampleRate);
    ExpectHeard("Studio A", a / "played.raw", 440.0, 0.25, channels, c.sampleRate);
    EXPECT_FALSE(fs::exists(a / "ERRORLOG.TXT"));
    EXPECT_FALSE(fs::exists(b / "ERRORLOG.TXT"));
    if (!HasFailure()) fs::remove_all(root);
}

INSTANTIATE_TEST_SUITE_P(Layer3, TwoStationsLayer3,
                         ::testing::Values(Layer3Case{"Stereo48k128", 64, 128000, 48000, 20},
                                           Layer3Case{"Mono24k32", 64, 32000, 24000, 10}),
                         [](const ::testing::TestParamInfo<Layer3Case>& i) { return std::string(i.param.name); });
