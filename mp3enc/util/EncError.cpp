#include "mp3enc/util/EncError.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "mp3enc/util/AlignedAlloc.h"

namespace {
EncError g_outOfMemory{const_cast<char*>("errorhnd"), 0, const_cast<char*>("error()"),
                       const_cast<char*>("errorhnd: the error handler has run out of memory"), nullptr};

char* CopyText(const char* text) {
    if (!text) return nullptr;
    const size_t n = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(AlignedMalloc(n, __FILE__, __LINE__));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

const char* BaseName(const char* path) {
    if (!path) return "";
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

void FreeLink(EncError* e) {
    AlignedFree(e->source);
    AlignedFree(e->context);
    AlignedFree(e->message);
    AlignedFree(e);
}
}  // namespace

const EncError* OutOfMemoryError() { return &g_outOfMemory; }

EncError* ErrorCreate(const char* sourcePath, int line, const char* context, const char* format, ...) {
    char text[200] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    auto* e = static_cast<EncError*>(AlignedCalloc(1, sizeof(EncError), __FILE__, __LINE__));
    if (!e) return &g_outOfMemory;
    e->line = line;
    e->source = CopyText(BaseName(sourcePath));
    e->context = CopyText(context);
    e->message = CopyText(text);
    if (!e->source || !e->message || (context && !e->context)) {
        FreeLink(e);
        return &g_outOfMemory;
    }
    return e;
}

EncError* ErrorChain(const char* sourcePath, int line, const char* context, EncError* error) {
    if (!error || error == &g_outOfMemory) return error;
    auto* link = static_cast<EncError*>(AlignedCalloc(1, sizeof(EncError), __FILE__, __LINE__));
    if (!link) return error;
    link->line = line;
    link->source = CopyText(BaseName(sourcePath));
    link->context = CopyText(context);
    if (!link->source || (context && !link->context)) {
        FreeLink(link);
        return error;
    }
    EncError* last = error;
    while (last->next) last = last->next;
    last->next = link;
    return error;
}

void ErrorFree(EncError* error) {
    while (error && error != &g_outOfMemory) {
        EncError* next = error->next;
        FreeLink(error);
        error = next;
    }
}

void FatalError(const char* text, const char* sourcePath, int line) {
    std::fprintf(stderr, "\a##########\nfatal error: %s in file %s, %d", text ? text : "", sourcePath ? sourcePath : "",
                 line);
    std::fprintf(stderr, "\nThis is a program design failure - Aborting.\n##########\n");
    std::exit(20);
}
