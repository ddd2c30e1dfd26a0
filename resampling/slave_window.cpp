#include "resampling/slave_window.h"

#include <algorithm>
#include <cmath>
#include <cstring>

SlaveWindow::SlaveWindow(SlaveLineSource& source, const DopplerModel& doppler)
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
        for (std::size_t i = 0; i < static_cast<std::size_t>(stop - l) * w; i++)
            no_data_ += std::isfinite(to[i].real()) && std::isfinite(to[i].imag()) ? 0 : 1;
        for (int k = l; k < stop; k++)
            doppler_.demodulate_line(to + static_cast<std::size_t>(k - l) * w, k, width_);
        l = stop;
    }
    data_ = std::move(next);
    first_ = first;
    count_ = end - first;
}
