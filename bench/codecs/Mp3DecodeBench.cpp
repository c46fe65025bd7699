// Layer III decoding speed as a multiple of real time, beside mpg123 and
// ffmpeg decoding the same file in the same run, for 48 and 44.1 kHz stereo at
// 128 kbit/s and for 24 kHz stereo (MPEG-2) at 64 kbit/s. The peers are timed as whole
// processes (best of three), so their start-up counts against them; the file
// is long enough (60 s of audio) for that to matter little.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codecs/mp3dec/Mp3Decoder.h"

namespace {

constexpr double kSeconds = 60.0;

struct Fixture {
    std::string dir;
    std::string mp3;
    std::vector<uint8_t> stream;
    double mpg123Seconds = -1.0;
    double ffmpegSeconds = -1.0;
    std::string error;
};

bool Have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

double TimeCommand(const std::string& cmd) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) return -1.0;
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
    return best;
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

Fixture Make(int rate) {
    {
        Fixture x;
        if (!Have("lame")) {
            x.error = "lame not on PATH";
            return x;
        }
        x.dir = (std::filesystem::temp_directory_path() / ("vt_mp3_bench_" + std::to_string(rate))).string();
        std::filesystem::create_directories(x.dir);
        WriteWav(x.dir + "/in.wav", rate);
        x.mp3 = x.dir + "/in.mp3";
        const std::string kbits = rate >= 32000 ? "128" : "64";
        if (std::system(("lame --quiet -m s -b " + kbits + " " + x.dir + "/in.wav " + x.mp3).c_str()) != 0) {
            x.error = "lame failed";
            return x;
        }
        std::ifstream in(x.mp3, std::ios::binary);
        x.stream.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (Have("mpg123")) x.mpg123Seconds = TimeCommand("mpg123 -q -s " + x.mp3 + " > /dev/null 2>&1");
        if (Have("ffmpeg"))
            x.ffmpegSeconds = TimeCommand("ffmpeg -v error -nostdin -threads 1 -i " + x.mp3 + " -f s16le -y /dev/null");
        std::filesystem::remove_all(x.dir);
        return x;
    }
}

Fixture& Get(int rate) {
    static Fixture f48 = Make(48000);
    static Fixture f44 = Make(44100);
    static Fixture f24 = Make(24000);
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
    std::vector<uint8_t> out(4608);
    size_t bytes = 0;
    const auto t0 = std::chrono::steady_clock::now();
    int64_t iterations = 0;
    for (auto _ : state) {
        bytes = DecodeStream(f.stream, out);
        benchmark::DoNotOptimize(bytes);
        ++iterations;
    }
    const double ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count() /
                        static_cast<double>(std::max<int64_t>(iterations, 1));
    const double audio = static_cast<double>(bytes) / (kRate * 4.0);
    state.counters["x_realtime"] = audio / ours;
    if (f.mpg123Seconds > 0) {
        state.counters["mpg123_x_realtime"] = audio / f.mpg123Seconds;
        state.counters["vs_mpg123"] = f.mpg123Seconds / ours;
    }
    if (f.ffmpegSeconds > 0) {
        state.counters["ffmpeg_x_realtime"] = audio / f.ffmpegSeconds;
        state.counters["vs_ffmpeg"] = f.ffmpegSeconds / ours;
    }
    std::printf("Layer III decode %d Hz: ours %.1fx real time; mpg123 %.1fx (ratio %.2f); ffmpeg %.1fx (ratio %.2f)\n",
                kRate, audio / ours, f.mpg123Seconds > 0 ? audio / f.mpg123Seconds : 0.0,
                f.mpg123Seconds > 0 ? f.mpg123Seconds / ours : 0.0, f.ffmpegSeconds > 0 ? audio / f.ffmpegSeconds : 0.0,
                f.ffmpegSeconds > 0 ? f.ffmpegSeconds / ours : 0.0);
}
BENCHMARK(BM_Mp3Decode)->Arg(48000)->Arg(44100)->Arg(24000)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
