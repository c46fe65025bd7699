#pragma once
// Settings that leave the station without audio. Such a station still
// answers and makes calls, and without a word they would carry silence; the
// main window shows this line instead. Plain logic, any thread.
#include <string>

#include "common/Settings.h"

// One line for the operator, or empty when the settings can carry audio.
// The device counts are those of the system's recording and playback devices.
std::string DescribeAudioSetupProblem(const CSettings& settings, unsigned inputDevices, unsigned outputDevices);
