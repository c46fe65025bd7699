#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

int WriteFileAtomically(const char* path, const uint8_t* data, size_t size) {
    static std::atomic<unsigned> s_serial{0};
    const std::string temp = std::string(path) + ".tmp" + std::to_string(getpid()) + "." +
                             std::to_string(s_serial.fetch_add(1, std::memory_order_relaxed));
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return 0;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const bool written = done == size && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!written || !closed || std::rename(temp.c_str(), path) != 0) {
        unlink(temp.c_str());
        return 0;
    }
    return 1;
}
