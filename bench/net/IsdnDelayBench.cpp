// Delay of each ISDN coding through the simulated exchange: station A's
// transport is handed a tone's coded blocks at the pace the encoder makes
// them, station B's transport is read as soon as it has a block, and each
// block read is found among those written. The delay from the write, and
// from when the encoder had the block, is printed beside the sum of the
// buffers on the line (the sender's margin of two blocks, the block on the
// line, the block the far end gathers before it hands one on), and the
// mouth-to-ear figure adds the audio engine's own buffers on both ends
// (capture FIFO, one frame gathered before encoding and one before
// decoding, playback FIFO of a very-low-delay call).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "net/fakes/ExchangeDaemon.h"
#include "net/ConnectionManager.h"
#include "net/IsdnTones.h"
#include "platform/Clock.h"
#include "support/DelayBench.h"
#include "support/TempDir.h"

namespace {

using namespace isdn_tones;

constexpr const char* kExchange = "controller 1 2 3411\ncontroller 2 2 3412 3413\n";
constexpr int kBlocks = 200;
constexpr uint32_t kBoundMs = 60000;
constexpr int kPrefill = 2;

struct DelayCase {
    const char* name;
    int coding, rate, mode, bitRate, block;
};

const DelayCase kCases[] = {
    {"G.711 A-law", CODING_G711_ALAW, 8000, DEVICEMODE_MONO, 64000, 192},
    {"G.722", CODING_G722, 16000, DEVICEMODE_MONO, 64000, 192},
    {"Layer II 48k mono 64k", CODING_MPEG_L2, 48000, DEVICEMODE_MONO, 64000, 192},
    {"Layer II 48k stereo 128k", CODING_MPEG_L2, 48000, DEVICEMODE_STEREO, 128000, 384},
    {"Layer III 48k mono 64k", CODING_MPEG_L3, 48000, DEVICEMODE_MONO, 64000, 192},
    {"Layer III 48k stereo 128k", CODING_MPEG_L3, 48000, DEVICEMODE_STEREO, 128000, 384},
    {"Layer III 24k mono 128k", CODING_MPEG_L3, 24000, DEVICEMODE_MONO, 128000, 768},
    {"apt-X 64k", CODING_APTX, 16000, DEVICEMODE_MONO, 64000, 192},
    {"enhanced apt-X 64k", CODING_APTX_ENH, 15754, DEVICEMODE_MONO, 64000, 192},
    {"apt-X mono 128k", CODING_APTX, 31508, DEVICEMODE_MONO, 128000, 192},
    {"enhanced apt-X stereo 128k", CODING_APTX_ENH, 15754, DEVICEMODE_STEREO, 128000, 384},
};

// One row of the table printed once every case has run.
struct DelayRow {
    const char* name;
    double lineMs, readyMs, lineBuffersMs, engineMs, frameMs;
    size_t matched;
    std::string starved;
};
std::vector<DelayRow>& Rows() {
    static std::vector<DelayRow> rows;
    return rows;
}

void PrintTable() {
    std::printf("\n%-28s %7s %10s %10s %10s %10s %10s %10s %8s  %s\n", "ISDN coding", "frame", "measured", "from",
                "line", "engine", "buffer", "mouth-to-", "blocks", "exchange");
    std::printf("%-28s %7s %10s %10s %10s %10s %10s %10s %8s  %s\n", "", "ms", "line ms", "ready ms", "buffers ms",
                "buffers ms", "sum ms", "ear ms", "matched", "stretches starved");
    for (const DelayRow& r : Rows())
        std::printf("%-28s %7.1f %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f %8zu  %s\n", r.name, r.frameMs, r.lineMs,
                    r.readyMs, r.lineBuffersMs, r.engineMs, r.lineBuffersMs + r.engineMs, r.readyMs + r.engineMs,
                    r.matched, r.starved.c_str());
    std::printf("measured line: median write-to-read of the call's second half; from ready: the same from when\n"
                "the encoder had the block (a transport that refuses a block keeps it waiting before its write,\n"
                "one that takes it keeps it in its own buffers: only this counts both alike); line buffers: the\n"
                "sender's two blocks of margin, the block on the line and the one the far end gathers; engine\n"
                "buffers: both ends' capture and playback FIFOs and one frame gathered each side; mouth-to-ear:\n"
                "from ready plus engine buffers; exchange: the stretches it clocked idle fill for a held-up\n"
                "sender (underrun) and dropped blocks for a held-up receiver (overrun): each one the sender\n"
                "was held up for stays on the line as delay, as the encoder's pace is the line's.\n");
}

std::vector<std::vector<uint8_t>> Blocks(const DelayCase& c) {
    switch (c.coding) {
        case CODING_MPEG_L2: return Layer2Tone(c.rate, c.mode, c.bitRate, kBlocks);
        case CODING_MPEG_L3: return Layer3Tone(c.rate, c.mode, c.bitRate, c.block, kBlocks);
        case CODING_G722: return G722Tone(c.block, kBlocks);
        case CODING_APTX:
        case CODING_APTX_ENH: return AptxTone(c.coding, c.mode, c.block, kBlocks);
        default: {
            // G.711: any bytes go through as they are.
            std::vector<std::vector<uint8_t>> blocks(kBlocks, std::vector<uint8_t>(static_cast<size_t>(c.block)));
            for (int i = 0; i < kBlocks; ++i)
                for (int k = 0; k < c.block; ++k) blocks[i][k] = static_cast<uint8_t>((i * 131 + k * 7) ^ (k >> 3));
            return blocks;
        }
    }
}

CSettings Station(const CTempDir& dir, const char* name, int controller, const char* msn, bool answers) {
    CSettings s(dir.File(name));
    s.WriteInt("TCP", "AnswerAcceptCalls", 0);
    s.WriteInt("ISDN", "Controller", controller);
    s.WriteInt("ISDN", "G711Type", 2);
    s.WriteString("ISDN", "MSN-0", msn);
    s.WriteInt("ISDN", "DialDelay", 100);
    if (answers) {
        s.WriteInt("ISDN", "AnswerAcceptCalls", 1);
        s.WriteString("ISDN", "MSN-1", "");
    }
    return s;
}

template <typename Done>
bool PollUntil(CConnectionManager& a, CConnectionManager& b, Done done) {
    const uint32_t start = timeGetTime();
    while (timeGetTime() - start < kBoundMs) {
        a.Poll();
        b.Poll();
        if (done()) return true;
        Sleep(1);
    }
    return false;
}

// Where a block read at B starts among the sent ones, from `from` on: the
// index of the sent block its bytes (or, for a stream coding, its first
// bytes) match; -1 for none. MPEG frames come back with their markers
// (also in the private bit of a block's second MPEG-2 frame) and without
// their CRC, so only their tails are compared.
int FindSent(const std::vector<std::vector<uint8_t>>& sent, const std::vector<uint8_t>& stream, const uint8_t* got,
             int block, bool mpeg, int from) {
    if (mpeg) {
        // A Layer II frame loses its CRC: its bytes move up by two.
        const int strip = (sent[0][1] & 0x06) == 0x04 && (sent[0][1] & 1) == 0 ? 2 : 0;
        for (int i = from; i < static_cast<int>(sent.size()); ++i)
            if (std::equal(sent[i].begin() + block / 2 + 16 + strip, sent[i].begin() + block - 8, got + block / 2 + 16))
                return i;
        return -1;
    }
    const auto at = std::search(stream.begin() + static_cast<long>(from) * block, stream.end(), got, got + block);
    return at == stream.end() ? -1 : static_cast<int>((at - stream.begin()) / block);
}

void BM_IsdnDelay(benchmark::State& state) {
    const DelayCase& c = kCases[state.range(0)];
    const auto sent = Blocks(c);
    if (sent.size() != kBlocks) {
        state.SkipWithError("no coded tone");
        return;
    }
    std::vector<uint8_t> stream;
    for (const auto& b : sent) stream.insert(stream.end(), b.begin(), b.end());
    // The encoder's pace. apt-X codes 4 bits a sample and channel, which on
    // the framed paths (one sync bit in 65) is a little below the line's rate.
    const bool aptx = c.coding == CODING_APTX || c.coding == CODING_APTX_ENH;
    const double codedBitRate = aptx ? 4.0 * c.rate * (c.mode == DEVICEMODE_MONO ? 1 : 2) : c.bitRate;
    const double blockMs = 1000.0 * c.block * 8 / codedBitRate;
    for (auto _ : state) {
        CTempDir dir;
        CExchangeDaemon exchange(dir.Path(), kExchange);
        char program[CConnectionManager::kProgramPathBytes] = "Velmora.Exe";
        CConnectionManager a(Station(dir, "a.ini", 0, "3411", false)), b(Station(dir, "b.ini", 1, "3412", true));
        if (a.Init(program, 1) != 1 || b.Init(program, 1) != 1 || b.StartListening() != 1) {
            state.SkipWithError("no ISDN");
            return;
        }
        PollUntil(a, b, [&] { return exchange.Trace().find("LISTEN_CONF") != std::string::npos; });
        a.GetState();
        AudioFormat f = MpegSend(c.coding, c.rate, c.mode, c.bitRate, c.block);
        a.SetSendFormat(&f);
        ConnectionInfo target;
        target.kind = TRANSPORT_ISDN;
        std::strcpy(target.isdn.number1, "3412");
        std::strcpy(target.isdn.number2, "3413");
        if (a.Connect(&target) != 1 ||
            !PollUntil(a, b, [&] { return a.IsStateChanged() && a.GetState() == CONN_CONNECTED; })) {
            state.SkipWithError("no call");
            return;
        }
        const bool mpeg = c.coding == CODING_MPEG_L2 || c.coding == CODING_MPEG_L3;
        std::vector<uint32_t> writtenAt(sent.size(), 0);
        std::vector<double> delays, sinceReady;
        std::vector<uint8_t> got(static_cast<size_t>(c.block));
        const uint32_t start = timeGetTime();
        int next = 0, found = 0;
        PollUntil(a, b, [&] {
            // The encoder's pace: block k is ready k block times after the
            // start, the first kPrefill at once (the sender's margin).
            while (next < kBlocks && (timeGetTime() - start) >= (next - kPrefill) * blockMs &&
                   a.GetSendSpace() >= c.block) {
                a.WriteAudio(sent[next].data(), c.block);
                writtenAt[next++] = timeGetTime();
            }
            while (b.GetReceiveAvailable() >= c.block) {
                b.ReadAudio(got.data(), c.block);
                const int i = FindSent(sent, stream, got.data(), c.block, mpeg, found);
                if (i < 0 || i >= next) continue;
                found = i + 1;
                delays.push_back(timeGetTime() - writtenAt[i]);
                sinceReady.push_back(timeGetTime() - start - std::max(0, i - kPrefill) * blockMs);
            }
            return next == kBlocks && timeGetTime() - writtenAt[kBlocks - 1] > 2000;
        });
        const std::string starved = exchange.Query("starved");
        a.Disconnect();
        PollUntil(a, b, [&] { return exchange.Query("active") == "0"; });
        // The second half of the call: locked, steady.
        const std::vector<double> steady(delays.begin() + static_cast<long>(delays.size() / 2), delays.end());
        const double lineMs = delay_bench::Percentile(steady, 0.5);
        const double readyMs = delay_bench::Percentile(
            std::vector<double>(sinceReady.begin() + static_cast<long>(sinceReady.size() / 2), sinceReady.end()), 0.5);
        // One block of a constant-rate coding: as long as the audio it holds.
        const double frameMs = blockMs;
        const double engineMs = delay_bench::EngineBuffersMs(frameMs);
        const double lineBuffersMs = (kPrefill + 2) * blockMs;
        const double buffersMs = lineBuffersMs + engineMs;
        state.counters["line_ms"] = lineMs;
        state.counters["ready_ms"] = readyMs;
        state.counters["mouth_to_ear_ms"] = readyMs + engineMs;
        state.counters["buffers_ms"] = buffersMs;
        state.counters["blocks_matched"] = static_cast<double>(delays.size());
        Rows().push_back({c.name, lineMs, readyMs, lineBuffersMs, engineMs, frameMs, delays.size(), starved});
    }
}

BENCHMARK(BM_IsdnDelay)->Apply(delay_bench::OneRunPerCase<static_cast<int>(std::size(kCases))>);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintTable();
    return 0;
}
