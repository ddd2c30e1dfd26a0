#pragma once

#include <stdexcept>
#include <string>

// A failure that concerns one file: what() is "<file>: <problem>", so every
// entry point prints one line naming it, and a binding can hand both parts
// on (Python's finecoreg.Error carries them as attributes).
class FileError : public std::runtime_error {
public:
    FileError(const std::string& file, const std::string& problem)
        : std::runtime_error(file.empty() ? problem : file + ": " + problem), file_(file),
          problem_(problem) {}
    const std::string& file() const noexcept { return file_; }
    const std::string& problem() const noexcept { return problem_; }

private:
    std::string file_;
    std::string problem_;
};
