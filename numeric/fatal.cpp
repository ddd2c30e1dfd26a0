#include "numeric/fatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void fatal_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::exit(-1);
}

void run_time_error(const char* message) {
    std::fprintf(stderr, "\nERROR: run-time error:\n");
    std::printf("%s\n", message);
    std::exit(-1);
}
