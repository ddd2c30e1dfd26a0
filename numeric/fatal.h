#pragma once

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
