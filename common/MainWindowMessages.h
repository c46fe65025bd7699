#pragma once
// The private messages that the call engine and the remote-control server
// send to the main window. wParam and lParam as noted.
#include "platform/WindowMessages.h"

constexpr UINT WM_ENGINE_STARTED = WM_USER + 10;          // the worker runs
constexpr UINT WM_ENGINE_STATE = WM_USER + 11;            // call state, transport kind
constexpr UINT WM_ENGINE_INCOMING = WM_USER + 12;         // connection information changed
constexpr UINT WM_ENGINE_DECODER_FORMAT = WM_USER + 13;   // -, kind
constexpr UINT WM_ENGINE_RX_INDICATOR = WM_USER + 14;     // 0 off / 16 waiting / 32 receiving, kind
constexpr UINT WM_ENGINE_ENCODER_FORMAT = WM_USER + 15;   // -, kind or 0 for the current kind
constexpr UINT WM_ENGINE_TX_INDICATOR = WM_USER + 16;     // 0 off / 16 waiting / 32 sending, kind
constexpr UINT WM_ENGINE_REMOTE_IDENTITY = WM_USER + 17;  // -, 0 or ERROR_REMOTE_NO_FIXED_DELAY
constexpr UINT WM_ENGINE_LOW_BANDWIDTH = WM_USER + 18;    // -, kind
// From the pages, the library box and the window itself.
constexpr UINT WM_CONNECT_REQUEST = WM_USER + 20;   // origin 0 page / 16 reconnect / 32 auto-dial, page kind
constexpr UINT WM_STOP_REQUEST = WM_USER + 21;      // -, repeat the hang-up every second
constexpr UINT WM_DEVICES_CHANGED = WM_USER + 22;   // the device settings changed
constexpr UINT WM_REINIT_AUDIO = WM_USER + 23;      // recreate the audio devices
constexpr UINT WM_SET_INPUT_VOLUME = WM_USER + 24;  // level 0..100, sending page kind
constexpr UINT WM_SET_PLAY_LEVEL = WM_USER + 25;    // level in dB, sending page kind
constexpr UINT WM_PAGE_SHOWN = WM_USER + 27;        // -, page 0/32, 1/16, 2/128
constexpr UINT WM_LIBRARY_CHANGED = WM_USER + 30;   // the library's selection or contents changed
constexpr UINT WM_RIP_CONNECT = WM_USER + 40;             // sent: make the requested connection
constexpr UINT WM_RIP_DISCONNECT = WM_USER + 41;          // sent: break the connection
constexpr UINT WM_RIP_ANSWER_SETTINGS = WM_USER + 42;     // the answer settings changed

// The far end is too old for the fixed-delay buffering this caller asked for.
constexpr LPARAM ERROR_REMOTE_NO_FIXED_DELAY = static_cast<LPARAM>(0xF000F010u);
