// Layer III decoding speed as a multiple of real time, beside mpg123 and
// ffmpeg decoding the same file in the same run, for 48 and 44.1 kHz stereo at
// 128 kbit/s and for 24 kHz stereo (MPEG-2) at 64 kbit/s. Every iteration
// decodes the file once with ours and once with each peer, one after the
// other, and the figures are the medians of those runs in processor time (ours:
// this process; a peer: its whole process, start-up included, which 60 s of
// audio makes small). Processor time rather than wall time, so that other load
// on the machine moves the ratio little.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/mp3dec/Mp3Decoder.h"

namespace {

constexpr double kSeconds = 60.0;

struct Fixture {
    explicit Fixture(int rate);
    Fixture(const Fixture&) = delete;
    Fixture& operator=(const Fixture&) = delete;
    std::string dir;
    std::string mp3;
    std::vector<uint8_t> stream;
    std::string error;
    ~Fixture() {
        std::error_code ec;
        if (!dir.empty()) std::filesystem::remove_all(dir, ec);
    }
};

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

double ChildrenSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// Processor time of one run of the command; `exec` leaves the shell out of it.
double PeerSeconds(const std::string& cmd) {
    const double before = ChildrenSeconds();
    if (std::system(("exec " + cmd + " >/dev/null 2>&1").c_str()) != 0) return -1.0;
    return ChildrenSeconds() - before;
}

double OwnSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
    if (v.empty()) return -1.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

void WriteWav(const std::string& path, int kRate) {
    const int n = static_cast<int>(kRate * kSeconds);
    std::vector<uint8_t> b;
    auto put = [&b](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    b.insert(b.end(), {'R', 'I', 'F', 'F'});
    put(36 + static_cast<uint32_t>(n) * 4, 4);
    b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(16, 4);
    put(1, 2);
    put(2, 2);
    put(kRate, 4);
    put(kRate * 4, 4);
    put(4, 2);
    put(16, 2);
    b.insert(b.end(), {'d', 'a', 't', 'a'});
    put(static_cast<uint32_t>(n) * 4, 4);
    uint32_t rng = 1;
    for (int i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / kRate;
        rng = rng * 1664525u + 1013904223u;
        const double noise = static_cast<double>(static_cast<int32_t>(rng)) / 2147483648.0;
        const double l = 0.3 * std::sin(2 * 3.14159265 * 440 * t) + 0.1 * noise;
        const double r = 0.3 * std::sin(2 * 3.14159265 * (200 + 50 * t) * t) + 0.1 * noise;
        put(static_cast<uint16_t>(static_cast<int16_t>(l * 30000)), 2);
        put(static_cast<uint16_t>(static_cast<int16_t>(r * 30000)), 2);
    }
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// The 60 s test file, made by lame, kept in a temporary folder while the peers run.
Fixture::Fixture(int rate) {
    if (!Have("lame")) {
        error = "lame not on PATH";
        return;
    }
    // The process id keeps two benchmark runs at once out of each other's files.
    dir = (std::filesystem::temp_directory_path() /
           ("vt_mp3_bench_" + std::to_string(getpid()) + "_" + std::to_string(rate))).string();
    std::filesystem::create_directories(dir);
    WriteWav(dir + "/in.wav", rate);
    mp3 = dir + "/in.mp3";
    const std::string kbits = rate >= 32000 ? "128" : "64";
    if (std::system(("lame --quiet -m s -b " + kbits + " " + dir + "/in.wav " + mp3).c_str()) != 0) {
        error = "lame failed";
        return;
    }
    std::ifstream in(mp3, std::ios::binary);
    stream.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Fixture& Get(int rate) {
    static Fixture f48(48000);
    static Fixture f44(44100);
    static Fixture f24(24000);
    return rate == 48000 ? f48 : rate == 44100 ? f44 : f24;
}

size_t DecodeStream(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out) {
    Mp3DecoderHandle h = nullptr;
    Mp3DecoderCreate(&h, 0, 0, 0);
    size_t pos = 0;
    size_t total = 0;
    bool eof = false;
    for (;;) {
        uint32_t freeBytes = 0;
        Mp3DecoderGetFreeSpace(h, &freeBytes);
        uint32_t taken = 0;
        if (pos < stream.size()) {
            Mp3DecoderFeed(h, stream.data() + pos, static_cast<uint32_t>(std::min<size_t>(freeBytes, stream.size() - pos)),
                           &taken);
            pos += taken;
        } else if (!eof) {
            h->object->SetEndOfStream();
            eof = true;
        }
        uint32_t produced = 0;
        const Mp3Status s = Mp3DecoderDecode(h, out.data(), static_cast<uint32_t>(out.size()), &produced, nullptr, nullptr);
        total += produced;
        if (s == MP3STATUS_W_EOF) break;
    }
    Mp3DecoderDestroy(h);
    return total;
}

void BM_Mp3Decode(benchmark::State& state) {
    const int kRate = static_cast<int>(state.range(0));
    Fixture& f = Get(kRate);
    if (!f.error.empty()) {
        state.SkipWithError(f.error.c_str());
        return;
    }
    const bool mpg123 = Have("mpg123");
    const bool ffmpeg = Have("ffmpeg");
    std::vector<uint8_t> out(4608);
    size_t bytes = 0;
    std::vector<double> ours;
    std::vector<double> mpg123Runs;
    std::vector<double> ffmpegRuns;
    for (auto _ : state) {
        const double t0 = OwnSeconds();
        bytes = DecodeStream(f.stream, out);
        benchmark::DoNotOptimize(bytes);
        ours.push_back(OwnSeconds() - t0);
        state.PauseTiming();
        if (mpg123) mpg123Runs.push_back(PeerSeconds("mpg123 -q -s " + f.mp3));
        if (ffmpeg) ffmpegRuns.push_back(PeerSeconds("ffmpeg -v error -nostdin -threads 1 -i " + f.mp3 + " -f s16le -y /dev/null"));
        state.ResumeTiming();
    }
    const double audio = static_cast<double>(bytes) / (kRate * 4.0);
    const double own = Median(ours);
    const double m = Median(mpg123Runs);
    const double ff = Median(ffmpegRuns);
    state.counters["x_realtime"] = audio / own;
    if (m > 0) {
        state.counters["mpg123_x_realtime"] = audio / m;
        state.counters["vs_mpg123"] = m / own;
    }
    if (ff > 0) {
        state.counters["ffmpeg_x_realtime"] = audio / ff;
        state.counters["vs_ffmpeg"] = ff / own;
    }
    std::printf("Layer III decode %5d Hz stereo %3d kbit/s: ours %6.1fx real time, mpg123 %6.1fx (ratio %.2f), "
                "ffmpeg %6.1fx (ratio %.2f); processor time, medians of %zu paired runs\n",
                kRate, kRate >= 32000 ? 128 : 64, audio / own, m > 0 ? audio / m : 0.0, m > 0 ? m / own : 0.0,
                ff > 0 ? audio / ff : 0.0, ff > 0 ? ff / own : 0.0, ours.size());
}
// A fixed count of paired runs: each one runs the peers as well.
BENCHMARK(BM_Mp3Decode)->Arg(48000)->Arg(44100)->Arg(24000)->Unit(benchmark::kMillisecond)->Iterations(9);

}  // namespace

BENCHMARK_MAIN();
