#pragma once

#include <stdexcept>
#include <string>

// A failure of a resampling or interferogram run: one line naming the file.
class ResampleError : public std::runtime_error {
public:
    explicit ResampleError(const std::string& message) : std::runtime_error(message) {}
};

// Progress of a long run, percent from 0 to 100.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void progress(double percent) = 0;
};
