#pragma once

#include "params/file_error.h"

#include <stdexcept>
#include <string>

// Progress of a long run, percent from 0 to 100.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    virtual void progress(double percent) = 0;
};
