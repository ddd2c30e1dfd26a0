#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <sys/stat.h>

// A standard file stream closed when its owner goes out of scope, so every
// stage closes what it opened on every path.
struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr)
            std::fclose(f);
    }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// A directory opens for reading on POSIX systems but yields only read
// errors (and a bogus size): it is refused like a file that cannot be opened.
inline FileHandle open_file(const std::string& path, const char* mode) {
    FileHandle file(std::fopen(path.c_str(), mode));
    struct stat st;
    if (file && ::fstat(::fileno(file.get()), &st) == 0 && S_ISDIR(st.st_mode))
        file.reset();
    return file;
}
