#pragma once
// Resource numbers and fixed texts of the main window.
#include "platform/WindowMessages.h"

constexpr UINT IDD_MAIN_DIALOG = 101;
constexpr UINT IDR_MAIN_ACCELERATORS = 133;
constexpr char kMainWindowClass[] = "VelmoraTransClass";
constexpr char kProductName[] = "Velmora Transvoria";
constexpr char kVersionText[] = "V1.5b";
constexpr char kBuildDate[] = "20-Jan-2010";
constexpr char kMakerAddress[] = "www.velmora-transvoria.example";
constexpr char kMainCaption[] = "Velmora Transvoria V1.5b (www.velmora-transvoria.example)";

// Accelerator table 133.
HACCEL LoadMainAccelerators();
