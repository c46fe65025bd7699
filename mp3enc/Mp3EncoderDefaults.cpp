#include "mp3enc/Mp3EncoderDefaults.h"

#include <cstring>

int Mp3DefaultBitrate(int sampleRate, int channels) {
    int perChannel = 0;
    switch (sampleRate) {
        case 8000: perChannel = 8000; break;
        case 11025: case 12000: perChannel = 16000; break;
        case 16000: perChannel = 24000; break;
        case 22050: case 24000: perChannel = 32000; break;
        case 32000: perChannel = 48000; break;
        case 44100: case 48000: perChannel = 64000; break;
        default: return 0;
    }
    return perChannel * channels;
}

Mp3EncoderConfig* Mp3EncoderConfigInit(Mp3EncoderConfig* config) {
    if (!config) return config;
    std::memset(config, 0, sizeof *config);
    config->intensityAllowed = 1;
    config->jointStereo = 1;
    config->monoFallback = 1;
    return config;
}
