#pragma once
// The share of processor time the whole system used between two looks, from
// the kernel's "cpu" line of /proc/stat. GUI thread (the 1 s status tick).
#include <cstdint>
#include <string>

class CCpuLoad {
public:
    // Percentage 0..100 since the previous sample; 0 for the first one,
    // -1 when the text holds no usable "cpu" line.
    int Sample(const std::string& procStat);
    // The same from the system's file; -1 when it cannot be read.
    int SampleSystem();

private:
    bool m_started = false;
    uint64_t m_busy = 0;
    uint64_t m_total = 0;
};
