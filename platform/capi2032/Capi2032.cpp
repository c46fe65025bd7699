// CAPI 2.0 for this machine: each registered application is one connection
// to the simulated exchange. Messages are polled (CAPI_GET_MESSAGE never
// blocks); a delivered message and its data stay in the application's own
// buffer until its next CAPI_GET_MESSAGE. Any thread; one lock guards the
// table of applications.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/capi/CapiMessage.h"
#include "platform/capi/ExchangeProtocol.h"

#define CAPI_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kMaxApplications = 64;
constexpr size_t kDataB3Bytes = 30;  // with the 64-bit data address
constexpr size_t kDataB3Bytes32 = 22;

struct Application {
    int fd = -1;
    uint32_t blockLength = 0;
    std::vector<uint8_t> in;  // the last delivered packet
};

std::mutex g_lock;
Application g_apps[kMaxApplications + 1];  // by identifier; 0 unused

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

int Connect() {
    const char* path = std::getenv(kExchangeSocketVariable);
    if (!path || !*path) return -1;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof addr.sun_path) return -1;
    std::strcpy(addr.sun_path, path);
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// One request and its reply on a connection of its own.
bool Ask(const uint8_t* request, size_t n, uint8_t* reply, size_t capacity, ssize_t* got, int keepFd = -1) {
    const int fd = keepFd >= 0 ? keepFd : Connect();
    if (fd < 0) return false;
    bool ok = send(fd, request, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
    if (ok) {
        *got = recv(fd, reply, capacity, 0);
        ok = *got > 0 && reply[0] == request[0];
    }
    if (keepFd < 0) close(fd);
    return ok;
}

Application* Find(uint32_t applId) {
    if (applId == 0 || applId > kMaxApplications || g_apps[applId].fd < 0) return nullptr;
    return &g_apps[applId];
}

}  // namespace

CAPI_EXPORT uint32_t CAPI_INSTALLED() {
    const int fd = Connect();
    if (fd < 0) return CAPI_REGNOTINSTALLED;
    close(fd);
    return CAPI_NOERROR;
}

CAPI_EXPORT uint32_t CAPI_REGISTER(uint32_t messageBufferSize, uint32_t maxLogicalConnections, uint32_t maxB3Blocks,
                                   uint32_t maxB3BlockLength, uint32_t* applId) {
    (void)messageBufferSize;
    if (!applId) return CAPI_ILLMESSAGEPARMCODING;
    *applId = 0;
    if (maxLogicalConnections == 0 || maxB3Blocks == 0 || maxB3Blocks > 7 || maxB3BlockLength < 128 ||
        maxB3BlockLength > 2048) {
        return 0x1002;  // logical block size, connections or blocks out of range
    }
    const int fd = Connect();
    if (fd < 0) return CAPI_REGNOTINSTALLED;
    uint8_t request[9] = {static_cast<uint8_t>(kExchangeRegister)};
    std::memcpy(request + 1, &maxB3Blocks, 4);
    std::memcpy(request + 5, &maxB3BlockLength, 4);
    uint8_t reply[8];
    ssize_t got = 0;
    if (!Ask(request, sizeof request, reply, sizeof reply, &got, fd) || got < 5) {
        close(fd);
        return CAPI_REGOSRESOURCEERR;
    }
    const uint16_t info = Le16(reply + 1);
    const uint16_t id = Le16(reply + 3);
    std::lock_guard<std::mutex> lock(g_lock);
    if (info != CAPI_NOERROR || id == 0 || id > kMaxApplications || g_apps[id].fd >= 0) {
        close(fd);
        return info != CAPI_NOERROR ? info : CAPI_REGOSRESOURCEERR;
    }
    g_apps[id].fd = fd;
    g_apps[id].blockLength = maxB3BlockLength;
    g_apps[id].in.assign(kExchangePacketBytes, 0);
    *applId = id;
    return CAPI_NOERROR;
}

CAPI_EXPORT uint32_t CAPI_RELEASE(uint32_t applId) {
    std::lock_guard<std::mutex> lock(g_lock);
    Application* app = Find(applId);
    if (!app) return CAPI_ILLAPPNR;
    // The exchange clears the application's calls when its connection closes.
    close(app->fd);
    app->fd = -1;
    app->in.clear();
    return CAPI_NOERROR;
}

CAPI_EXPORT uint32_t CAPI_PUT_MESSAGE(uint32_t applId, const void* message) {
    std::lock_guard<std::mutex> lock(g_lock);
    Application* app = Find(applId);
    if (!app) return CAPI_ILLAPPNR;
    if (!message) return CAPI_ILLCMDORSUBCMDORMSGTOSMALL;
    const auto* m = static_cast<const uint8_t*>(message);
    const size_t length = Le16(m);
    if (length < 8 || length > kCapiMessageBufferBytes) return CAPI_ILLCMDORSUBCMDORMSGTOSMALL;
    uint8_t packet[1 + kCapiMessageBufferBytes + 2048];
    packet[0] = static_cast<uint8_t>(kExchangeMessage);
    std::memcpy(packet + 1, m, length);
    size_t n = 1 + length;
    if (m[4] == CAPI_DATA_B3 && m[5] == CAPI_REQ) {
        if (length < kDataB3Bytes32) return CAPI_ILLCMDORSUBCMDORMSGTOSMALL;
        const uint16_t dataLength = Le16(m + 16);
        if (dataLength > app->blockLength) return CAPI_ILLMESSAGEPARMCODING;
        uint64_t address = 0;
        if (length >= kDataB3Bytes) {
            std::memcpy(&address, m + 22, 8);
        } else {
            uint32_t a32;
            std::memcpy(&a32, m + 12, 4);
            address = a32;
        }
        if (dataLength && !address) return CAPI_ILLMESSAGEPARMCODING;
        if (dataLength) std::memcpy(packet + n, reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), dataLength);
        n += dataLength;
    }
    if (send(app->fd, packet, n, MSG_NOSIGNAL) != static_cast<ssize_t>(n)) {
        return errno == EAGAIN ? CAPI_SENDQUEUEFULL : CAPI_MSGOSRESOURCEERR;
    }
    return CAPI_NOERROR;
}

CAPI_EXPORT uint32_t CAPI_GET_MESSAGE(uint32_t applId, void** message) {
    std::lock_guard<std::mutex> lock(g_lock);
    Application* app = Find(applId);
    if (!app) return CAPI_ILLAPPNR;
    if (!message) return CAPI_ILLMESSAGEPARMCODING;
    for (;;) {
        const ssize_t got = recv(app->fd, app->in.data(), app->in.size(), MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return CAPI_RECEIVEQUEUEEMPTY;
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return CAPI_MSGOSRESOURCEERR;  // the exchange has gone
        uint8_t* m = app->in.data() + 1;
        const size_t length = static_cast<size_t>(got) - 1;
        if (app->in[0] != kExchangeMessage || length < 8 || Le16(m) > length) continue;
        if (m[4] == CAPI_DATA_B3 && m[5] == CAPI_IND) {
            const size_t msgLength = Le16(m);
            if (msgLength < kDataB3Bytes || length - msgLength < Le16(m + 16)) continue;
            const uint64_t address = reinterpret_cast<uintptr_t>(m + msgLength);
            std::memcpy(m + 22, &address, 8);
        }
        *message = m;
        return CAPI_NOERROR;
    }
}

CAPI_EXPORT uint32_t CAPI_WAIT_FOR_SIGNAL(uint32_t applId) {
    std::lock_guard<std::mutex> lock(g_lock);
    return Find(applId) ? CAPI_NOERROR : CAPI_ILLAPPNR;
}

CAPI_EXPORT uint32_t CAPI_GET_MANUFACTURER(char* buffer) {
    if (buffer) std::strcpy(buffer, "Velmora simulated exchange");
    return CAPI_NOERROR;
}

CAPI_EXPORT uint32_t CAPI_GET_VERSION(uint32_t* capiMajor, uint32_t* capiMinor, uint32_t* manufacturerMajor,
                                      uint32_t* manufacturerMinor) {
    if (capiMajor) *capiMajor = 2;
    if (capiMinor) *capiMinor = 0;
    if (manufacturerMajor) *manufacturerMajor = 1;
    if (manufacturerMinor) *manufacturerMinor = 0;
    return CAPI_NOERROR;
}

CAPI_EXPORT uint32_t CAPI_GET_SERIAL_NUMBER(char* buffer) {
    if (buffer) std::strcpy(buffer, "0000001");
    return CAPI_NOERROR;
}

CAPI_EXPORT uint32_t CAPI_GET_PROFILE(void* buffer, uint32_t controller) {
    if (!buffer) return CAPI_ILLMESSAGEPARMCODING;
    uint8_t request[5] = {static_cast<uint8_t>(kExchangeProfile)};
    std::memcpy(request + 1, &controller, 4);
    uint8_t reply[3 + 64];
    ssize_t got = 0;
    if (!Ask(request, sizeof request, reply, sizeof reply, &got)) return CAPI_NOTINSTALLED;
    if (got < static_cast<ssize_t>(sizeof reply)) return CAPI_MSGOSRESOURCEERR;
    const uint16_t info = Le16(reply + 1);
    if (info == CAPI_NOERROR) std::memcpy(buffer, reply + 3, 64);
    return info;
}
