// Helpers for the psychoacoustic module tests: an option scope and error
// checks.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"
#include "mp3enc/util/EncError.h"

namespace psytest {

// Options set inside it reach the stages created inside it.
struct OptionScope {
    OptionScope() { EXPECT_EQ(UciBegin(), kUciDone); }
    ~OptionScope() { UciEnd(); }
    void Set(const char* name, const char* value = nullptr) { EXPECT_EQ(UciSet(name, value), kUciDone); }
};

// The message of the first link, and frees the error.
inline std::string TakeMessage(EncError* e) {
    std::string m = e && e->message ? e->message : "";
    ErrorFree(e);
    return m;
}

}  // namespace psytest
