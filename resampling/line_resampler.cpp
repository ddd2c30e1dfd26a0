#include "resampling/line_resampler.h"

#include "params/offset_par.h"
#include "resampling/resample_error.h"
#include "resampling/weighted_sum.h"

#include <algorithm>
#include <cmath>

LineResampler::LineResampler(const OffsetModel& offsets, int master_width, const SincKernel& kernel,
                             const DopplerModel& doppler)
    : offsets_(offsets), width_(master_width), table_(kernel, false), taps_(kernel.taps()),
      first_tap_(kernel.first_tap()), doppler_(doppler),
      xs_(static_cast<std::size_t>(master_width) + 2),
      ys_(static_cast<std::size_t>(master_width) + 2) {}

void LineResampler::lines_needed(int y_begin, int y_end, int* first, int* end) const {
    // The azimuth positions of the columns a line reads lie within those of
    // master x from -taps to width + taps. Polynomials are smooth: a lattice
    // every 32 samples and every line bounds them, a line of margin covers
    // the rest. A field's cubic may bend between lattice points: every
    // sample then.
    double lo = 0.0, hi = 0.0;
    bool any = false;
    const auto take = [&](double ya) {
        lo = any ? std::min(lo, ya) : ya;
        hi = any ? std::max(hi, ya) : ya;
        any = true;
    };
    if (offsets_.field) {
        const int count = width_ + 2 * taps_ + 1;
        std::vector<double> xs(static_cast<std::size_t>(count)), ys(xs.size());
        FieldLineScratch scratch;
        for (int y = y_begin; y < y_end; y++) {
            ::slave_positions(offsets_, y, -taps_, count, xs.data(), ys.data(), &scratch);
            for (double ya : ys)
                take(ya);
        }
    } else {
        for (int y = y_begin; y < y_end; y++)
            for (int x = -taps_;; x = std::min(x + 32, width_ + taps_)) {
                take(y + eval_offset_poly(offsets_.polynomials.azimuth, x, y));
                if (x == width_ + taps_)
                    break;
            }
    }
    constexpr double kLimit = 1.0e9;
    if (!any || !(lo > -kLimit && hi < kLimit)) {
        *first = *end = 0;
        return;
    }
    *first = static_cast<int>(std::floor(lo)) + first_tap_ - 1;
    *end = static_cast<int>(std::floor(hi)) + first_tap_ + taps_ + 1;
}

void LineResampler::slave_positions(int y) {
    ::slave_positions(offsets_, y, -1, width_ + 2, xs_.data(), ys_.data(), &field_scratch_);
    for (int i = 1; i < width_ + 2; i++)
        if (!(xs_[static_cast<std::size_t>(i)] > xs_[static_cast<std::size_t>(i - 1)]))
            throw std::runtime_error(std::string("the range offset ") +
                                     (offsets_.field ? "field" : "polynomial") +
                                     " folds master line " + std::to_string(y) +
                                     " onto itself near sample " + std::to_string(i - 1));
}

void LineResampler::interpolate_columns(const SlaveWindow& slave, int slave_width,
                                        int slave_lines) {
    constexpr double kLimit = 1.0e9;
    const double x_first = xs_[1], x_last = xs_[static_cast<std::size_t>(width_)];
    column_begin_ =
        x_first > -kLimit ? std::max(0, static_cast<int>(std::floor(x_first)) + first_tap_) : 0;
    column_end_ =
        x_last < kLimit
            ? std::min(slave_width, static_cast<int>(std::floor(x_last)) + first_tap_ + taps_)
            : slave_width;
    column_end_ = std::max(column_end_, column_begin_);
    const std::size_t n = static_cast<std::size_t>(column_end_ - column_begin_);
    along_curve_.assign(n, {0.0f, 0.0f});
    outside_before_.assign(n + 1, 0);
    // The master x that maps onto column c, walked along the (increasing)
    // slave range positions; the curve's line there by linear interpolation
    // between neighbouring master samples (the offsets' curvature over one
    // sample is far below a thousandth of a line).
    std::size_t k = 0;
    const std::size_t last_pair = static_cast<std::size_t>(width_) + 1;
    for (int c = column_begin_; c < column_end_; c++) {
        while (k + 1 < last_pair && xs_[k + 1] <= c)
            k++;
        const double t = (c - xs_[k]) / (xs_[k + 1] - xs_[k]);
        const double ya = ys_[k] + t * (ys_[k + 1] - ys_[k]);
        const std::size_t i = static_cast<std::size_t>(c - column_begin_);
        const double whole = std::floor(ya);
        const int first =
            whole > -kLimit && whole < kLimit ? static_cast<int>(whole) + first_tap_ : -1;
        const bool inside = first >= 0 && first + taps_ <= slave_lines;
        outside_before_[i + 1] = outside_before_[i] + (inside ? 0 : 1);
        if (!inside)
            continue;
        if (first < slave.first() || first + taps_ > slave.end())
            throw std::logic_error("internal error: slave line " + std::to_string(first) +
                                   " not held for the line being resampled");
        std::complex<float> v =
            weighted_sum(slave.line(first) + c, slave_width, table_.at(ya - whole), taps_);
        if (!doppler_.is_none())
            v *= unit_phasor(doppler_.phase_cycles(c, ya));
        along_curve_[i] = v;
    }
}

long LineResampler::resample(int y, const SlaveWindow& slave, int slave_width, int slave_lines,
                             std::complex<float>* out, unsigned char* mask) {
    slave_positions(y);
    interpolate_columns(slave, slave_width, slave_lines);
    constexpr double kLimit = 1.0e9;
    long masked = 0;
    for (int x = 0; x < width_; x++) {
        const double p = xs_[static_cast<std::size_t>(x) + 1];
        const double whole = std::floor(p);
        const int c0 =
            whole > -kLimit && whole < kLimit ? static_cast<int>(whole) + first_tap_ : -1;
        const bool inside = c0 >= column_begin_ && c0 + taps_ <= column_end_ &&
                            outside_before_[static_cast<std::size_t>(c0 + taps_ - column_begin_)] ==
                                outside_before_[static_cast<std::size_t>(c0 - column_begin_)];
        if (!inside) {
            out[x] = {0.0f, 0.0f};
            mask[x] = 1;
            masked++;
            continue;
        }
        out[x] = weighted_sum(&along_curve_[static_cast<std::size_t>(c0 - column_begin_)], 1,
                              table_.at(p - whole), taps_);
        mask[x] = 0;
    }
    return masked;
}
