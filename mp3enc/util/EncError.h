#pragma once
// Chained error objects of the Layer III encoder library: an operation returns
// null on success or an error naming where it failed; each caller that passes
// it upward appends its own location. Safe from any thread; allocates.
#include <cstdarg>

struct EncError {
    char* source;   // file name after the last '/'
    int line;
    char* context;  // may be null
    char* message;  // null in links added by ErrorChain
    EncError* next;
};

EncError* ErrorCreate(const char* sourcePath, int line, const char* context, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
// Appends a location link after the last link; returns the first link.
EncError* ErrorChain(const char* sourcePath, int line, const char* context, EncError* error);
void ErrorFree(EncError* error);
// For a stage that finds its own tables inconsistent: prints and exits with 20.
[[noreturn]] void FatalError(const char* text, const char* sourcePath, int line);
// The error returned when an error itself cannot be allocated; never freed.
const EncError* OutOfMemoryError();
