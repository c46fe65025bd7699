#include "mp3enc/Mp3EngineChoice.h"

Mp3Engine ChooseMp3Engine(int inputRate, int codedRate, unsigned bitRate, int codedChannels, int preset,
                          int vbrQuality) {
    if (codedChannels < 1 || codedChannels > 2 || inputRate < 1 || codedRate < 1) return Mp3Engine::kRefused;
    const long long i = inputRate, o = codedRate;
    const bool listed = i == 2 * o || i == 3 * o || i == 4 * o || i == 6 * o || 2 * i == 3 * o;
    if (vbrQuality != 0) return o < 16000 ? Mp3Engine::kRefused : Mp3Engine::kSecond;
    if (preset != 0) {
        if (bitRate != 320000 && bitRate / static_cast<unsigned>(codedChannels) >= 40000) return Mp3Engine::kL3Core;
        return (listed || i == o) ? Mp3Engine::kSecondWithResampler : Mp3Engine::kL3Core;
    }
    if (listed) return Mp3Engine::kSecondWithResampler;
    return i == o ? Mp3Engine::kSecond : Mp3Engine::kL3Core;
}
