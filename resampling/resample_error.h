#pragma once

#include "params/progress.h"

#include <stdexcept>
#include <string>

// A failure of a resampling or interferogram run: one line naming the file.
class ResampleError : public std::runtime_error {
public:
    explicit ResampleError(const std::string& message) : std::runtime_error(message) {}
};
