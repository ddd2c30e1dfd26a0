#pragma once

#include <stdexcept>

// How a long computation tells its caller how far it got, and learns that
// the caller wants it to stop. Each entry point shows the progress its own
// way (the host's signal, a terminal bar, a Python callback).
class Progress {
public:
    virtual ~Progress() = default;
    // Percent done, from 0 to 100.
    virtual void progress(double percent) = 0;
    // True once the caller wants the computation to stop; asked between
    // pieces of work (stage 1: before each position; the resampler: between
    // blocks of lines; the interferogram: about every 64 rows).
    virtual bool cancelled() { return false; }
};

// What the resampler and the interferogram throw when their Progress was
// cancelled: they stop, and what they were writing is removed.
class Cancelled : public std::runtime_error {
public:
    Cancelled() : std::runtime_error("cancelled") {}
};
