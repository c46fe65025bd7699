#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <string>
#include <vector>

#include "platform/VirtualWave.h"
#include "platform/WaveApi.h"

namespace {

std::atomic<int> g_done{0};
void CountDone(HWAVE, UINT msg, DWORD_PTR instance, DWORD_PTR, DWORD_PTR) {
    if (msg == MM_WOM_DONE || msg == MM_WIM_DATA) reinterpret_cast<std::atomic<int>*>(instance)->fetch_add(1);
}

UINT FindOut(const char* name) {
    for (UINT i = 0; i < waveOutGetNumDevs(); ++i) {
        WAVEOUTCAPSA caps;
        if (waveOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR && std::string(caps.szPname) == name)
            return i;
    }
    return WAVE_MAPPER - 1;
}

UINT FindIn(const char* name) {
    for (UINT i = 0; i < waveInGetNumDevs(); ++i) {
        WAVEINCAPSA caps;
        if (waveInGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR && std::string(caps.szPname) == name)
            return i;
    }
    return WAVE_MAPPER - 1;
}

struct VirtualWaveTest : ::testing::Test {
    void SetUp() override {
        VirtualWaveConfig c;
        c.name = "Test Loop";
        c.simulatedClock = true;
        c.periodMs = 5;
        c.toneHz = 1000;
        c.toneLevel = 0.5;
        c.sinkSeconds = 2;
        ASSERT_EQ(VirtualWaveAdd(c), 1);
        m_out = FindOut("Test Loop");
        m_in = FindIn("Test Loop");
    }
    void TearDown() override { EXPECT_EQ(VirtualWaveClear(), 1); }
    UINT m_out = 0, m_in = 0;
};

TEST_F(VirtualWaveTest, VirtualDevicesAreListedFirstWithTheirName) {
    const UINT before = std::getenv("VELMORA_VIRTUAL_AUDIO") ? 1 : 0;  // a configured device comes first
    EXPECT_EQ(m_out, before);
    EXPECT_EQ(m_in, before);
    VirtualWaveConfig same;
    same.name = "Test Loop";
    EXPECT_EQ(VirtualWaveAdd(same), 0);  // name taken
}

TEST_F(VirtualWaveTest, ResultCodesForBadIdsFormatsHandlesAndHeaders) {
    WAVEFORMATEX f = MakePcmFormat(48000, 2);
    HWAVEOUT h = nullptr;
    EXPECT_EQ(waveOutOpen(&h, 5000, &f, 0, 0, CALLBACK_FUNCTION), MMSYSERR_BADDEVICEID);
    WAVEOUTCAPSA caps;
    EXPECT_EQ(waveOutGetDevCapsA(5000, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
    for (auto bad : {MakePcmFormat(0, 2), MakePcmFormat(999, 2), MakePcmFormat(48000, 0), MakePcmFormat(48000, 3)})
        EXPECT_EQ(waveOutOpen(&h, m_out, &bad, 0, 0, CALLBACK_FUNCTION), WAVERR_BADFORMAT);
    WAVEFORMATEX eight = f;
    eight.wBitsPerSample = 8;
    EXPECT_EQ(waveOutOpen(&h, m_out, &eight, 0, 0, CALLBACK_FUNCTION), WAVERR_BADFORMAT);
    EXPECT_EQ(waveOutOpen(nullptr, m_out, &f, 0, 0, WAVE_FORMAT_QUERY | WAVE_MAPPED), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutPause(nullptr), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(waveOutClose(nullptr), MMSYSERR_INVALHANDLE);

    ASSERT_EQ(waveOutOpen(&h, m_out, &f, reinterpret_cast<DWORD_PTR>(&CountDone),
                          reinterpret_cast<DWORD_PTR>(&g_done), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    HWAVEOUT second = nullptr;
    EXPECT_EQ(waveOutOpen(&second, m_out, &f, 0, 0, CALLBACK_FUNCTION), MMSYSERR_ALLOCATED);
    std::vector<char> data(960);
    WAVEHDR hdr;
    hdr.lpData = data.data();
    hdr.dwBufferLength = 960;
    EXPECT_EQ(waveOutWrite(h, &hdr, sizeof hdr), WAVERR_UNPREPARED);
    EXPECT_EQ(waveInAddBuffer(h, &hdr, sizeof hdr), MMSYSERR_INVALHANDLE);  // an output handle
    ASSERT_EQ(waveOutPrepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPause(h), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(h, &hdr, sizeof hdr), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutUnprepareHeader(h, &hdr, sizeof hdr), WAVERR_STILLPLAYING);
    EXPECT_EQ(waveOutClose(h), WAVERR_STILLPLAYING);
    ASSERT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    EXPECT_TRUE(WaveHeaderLoadFlags(&hdr) & WHDR_DONE);
    EXPECT_EQ(waveOutUnprepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_F(VirtualWaveTest, PlaybackConsumesBlocksAtTheDeviceRateAndRecordsThem) {
    WAVEFORMATEX f = MakePcmFormat(48000, 1);
    std::atomic<int> done{0};
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, m_out, &f, reinterpret_cast<DWORD_PTR>(&CountDone), reinterpret_cast<DWORD_PTR>(&done),
                          CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    std::vector<int16_t> a(480, 1000), b(480, -1000);  // 10 ms each
    WAVEHDR ha{}, hb{};
    ha.lpData = reinterpret_cast<char*>(a.data());
    hb.lpData = reinterpret_cast<char*>(b.data());
    ha.dwBufferLength = hb.dwBufferLength = 960;
    ASSERT_EQ(waveOutPrepareHeader(h, &ha, sizeof ha), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutPrepareHeader(h, &hb, sizeof hb), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &ha, sizeof ha), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(h, &hb, sizeof hb), MMSYSERR_NOERROR);
    VirtualWaveAdvanceMs(10);
    EXPECT_EQ(done.load(), 1);
    VirtualWaveAdvanceMs(15);
    EXPECT_EQ(done.load(), 2);
    VirtualWaveStats st;
    ASSERT_EQ(VirtualWaveGetStats("Test Loop", 1, &st), 1);
    EXPECT_EQ(st.framesPlayed, 1200u);
    EXPECT_EQ(st.underrunFrames, 240u);
    int16_t sink[1200];
    ASSERT_EQ(VirtualWaveReadSink("Test Loop", 0, sink, 1200), 1200u);
    EXPECT_EQ(sink[0], 1000);
    EXPECT_EQ(sink[479], 1000);
    EXPECT_EQ(sink[480], -1000);
    EXPECT_EQ(sink[960], 0);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_F(VirtualWaveTest, CaptureDeliversATimedToneOnlyAfterStart) {
    WAVEFORMATEX f = MakePcmFormat(48000, 2);
    std::atomic<int> done{0};
    HWAVEIN h = nullptr;
    ASSERT_EQ(waveInOpen(&h, m_in, &f, reinterpret_cast<DWORD_PTR>(&CountDone), reinterpret_cast<DWORD_PTR>(&done),
                         CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    std::vector<int16_t> buf(2 * 480);
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<char*>(buf.data());
    hdr.dwBufferLength = static_cast<DWORD>(buf.size() * 2);
    ASSERT_EQ(waveInPrepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    VirtualWaveAdvanceMs(20);
    EXPECT_EQ(done.load(), 0);  // not started
    ASSERT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    VirtualWaveAdvanceMs(10);
    ASSERT_EQ(done.load(), 1);
    EXPECT_EQ(WaveHeaderLoadRecorded(&hdr), 1920u);
    int peak = 0;
    for (int16_t s : buf) peak = std::max(peak, std::abs(int(s)));
    EXPECT_NEAR(peak, 16384, 20);
    EXPECT_EQ(buf[0], buf[1]);  // both channels carry the tone
    VirtualWaveAdvanceMs(10);
    VirtualWaveStats st;
    ASSERT_EQ(VirtualWaveGetStats("Test Loop", 0, &st), 1);
    EXPECT_EQ(st.framesCaptured, 960u);
    EXPECT_EQ(st.overrunFrames, 480u);  // no buffer queued for the second 10 ms
    EXPECT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInUnprepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST_F(VirtualWaveTest, RateErrorChangesTheFramesPerSimulatedSecond) {
    VirtualWaveConfig c;
    c.name = "Fast Loop";
    c.simulatedClock = true;
    c.rateErrorPercent = 0.5;
    c.sinkSeconds = 0;
    ASSERT_EQ(VirtualWaveAdd(c), 1);
    WAVEFORMATEX f = MakePcmFormat(48000, 1);
    HWAVEOUT h = nullptr;
    ASSERT_EQ(waveOutOpen(&h, FindOut("Fast Loop"), &f, 0, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    VirtualWaveAdvanceMs(10000);
    VirtualWaveStats st;
    ASSERT_EQ(VirtualWaveGetStats("Fast Loop", 1, &st), 1);
    EXPECT_NEAR(double(st.framesPlayed), 482400.0, 240.0);  // whole periods only
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST(VirtualWaveRealClockTest, PlaysAndRecordsOnTheWallClock) {
    VirtualWaveConfig c;
    c.name = "Wall Clock";
    c.periodMs = 2;
    c.sinkSeconds = 1;
    ASSERT_EQ(VirtualWaveAdd(c), 1);
    const WAVEFORMATEX f = MakePcmFormat(48000, 1);
    std::atomic<int> played{0}, recorded{0};
    HWAVEOUT out = nullptr;
    HWAVEIN in = nullptr;
    ASSERT_EQ(waveOutOpen(&out, FindOut("Wall Clock"), &f, reinterpret_cast<DWORD_PTR>(&CountDone),
                          reinterpret_cast<DWORD_PTR>(&played), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    ASSERT_EQ(waveInOpen(&in, FindIn("Wall Clock"), &f, reinterpret_cast<DWORD_PTR>(&CountDone),
                         reinterpret_cast<DWORD_PTR>(&recorded), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    std::vector<int16_t> a(480, 7), b(480);
    WAVEHDR ha{}, hb{};
    ha.lpData = reinterpret_cast<char*>(a.data());
    hb.lpData = reinterpret_cast<char*>(b.data());
    ha.dwBufferLength = hb.dwBufferLength = 960;
    ASSERT_EQ(waveOutPrepareHeader(out, &ha, sizeof ha), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInPrepareHeader(in, &hb, sizeof hb), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &ha, sizeof ha), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInAddBuffer(in, &hb, sizeof hb), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInStart(in), MMSYSERR_NOERROR);
    // The wall clock runs on its own: wait, bounded, for 10 ms of audio each way.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while ((played.load() == 0 || recorded.load() == 0) && std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
    EXPECT_EQ(played.load(), 1);
    EXPECT_EQ(recorded.load(), 1);
    EXPECT_EQ(WaveHeaderLoadRecorded(&hb), 960u);
    EXPECT_EQ(waveInReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutReset(out), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInUnprepareHeader(in, &hb, sizeof hb), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutUnprepareHeader(out, &ha, sizeof ha), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(out), MMSYSERR_NOERROR);
    int16_t first = 0;
    EXPECT_EQ(VirtualWaveReadSink("Wall Clock", 0, &first, 1), 1u);
    EXPECT_EQ(VirtualWaveClear(), 1);
}

TEST(VirtualWaveParseTest, ReadsNameAndSettingsAndRefusesUnknownOnes) {
    VirtualWaveConfig c;
    ASSERT_EQ(VirtualWaveParse("Studio,rate_error=-0.5,tone=440,level=0.25,clock=sim,sink=/tmp/x.raw", &c), 1);
    EXPECT_EQ(c.name, "Studio");
    EXPECT_DOUBLE_EQ(c.rateErrorPercent, -0.5);
    EXPECT_DOUBLE_EQ(c.toneHz, 440);
    EXPECT_TRUE(c.simulatedClock);
    EXPECT_EQ(c.sinkFile, "/tmp/x.raw");
    EXPECT_EQ(VirtualWaveParse("Studio,volume=3", &c), 0);
    EXPECT_EQ(VirtualWaveParse("Studio,tone=abc", &c), 0);
    EXPECT_EQ(VirtualWaveParse("Studio,rate_error=nan", &c), 0);
    EXPECT_EQ(VirtualWaveParse("Studio,period=1e300", &c), 0);
    EXPECT_EQ(VirtualWaveParse("", &c), 0);
}

class AlsaWaveTest : public ::testing::TestWithParam<const char*> {};

// Opens the named ALSA PCM, plays one block and closes; skipped with the
// reason where this machine's ALSA has no such device.
TEST_P(AlsaWaveTest, OpensPlaysAndCloses) {
    const char* name = GetParam();
    WAVEFORMATEX f = MakePcmFormat(48000, 2);
    const UINT id = FindOut(name);
    if (id == WAVE_MAPPER - 1) GTEST_SKIP() << "ALSA lists no '" << name << "' here";
    HWAVEOUT h = nullptr;
    std::atomic<int> done{0};
    const MMRESULT r = waveOutOpen(&h, id, &f, reinterpret_cast<DWORD_PTR>(&CountDone),
                                   reinterpret_cast<DWORD_PTR>(&done), CALLBACK_FUNCTION);
    if (r != MMSYSERR_NOERROR) {
        EXPECT_NE(r, MMSYSERR_ERROR) << "ALSA errors map to specific results";
        GTEST_SKIP() << "ALSA '" << name << "' does not open here (result " << r << ")";
    }
    std::vector<int16_t> pcm(2 * 480);
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<char*>(pcm.data());
    hdr.dwBufferLength = static_cast<DWORD>(pcm.size() * 2);
    EXPECT_EQ(waveOutPrepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutWrite(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    // A real device has its own clock: wait (bounded) for the block to play.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (done.load() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    EXPECT_EQ(done.load(), 1);
    EXPECT_EQ(waveOutReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutUnprepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(h), MMSYSERR_NOERROR);
}

TEST_P(AlsaWaveTest, RecordsOneBlock) {
    const char* name = GetParam();
    WAVEFORMATEX f = MakePcmFormat(48000, 2);
    const UINT id = FindIn(name);
    if (id == WAVE_MAPPER - 1) GTEST_SKIP() << "ALSA lists no capture '" << name << "' here";
    HWAVEIN h = nullptr;
    std::atomic<int> done{0};
    const MMRESULT r = waveInOpen(&h, id, &f, reinterpret_cast<DWORD_PTR>(&CountDone),
                                  reinterpret_cast<DWORD_PTR>(&done), CALLBACK_FUNCTION);
    if (r != MMSYSERR_NOERROR) {
        EXPECT_NE(r, MMSYSERR_ERROR) << "ALSA errors map to specific results";
        GTEST_SKIP() << "ALSA capture '" << name << "' does not open here (result " << r << ")";
    }
    std::vector<int16_t> pcm(2 * 480);
    WAVEHDR hdr{};
    hdr.lpData = reinterpret_cast<char*>(pcm.data());
    hdr.dwBufferLength = static_cast<DWORD>(pcm.size() * 2);
    EXPECT_EQ(waveInPrepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInAddBuffer(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInStart(h), MMSYSERR_NOERROR);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (done.load() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    EXPECT_EQ(done.load(), 1);
    EXPECT_EQ(WaveHeaderLoadRecorded(&hdr), 1920u);
    EXPECT_EQ(waveInReset(h), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInUnprepareHeader(h, &hdr, sizeof hdr), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

INSTANTIATE_TEST_SUITE_P(Pcms, AlsaWaveTest, ::testing::Values("default", "null"));

}  // namespace

namespace {

// Runs only in the child started below, where the variable is set before
// anything lists the devices.
TEST(VirtualWaveEnvTest, NamedDeviceIsListedFirst) {
    const char* env = std::getenv("VELMORA_VIRTUAL_AUDIO");
    if (env == nullptr) GTEST_SKIP() << "runs in a child process with VELMORA_VIRTUAL_AUDIO set";
    WAVEOUTCAPSA out;
    WAVEINCAPSA in;
    ASSERT_EQ(waveOutGetDevCapsA(0, &out, sizeof out), MMSYSERR_NOERROR);
    ASSERT_EQ(waveInGetDevCapsA(0, &in, sizeof in), MMSYSERR_NOERROR);
    VirtualWaveConfig c;
    ASSERT_EQ(VirtualWaveParse(env, &c), 1);
    EXPECT_EQ(std::string(out.szPname), c.name.substr(0, 31));
    EXPECT_EQ(std::string(in.szPname), c.name.substr(0, 31));
    const WAVEFORMATEX f = MakePcmFormat(48000, 2);
    HWAVEIN h = nullptr;
    ASSERT_EQ(waveInOpen(&h, 0, &f, 0, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
    EXPECT_EQ(waveInClose(h), MMSYSERR_NOERROR);
}

TEST(VirtualWaveEnvTest, EnvironmentVariableChoosesAVirtualDevice) {
    if (std::getenv("VELMORA_VIRTUAL_AUDIO")) GTEST_SKIP() << "this is the child";
    const std::string cmd =
        "VELMORA_VIRTUAL_AUDIO='Env Studio,rate_error=0.5,clock=sim' /proc/" + std::to_string(getpid()) +
        "/exe --gtest_filter=VirtualWaveEnvTest.NamedDeviceIsListedFirst > /dev/null 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
}

}  // namespace
