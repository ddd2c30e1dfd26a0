#include "resampling/slave_window.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// count lines from slave line `first` on, times exp(-i 2 pi f l) each.
void demodulate(std::complex<float>* samples, int first, int count, int width, double f) {
    if (f == 0.0)
        return;
    for (int l = first; l < first + count; l++) {
        // The phase reduced to one cycle in double precision first, so a
        // line far down a long image keeps its exact phase.
        const double cycles = f * l;
        const std::complex<float> phasor(
            std::polar(1.0, -2.0 * M_PI * (cycles - std::floor(cycles))));
        std::complex<float>* line = samples + static_cast<std::size_t>(l - first) * width;
        for (int c = 0; c < width; c++)
            line[c] *= phasor;
    }
}

} // namespace

SlaveWindow::SlaveWindow(SlaveLineSource& source, double doppler)
    : source_(source), doppler_(doppler), width_(source.width()) {}

void SlaveWindow::cover(int first, int end) {
    first = std::max(first, 0);
    end = std::max(first, std::min(end, source_.lines()));
    if (first >= first_ && end <= first_ + count_)
        return;
    const std::size_t w = static_cast<std::size_t>(width_);
    std::vector<std::complex<float>> next(static_cast<std::size_t>(end - first) * w);
    // Lines already held are moved, the rest read.
    const int keep_first = std::max(first, first_);
    const int keep_end = std::min(end, first_ + count_);
    for (int l = first; l < end;) {
        std::complex<float>* to = &next[static_cast<std::size_t>(l - first) * w];
        if (l >= keep_first && l < keep_end) {
            std::memcpy(static_cast<void*>(to), line(l),
                        static_cast<std::size_t>(keep_end - l) * w * sizeof(next[0]));
            l = keep_end;
            continue;
        }
        const int stop = l < keep_first ? std::min(end, keep_first) : end;
        source_.read(l, stop - l, to);
        demodulate(to, l, stop - l, width_, doppler_);
        l = stop;
    }
    data_ = std::move(next);
    first_ = first;
    count_ = end - first;
}
