#include "progress_reporter.h"

#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace {

constexpr int kBarWidth = 30;
// Redraws: on a change of the shown tenth of a percent, but not more often
// than kMinRedraw; otherwise every kMaxRedraw to keep the time left fresh.
constexpr std::chrono::milliseconds kMinRedraw(50);
constexpr std::chrono::milliseconds kMaxRedraw(250);

} // namespace

std::string format_duration(long seconds) {
    char text[32];
    if (seconds >= 3600)
        std::snprintf(text, sizeof(text), "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    else
        std::snprintf(text, sizeof(text), "%ld:%02ld", seconds / 60, seconds % 60);
    return text;
}

ProgressReporter::ProgressReporter(Style style, std::FILE* out) : style_(style), out_(out) {}

std::string ProgressReporter::time_left(double percent) const {
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    // The first percent and the first second say too little about the rate.
    if (percent < 1.0 || elapsed < 1.0)
        return {};
    const double left = elapsed * (100.0 - percent) / percent;
    return format_duration(std::lround(std::max(left, 0.0)));
}

void ProgressReporter::update(double percent) {
    if (style_ == Style::None || !(percent < 100.0))
        return;
    if (!(percent > 0.0))
        percent = 0.0;
    if (!started_) {
        started_ = true;
        start_ = Clock::now();
    }
    if (style_ == Style::Lines) {
        const int tenth = static_cast<int>(percent / 10.0);
        if (tenth <= lastTenth_)
            return;
        lastTenth_ = tenth;
        const std::string left = time_left(percent);
        if (left.empty())
            std::fprintf(out_, "finecoreg: %d%% done\n", tenth * 10);
        else
            std::fprintf(out_, "finecoreg: %d%% done, about %s left\n", tenth * 10, left.c_str());
        std::fflush(out_);
        return;
    }
    const int permille = static_cast<int>(percent * 10.0);
    const Clock::time_point now = Clock::now();
    const auto sinceDraw = now - lastDraw_;
    if (barShown_ && sinceDraw < kMaxRedraw &&
        (permille == lastShownPermille_ || sinceDraw < kMinRedraw))
        return;
    lastShownPermille_ = permille;
    lastDraw_ = now;
    draw(percent);
}

void ProgressReporter::draw(double percent) {
    const int filled = static_cast<int>(percent / 100.0 * kBarWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    // "\033[K" clears what a longer earlier line left behind.
    const std::string left = time_left(percent);
    std::fprintf(out_, "\r[%s] %5.1f%%  %s left\033[K", bar.c_str(), percent,
                 left.empty() ? "--:--" : left.c_str());
    std::fflush(out_);
    barShown_ = true;
}

void ProgressReporter::clear_line() {
    if (style_ != Style::Bar || !barShown_)
        return;
    std::fprintf(out_, "\r\033[K");
    std::fflush(out_);
    barShown_ = false;
}

void ProgressReporter::finish(bool completed) {
    if (style_ == Style::Lines && completed) {
        std::fprintf(out_, "finecoreg: 100%% done\n");
        std::fflush(out_);
    }
    if (style_ != Style::Bar)
        return;
    if (completed)
        draw(100.0);
    if (barShown_) {
        std::fprintf(out_, "\n");
        std::fflush(out_);
        barShown_ = false;
    }
}

ProgressReporter::Style progress_style(bool quiet) {
    if (quiet)
        return ProgressReporter::Style::None;
    return ::isatty(STDERR_FILENO) ? ProgressReporter::Style::Bar : ProgressReporter::Style::Lines;
}
