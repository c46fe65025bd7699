#pragma once
// The endpoint functions the program reaches audio endpoints through: 5 to
// list them, 4 for an endpoint's master volume and 13 for stream clients.
// Endpoints are the virtual ones (VirtualEndpoints.h) first, then the sinks
// (direction 0) or sources (direction 1, monitors included) of the
// PulseAudio server the environment names (a PipeWire desktop serves the
// same interface); without a server only the virtual ones are listed.
// Every stream carries interleaved 16-bit PCM at 48000 Hz, in 2 channels
// (playback) or in the 1 or 2 the capture client was opened with.
//
// Handles are opaque, 0 is none; a handle belongs to one thread at a time.
// Whatever threads the backends run stay inside them.
#include <cstdint>

using AUXHANDLE = uintptr_t;

AUXHANDLE EnumCreate(int direction);  // 0 playback, 1 capture
int EnumGetNumEndPoints(AUXHANDLE h);
int EnumGetEndPointName(AUXHANDLE h, int index, char* buffer, int length);  // non-zero when written whole
int EnumGetDefaultDeviceIndex(AUXHANDLE h);                                 // -1 without one
void EnumRelease(AUXHANDLE h);

AUXHANDLE VolumeCreate(int direction, int index);
float VolumeGetMasterVolume(AUXHANDLE h);  // 0 to 1
void VolumeSetMasterVolume(AUXHANDLE h, float value);
void VolumeRelease(AUXHANDLE h);

AUXHANDLE ClientCreate(int direction, int index);
// Opens the stream, not yet running: blockMs per transfer, bufferCount
// blocks queued at most, 48000 Hz only, 2 channels (capture: 1 or 2).
// Non-zero on success.
int ClientOpen(AUXHANDLE h, int blockMs, int bufferCount, int rate, int channels, int modeFlag);
int ClientGetBlockTime(AUXHANDLE h);
int ClientStart(AUXHANDLE h);
void ClientStop(AUXHANDLE h);
void ClientClose(AUXHANDLE h);
void ClientRelease(AUXHANDLE h);  // the handle is dead afterwards
int ClientAddData(AUXHANDLE h, const void* pcm, int length);  // length when queued whole, else 0
int ClientGetBytesFree(AUXHANDLE h);
int ClientGetBytesBuffered(AUXHANDLE h);
int ClientGetBytesDone(AUXHANDLE h);
int ClientGetData(AUXHANDLE h, void* buffer, int length);  // bytes written, 0 when none
int ClientGetLastErrorStr(AUXHANDLE h, char* buffer, int length);
