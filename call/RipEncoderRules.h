#pragma once
// How the remote-control server turns a requested encoder format into one the
// chosen network can carry. Pure functions over AudioFormat; any thread.
#include "common/Records.h"

// The format a set-encoder request asks for; false for a coding type the
// server does not offer (the format is then left as it was).
bool MakeRequestedEncoder(int codingType, int bitRate, int sampleRate, int deviceMode, AudioFormat* format);

// The first standard MPEG bit rate not below the request; 320000 above the list.
int SnapMpegBitRate(int codingType, int bitRate);

// Each adjusts the format for its network; false when the coding type cannot go there.
bool CheckISDNEncoder(AudioFormat* format);
bool CheckTCPEncoder(AudioFormat* format);  // also the multicast sender's rule
