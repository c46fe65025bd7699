#include "ui/CpuLoad.h"

#include <charconv>
#include <fstream>
#include <sstream>

int CCpuLoad::Sample(const std::string& procStat) {
    // "cpu  user nice system idle iowait irq softirq steal ..."
    if (procStat.compare(0, 4, "cpu ") != 0) return -1;
    const size_t end = procStat.find('\n');
    const std::string line = procStat.substr(4, end == std::string::npos ? std::string::npos : end - 4);
    uint64_t fields[10] = {};
    int count = 0;
    const char* p = line.data();
    const char* const last = line.data() + line.size();
    while (count < 10 && p < last) {
        while (p < last && *p == ' ') ++p;
        if (p == last) break;
        const auto [next, ec] = std::from_chars(p, last, fields[count]);
        if (ec != std::errc()) return -1;
        p = next;
        ++count;
    }
    if (count < 4) return -1;
    uint64_t total = 0;
    // guest and guest_nice are already inside user and nice.
    for (int i = 0; i < count && i < 8; ++i) total += fields[i];
    const uint64_t idle = fields[3] + (count > 4 ? fields[4] : 0);
    if (idle > total) return -1;
    const uint64_t busy = total - idle;
    const bool first = !m_started;
    const uint64_t previousBusy = m_busy, previousTotal = m_total;
    m_started = true;
    m_busy = busy;
    m_total = total;
    if (first || total <= previousTotal || busy < previousBusy) return 0;  // no time passed, or a reset
    const uint64_t dBusy = busy - previousBusy, dTotal = total - previousTotal;
    if (dBusy >= dTotal) return 100;
    return static_cast<int>(dBusy * 100 / dTotal);
}

int CCpuLoad::SampleSystem() {
    std::ifstream file("/proc/stat");
    if (!file) return -1;
    std::string line;
    std::getline(file, line);
    return Sample(line);
}
