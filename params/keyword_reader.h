#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <memory>

// Keyword/value parameter text: the whole file in one zero-terminated buffer,
// searched anew for every keyword (first occurrence anywhere wins).

// Loads an already opened stream into a new buffer of length + 1 zero-filled
// bytes (released with std::free). *length receives the file size.
char* read_par_text(std::FILE* stream, int* length);

// The same text with an owner that releases it.
struct ParTextRelease {
    void operator()(char* text) const { std::free(text); }
};
using ParText = std::unique_ptr<char, ParTextRelease>;
inline ParText load_par_text(std::FILE* stream, int* length) {
    return ParText(read_par_text(stream, length));
}

// Each reader returns 0 on success and -1 after printing its warning on
// standard output. rd_str copies at most value_size - 1 bytes and always
// terminates; the other readers' values are truncated to their scratch.
int rd_str(const char* text, int length, const char* keyword, char* value, std::size_t value_size);
int rd_int(const char* text, int length, const char* keyword, int* value);
int rd_dbl(const char* text, int length, const char* keyword, double* value);
int rd_vec(const char* text, int length, const char* keyword, double* values, int count);

// The value bytes after the keyword's first occurrence, found as the readers
// above find them but without their warnings; false when it does not occur.
bool find_keyword_value(const char* text, int length, const char* keyword, const char** value,
                        std::size_t* size);
