#include "numeric/fatal.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<FatalHandler> handler{nullptr};

} // namespace

void set_fatal_handler(FatalHandler h) {
    handler.store(h);
}

void fatal_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (FatalHandler h = handler.load()) {
        char message[512];
        std::vsnprintf(message, sizeof message, format, args);
        va_end(args);
        h(message);
        std::exit(-1);
    }
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::exit(-1);
}

void run_time_error(const char* message) {
    if (FatalHandler h = handler.load()) {
        h(message);
        std::exit(-1);
    }
    std::fprintf(stderr, "\nERROR: run-time error:\n");
    std::printf("%s\n", message);
    std::exit(-1);
}
