#include "numeric/fatal.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::atomic<FatalHandler> handler{nullptr};
thread_local bool deferring = false;

[[noreturn]] void end_with(const char* message) {
    if (FatalHandler h = handler.load())
        h(message);
    std::exit(-1);
}

std::string formatted(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, again);
    va_end(again);
    std::vector<char> text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    return text.data();
}

} // namespace

void set_fatal_handler(FatalHandler h) {
    handler.store(h);
}

void fatal_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (deferring) {
        std::string message = formatted(format, args);
        va_end(args);
        throw DeferredFatal(DeferredFatal::Kind::fatal_error, std::move(message));
    }
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
    if (deferring)
        throw DeferredFatal(DeferredFatal::Kind::run_time_error, message);
    if (handler.load() != nullptr)
        end_with(message);
    std::fprintf(stderr, "\nERROR: run-time error:\n");
    std::printf("%s\n", message);
    std::exit(-1);
}

FatalDeferral::FatalDeferral() : outer_(!deferring) {
    deferring = true;
}

FatalDeferral::~FatalDeferral() {
    if (outer_)
        deferring = false;
}

void replay_fatal(const DeferredFatal& fatal) {
    const std::string& message = fatal.what();
    if (fatal.kind() == DeferredFatal::Kind::run_time_error)
        run_time_error(message.c_str());
    if (handler.load() != nullptr) // as fatal_error hands it over: at most 511 bytes
        end_with(message.substr(0, 511).c_str());
    std::fputs(message.c_str(), stderr);
    std::exit(-1);
}
