#pragma once
// The three fixed-layout records that travel to disk and wire. Their sizes and
// offsets are part of the phonebook file, the control frames and the
// remote-control protocol: every byte keeps its place. Bytes go in and out
// through the Load/Store functions, field by field, little-endian.
#include <cstddef>
#include <cstdint>

#include "common/Codes.h"

struct AudioFormat {
    int32_t codingType = 0;
    int32_t bitRate = 0;     // bit/s
    int32_t sampleRate = 0;  // Hz
    int32_t deviceMode = 0;
    int32_t frameBytes = 0;  // <= 0: not set yet
    int32_t direction = 0;
    int32_t aptxOption = 1;  // 1 in an empty format
    uint8_t reserved[40] = {};
    int16_t reserved2 = 0;
    uint8_t padding[2] = {};
};
static_assert(sizeof(AudioFormat) == 72);
static_assert(offsetof(AudioFormat, frameBytes) == 16);
static_assert(offsetof(AudioFormat, aptxOption) == 24);
static_assert(offsetof(AudioFormat, reserved) == 28);
static_assert(offsetof(AudioFormat, reserved2) == 68);

struct ConnectionInfo {
    int32_t kind = 0;
    union {
        char address[80];  // IP and multicast: host or dotted address
        struct {
            char number1[40];  // ISDN channel 1
            char number2[40];  // ISDN channel 2
        } isdn;
    };
    int32_t port = 0;
    int32_t flag = 0;  // IP: through the SOCKS proxy; multicast: this station transmits
    int32_t hops = 0;
    uint8_t reserved[148] = {};
    int32_t connectionType = 0;
    int32_t bufferingMode = 0;
    int32_t bufferMs = 0;
    uint8_t reserved2[40] = {};

    ConnectionInfo() : address{} {}
};
static_assert(sizeof(ConnectionInfo) == 296);
static_assert(offsetof(ConnectionInfo, address) == 4);
static_assert(offsetof(ConnectionInfo, port) == 84);
static_assert(offsetof(ConnectionInfo, hops) == 92);
static_assert(offsetof(ConnectionInfo, connectionType) == 244);
static_assert(offsetof(ConnectionInfo, bufferMs) == 252);
static_assert(offsetof(ConnectionInfo, reserved2) == 256);

struct PhonebookEntry {
    int32_t index = 0;
    char name[30] = {};
    uint8_t reserved[26] = {};
    int32_t length = 0;
    ConnectionInfo connection;
    AudioFormat format;
    int32_t autoReconnect = 0;
    int32_t reconnectKind = 0;
    char reconnectName[48] = {};

    // Every writer of a new entry starts from 488 zero bytes, so a new entry's
    // format has aptxOption 0 until a dialog sets it.
    PhonebookEntry() { format.aptxOption = 0; }
};
static_assert(sizeof(PhonebookEntry) == 488);
static_assert(offsetof(PhonebookEntry, name) == 4);
static_assert(offsetof(PhonebookEntry, length) == 60);
static_assert(offsetof(PhonebookEntry, connection) == 64);
static_assert(offsetof(PhonebookEntry, format) == 360);
static_assert(offsetof(PhonebookEntry, autoReconnect) == 432);
static_assert(offsetof(PhonebookEntry, reconnectName) == 440);

constexpr size_t kAudioFormatBytes = 72;
constexpr size_t kConnectionInfoBytes = 296;
constexpr size_t kPhonebookEntryBytes = 488;

void StoreAudioFormat(const AudioFormat& format, uint8_t* out);  // 72 bytes
AudioFormat LoadAudioFormat(const uint8_t* in);
void StoreConnectionInfo(const ConnectionInfo& info, uint8_t* out);  // 296 bytes
ConnectionInfo LoadConnectionInfo(const uint8_t* in);
void StorePhonebookEntry(const PhonebookEntry& entry, uint8_t* out);  // 488 bytes
PhonebookEntry LoadPhonebookEntry(const uint8_t* in);

// The bit rate that follows from a non-MPEG format's other fields; Layer II and
// Layer III keep the chosen rate.
int32_t DerivedBitRate(const AudioFormat& format);
