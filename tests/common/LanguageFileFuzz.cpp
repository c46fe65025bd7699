// Language files from outside: any bytes must load or be refused, and every
// lookup must stay inside the loaded text.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "common/SharedState.h"
#include "common/Translator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SharedState state;
    SharedState* saved = g_sharedState;
    g_sharedState = &state;
    {
        CTranslator t;
        t.SetSection(static_cast<int>(size % 20));
        if (t.LoadLanguageBuffer(data, size, "fuzz")) {
            for (int s = 0; s < state.sectionCount + 2; ++s) {
                for (int l = 0; l < 8; ++l) {
                    const char* text = t.GetText((s << 16) | l, "");
                    volatile size_t n = std::strlen(text);
                    (void)n;
                }
            }
        }
    }
    g_sharedState = saved;
    return 0;
}
