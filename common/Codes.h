#pragma once
// Numeric codes carried by the records, the settings and the remote-control protocol.

enum CodingType : int {
    CODING_PCM = 1,
    CODING_G711_ALAW = 2,
    CODING_G711_ULAW = 4,
    CODING_G722 = 8,
    CODING_MPEG_L1 = 16,  // status texts and frame duration only: no codec
    CODING_MPEG_L2 = 32,
    CODING_MPEG_L3 = 64,
    CODING_APTX = 256,
    CODING_APTX_ENH = 272,
    CODING_ACM_PCM = 4096,  // a compressed WAV file read as 16-bit PCM through the converter
};

enum DeviceMode : int {
    DEVICEMODE_MONO = 10,
    DEVICEMODE_MONO_MIX = 11,  // (left + right) / 2, capture side only
    DEVICEMODE_STEREO = 20,
    DEVICEMODE_JOINT_STEREO = 21,
    DEVICEMODE_DUAL_MONO = 22,
};

enum Direction : int {
    DIRECTION_BOTH = 0,
    DIRECTION_SEND_ONLY = 16,
    DIRECTION_RECEIVE_ONLY = 32,
};

// The call engine's state, as the main window and the remote-control port see it.
enum CallState : int {
    CALL_NONE = 0,
    CALL_IDLE = 16,
    CALL_FAILED = 17,
    CALL_CLIP_PLAYING = 21,
    CALL_CLIP_PAUSED = 22,
    CALL_CONNECTING = 32,
    CALL_LINK_UP = 48,
    CALL_CHECKING = 49,
    CALL_CONNECTED = 50,
    CALL_CONNECTED_CLIP_PLAYING = 58,
    CALL_CONNECTED_CLIP_PAUSED = 59,
};

// [Audio] Interface: the sound devices the audio engine opens.
enum AudioInterface : int {
    INTERFACE_NONE = 0,
    INTERFACE_WAVE = 1,
    INTERFACE_ASIO = 2,
    INTERFACE_COREAUDIO = 3,
};

enum TransportKind : int {
    TRANSPORT_TCP = 16,
    TRANSPORT_ISDN = 32,
    TRANSPORT_MULTICAST = 128,
};

enum ConnectionType : int {
    CONNTYPE_1 = 0,
    CONNTYPE_2 = 10,
    CONNTYPE_3 = 20,
};

enum BufferingMode : int {
    BUFMODE_MEASURE_RELIABLE = 0,
    BUFMODE_MEASURE_DELAY = 10,
    BUFMODE_FIXED = 20,
};

// Modes 10 and 11 are one channel wherever a count is derived; every other mode two.
constexpr int ChannelsOfDeviceMode(int deviceMode) {
    return (deviceMode == DEVICEMODE_MONO || deviceMode == DEVICEMODE_MONO_MIX) ? 1 : 2;
}
