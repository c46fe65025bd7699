#pragma once
// Resource numbers and fixed texts of the main window.
#include "platform/WindowMessages.h"

constexpr UINT IDD_MAIN_DIALOG = 101;
constexpr UINT IDR_MAIN_ACCELERATORS = 133;
constexpr char kMainWindowClass[] = "VelmoraTransClass";
constexpr char kMainCaption[] = "Velmora Transvoria V1.5b (www.velmora-transvoria.example)";

constexpr UINT_PTR kRemoteControlTimer = 104;  // 200 ms poll of the remote-control server

// Accelerator table 133.
HACCEL LoadMainAccelerators();
