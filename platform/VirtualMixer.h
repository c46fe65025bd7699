#pragma once
// The mixer of a virtual WAVE device (VirtualWave.h). Input: a recording
// destination whose selector chooses "Mic" or "Line", each a source with a
// volume (0 to 65535) and a mute. Output: a "Master" destination with volume
// and mute. Values live as long as the process, per device and direction.
//
// Tests change a value as another program would; open mixers with a window
// hear of it. Returns 1 when the device, line and control exist.
int VirtualMixerChange(const char* device, int input, const char* line, int volumeNotMute, long value);
