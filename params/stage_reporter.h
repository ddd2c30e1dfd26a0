#pragma once

// How a stage tells its caller how far it got and why it stopped. Each entry
// point shows these its own way (the host's signal and error codes, a
// terminal bar, a Python callback or exception).
class StageReporter {
public:
    virtual ~StageReporter() = default;
    // Percent of the positions done, before each measured position.
    virtual void progress(double percent) = 0;
    // The English message of a failure, once, before the stage returns false.
    virtual void failure(const char* message) = 0;
    // True once the caller wants the run to stop; stage 1 asks before each
    // position. The host never cancels, so its runs are unchanged.
    virtual bool cancelled() { return false; }
};
