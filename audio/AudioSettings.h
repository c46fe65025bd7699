#pragma once
// The settings keys the audio engine reads, under the settings store's
// getter names. Nothing is cached: every getter asks again, so a value a
// dialog just wrote is what the next open uses. Until the store is linked
// here the getters answer the table defaults, or the values a test installs.
//
// Any thread; the test values are installed before the engine runs.

struct AudioSettingsValues {
    int audioInterface = 0;  // [Audio] Interface: 0 none, 1 WAVE, 2 ASIO, 3 endpoints
    int audioEnableSRC = 1;
    int audioMp2Processing = 1;
    int playBlockTime = 10;
    int playCard = 0;
    int playLevel = 0;
    int recNumBlocks = 10;
    int recBlockTime = 10;
    int recCard = 0;
    int recLevel = 0;
    int recMonoMix = 0;
};

class CAudioSettings {
public:
    int GetAudioInterface() const { return Values().audioInterface; }
    int GetAudioEnableSRC() const { return Values().audioEnableSRC; }
    int GetAudioMp2Processing() const { return Values().audioMp2Processing; }
    int GetPlayBlockTime() const { return Values().playBlockTime; }
    int GetPlayCard() const { return Values().playCard; }
    int GetPlayLevel() const { return Values().playLevel; }
    int GetRecNumBlocks() const { return Values().recNumBlocks; }
    int GetRecBlockTime() const { return Values().recBlockTime; }
    int GetRecCard() const { return Values().recCard; }
    int GetRecLevel() const { return Values().recLevel; }
    int GetRecMonoMix() const { return Values().recMonoMix; }

    // Tests: values to answer instead of the defaults; null restores them.
    static void Install(const AudioSettingsValues* values);

private:
    static const AudioSettingsValues& Values();
};
