#pragma once

// One scratch file per fuzzer process, rewritten for every input: the readers
// under test take a path or a stream opened on a real file.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

class FuzzScratchFile {
public:
    explicit FuzzScratchFile(const char* suffix) {
        const char* dir = std::getenv("TMPDIR");
        std::string pattern =
            std::string(dir != nullptr ? dir : "/tmp") + "/fc_fuzz_XXXXXX" + suffix;
        const int fd = ::mkstemps(pattern.data(), static_cast<int>(std::string(suffix).size()));
        if (fd < 0) {
            std::perror("mkstemps");
            std::abort();
        }
        ::close(fd);
        path_ = pattern;
    }
    ~FuzzScratchFile() { std::remove(path_.c_str()); }
    FuzzScratchFile(const FuzzScratchFile&) = delete;
    FuzzScratchFile& operator=(const FuzzScratchFile&) = delete;

    const std::string& path() const { return path_; }

    // Replaces the file's content with the given bytes.
    void write(const void* data, std::size_t size) const {
        std::FILE* f = std::fopen(path_.c_str(), "wb");
        if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) {
            std::perror(path_.c_str());
            std::abort();
        }
    }

private:
    std::string path_;
};
