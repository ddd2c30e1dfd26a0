#pragma once

#include <exception>
#include <string>

// The single fatal path of the numerical layer. Every message that ends the
// process goes through here so its text, stream and exit status stay fixed.

// What a fatal error does instead of ending the process: a binding that must
// not end its interpreter installs one that throws. It receives the message
// and must not return; if it does, the process ends as without one.
using FatalHandler = void (*)(const char* message);

// Installs handler for every later fatal error; nullptr restores the default
// (the message on the standard streams, then exit status -1). The plug-in
// never installs one.
void set_fatal_handler(FatalHandler handler);

// Writes the formatted message to standard error and ends the process with
// exit status -1.
[[noreturn]] void fatal_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes "\nERROR: run-time error:\n" to standard error and the message
// followed by a newline to standard output, then ends the process with -1.
[[noreturn]] void run_time_error(const char* message);

// A fatal error met on a worker thread, held until the thread that owns the
// run replays it: a worker must neither end the process under the others
// nor print ahead of the output that comes before it.
class DeferredFatal : public std::exception {
public:
    enum class Kind { fatal_error, run_time_error };
    DeferredFatal(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    Kind kind() const { return kind_; }

private:
    Kind kind_;
    std::string message_;
};

// While one is alive on a thread, a fatal error on that thread throws
// DeferredFatal instead of printing, calling the handler or exiting.
class FatalDeferral {
public:
    FatalDeferral();
    ~FatalDeferral();
    FatalDeferral(const FatalDeferral&) = delete;
    FatalDeferral& operator=(const FatalDeferral&) = delete;

private:
    bool outer_;
};

// Does on this thread what the deferred error would have done where it was
// met: the same streams and bytes, the handler, or exit status -1.
[[noreturn]] void replay_fatal(const DeferredFatal& fatal);
