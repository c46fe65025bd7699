// What "never cached" costs: the engine's worker reads settings around calls,
// each read parsing the whole file. A full file of every section is the case.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "common/Settings.h"

namespace {

std::string MakeFullFile() {
    const std::string path = "/tmp/velmora-settings-bench-" + std::to_string(::getpid()) + ".ini";
    std::remove(path.c_str());
    const CSettings s(path);
    const char* sections[] = {"ARIP", "Socks", "TCP",     "UDP",      "ISDN",  "Audio", "ASIO",   "CoreAudio",
                              "Play", "Rec",   "Library", "MiniISDN", "Vista", "Main",  "Options"};
    for (const char* section : sections) {
        for (int i = 0; i < 8; ++i) s.WriteInt(section, ("Key" + std::to_string(i)).c_str(), i * 1000);
    }
    s.SetAudioInterface(2);
    s.SetMainPhoneFile("My Phonebook.Pb");
    return path;
}

void BM_SettingsIntRead(benchmark::State& state) {
    const CSettings s(MakeFullFile());
    for (auto _ : state) benchmark::DoNotOptimize(s.GetRecBlockTime());
    state.SetItemsProcessed(state.iterations());
    std::remove(s.GetPath().c_str());
}
BENCHMARK(BM_SettingsIntRead);

void BM_SettingsStringRead(benchmark::State& state) {
    const CSettings s(MakeFullFile());
    std::string out;
    for (auto _ : state) benchmark::DoNotOptimize(s.GetMainPhoneFile(out).size());
    state.SetItemsProcessed(state.iterations());
    std::remove(s.GetPath().c_str());
}
BENCHMARK(BM_SettingsStringRead);

// A write rewrites and flushes the whole file: dialogs only, never per pass.
void BM_SettingsWrite(benchmark::State& state) {
    const CSettings s(MakeFullFile());
    int n = 0;
    for (auto _ : state) s.SetMainPage(++n);
    state.SetItemsProcessed(state.iterations());
    std::remove(s.GetPath().c_str());
}
BENCHMARK(BM_SettingsWrite);

}  // namespace

BENCHMARK_MAIN();
