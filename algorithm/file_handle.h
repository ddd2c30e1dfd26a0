#pragma once

#include <cstdio>
#include <memory>
#include <string>

// A standard file stream closed when its owner goes out of scope, so every
// stage closes what it opened on every path.
struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr)
            std::fclose(f);
    }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

inline FileHandle open_file(const std::string& path, const char* mode) {
    return FileHandle(std::fopen(path.c_str(), mode));
}
