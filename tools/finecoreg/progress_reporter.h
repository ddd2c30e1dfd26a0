#pragma once

#include "params/progress.h"

#include <chrono>
#include <cstdio>
#include <string>

// Shows the module's progress on a stream: a redrawn bar with the percentage
// and the estimated time left on a terminal, else one line per ten percent.
class ProgressReporter {
public:
    enum class Style { None, Bar, Lines };

    ProgressReporter(Style style, std::FILE* out);

    // Percent from the module's progress signal, 0 to 100. The module also
    // signals 100 after a failed run, so 100 is shown by finish() only.
    void update(double percent);
    // Takes the bar off the terminal line so other output starts clean; the
    // next update draws it again.
    void clear_line();
    // Shows 100 percent if the run completed, and ends the bar's line.
    void finish(bool completed);

private:
    using Clock = std::chrono::steady_clock;

    // Estimated time left as m:ss, empty while too early to tell.
    std::string time_left(double percent) const;
    void draw(double percent);

    Style style_;
    std::FILE* out_;
    Clock::time_point start_{};
    Clock::time_point lastDraw_{};
    bool started_ = false;
    bool barShown_ = false;
    int lastTenth_ = 0;
    int lastShownPermille_ = -1;
};

// Formats seconds as m:ss, or h:mm:ss from an hour on.
std::string format_duration(long seconds);

// The library's progress on the reporter: the terminal's bar, or a line per
// ten percent.
class ReporterSink : public Progress {
public:
    explicit ReporterSink(ProgressReporter& reporter) : reporter_(reporter) {}
    void progress(double percent) override { reporter_.update(percent); }

private:
    ProgressReporter& reporter_;
};

// None when quiet, else a bar on a terminal and lines otherwise.
ProgressReporter::Style progress_style(bool quiet);
