#pragma once

// The single fatal path of the numerical layer. Every message that ends the
// process goes through here so its text, stream and exit status stay fixed.

// Writes the formatted message to standard error and ends the process with
// exit status -1.
[[noreturn]] void fatal_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes "\nERROR: run-time error:\n" to standard error and the message
// followed by a newline to standard output, then ends the process with -1.
[[noreturn]] void run_time_error(const char* message);
