#pragma once
// Format negotiation of a call as plain functions: what an answering station
// sends back, and what the decoder takes from the peer's announcement. The
// call engine applies the results. Any thread.
#include "common/Records.h"
#include "common/Settings.h"

// The answering side's settings for the format it sends back; -1 = as the
// caller sends.
struct AnswerSettings {
    int codingType = -1;
    int bitRate = -1;
    int sampleRate = -1;
    int deviceMode = -1;
    int sameSettings = 0;
};

// Refreshes `answer` from the settings of a TCP or ISDN call (ISDN has no
// bit-rate or same-settings key: its bit rate is the caller's); other kinds
// leave it as it is.
void ReadAnswerSettings(const CSettings& settings, int transportKind, AnswerSettings& answer);

// The format an answering station sends back for the caller's completed
// format `received`; `current` is the send format so far (its other fields
// stay). The caller's own format is sent back when the settings say so, for
// send-only callers and G.711, and when the chosen frame would not fit a pass.
AudioFormat ChooseAnswerFormat(const AudioFormat& received, const AudioFormat& current, const AnswerSettings& answer,
                               int transportKind, int fastCpu);

// The format the decoder runs for the peer's announcement: a receive-only
// station meeting a send-only peer still decodes.
AudioFormat DecodeFormatFor(const AudioFormat& peer, const AudioFormat& encode);

// Standard apt-X sent with the sync pattern to a peer that sends without it
// must drop the pattern too.
bool EncoderDropsAptxSync(const AudioFormat& encode, const AudioFormat& decode);
