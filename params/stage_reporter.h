#pragma once

#include "params/progress.h"

// How a stage tells its caller how far it got and why it stopped: progress
// (percent of the positions done, before each measured position) and
// cancellation as for any long computation, and the failure. The host never
// cancels, so its runs are unchanged; a cancelled stage fails with
// "Run cancelled !".
class StageReporter : public Progress {
public:
    // The English message of a failure, once, before the stage returns false.
    virtual void failure(const char* message) = 0;
};
