#pragma once
// The front end's rule that picks an engine at every open.

enum class Mp3Engine { kSecond, kSecondWithResampler, kL3Core, kRefused };

// codedChannels must be 1 or 2 (anything else is refused).
Mp3Engine ChooseMp3Engine(int inputRate, int codedRate, unsigned bitRate, int codedChannels, int preset,
                          int vbrQuality);
