#include "resampling/interferogram.h"

#include <algorithm>
#include <cmath>

InterferogramRows::InterferogramRows(int width, int looks_az, int looks_rg)
    : looks_az_(looks_az), looks_rg_(looks_rg), out_width_(width / looks_rg),
      cross_(static_cast<std::size_t>(out_width_)), master_power_(cross_.size()),
      slave_power_(cross_.size()), ifg_(cross_.size()), coherence_(cross_.size()) {}

bool InterferogramRows::add(const std::complex<float>* master, const std::complex<float>* slave) {
    if (lines_in_row_ == 0) {
        std::fill(cross_.begin(), cross_.end(), 0.0);
        std::fill(master_power_.begin(), master_power_.end(), 0.0);
        std::fill(slave_power_.begin(), slave_power_.end(), 0.0);
    }
    for (int cell = 0; cell < out_width_; cell++) {
        std::complex<double> cross = 0.0;
        double pm = 0.0, ps = 0.0;
        for (int k = cell * looks_rg_; k < (cell + 1) * looks_rg_; k++) {
            const std::complex<double> m(master[k]), s(slave[k]);
            if (s == 0.0)
                continue; // masked: outside the slave, no measurement
            if (!std::isfinite(std::norm(m)) || !std::isfinite(std::norm(s))) {
                no_data_++; // no-data in either image
                continue;
            }
            cross += m * std::conj(s);
            pm += std::norm(m);
            ps += std::norm(s);
        }
        const std::size_t i = static_cast<std::size_t>(cell);
        cross_[i] += cross;
        master_power_[i] += pm;
        slave_power_[i] += ps;
    }
    if (++lines_in_row_ < looks_az_)
        return false;
    lines_in_row_ = 0;
    for (std::size_t i = 0; i < cross_.size(); i++) {
        const double denominator = std::sqrt(master_power_[i] * slave_power_[i]);
        ifg_[i] = std::complex<float>(cross_[i]);
        coherence_[i] = denominator > 0.0
                            ? static_cast<float>(std::min(1.0, std::abs(cross_[i]) / denominator))
                            : 0.0f;
    }
    return true;
}

void CoherenceSummary::add(const float* coherence, int count) {
    for (int i = 0; i < count; i++) {
        if (!(coherence[i] > 0.0f))
            continue;
        const int bin = std::min(kFine - 1, static_cast<int>(coherence[i] * kFine));
        fine_[static_cast<std::size_t>(bin)]++;
        sum_ += coherence[i];
        count_++;
    }
}

double CoherenceSummary::mean() const {
    return count_ > 0 ? sum_ / count_ : 0.0;
}

double CoherenceSummary::median() const {
    if (count_ == 0)
        return 0.0;
    std::int64_t seen = 0;
    for (int bin = 0; bin < kFine; bin++) {
        seen += fine_[static_cast<std::size_t>(bin)];
        if (2 * seen >= count_)
            return (bin + 0.5) / kFine;
    }
    return 1.0;
}

std::vector<std::int64_t> CoherenceSummary::histogram() const {
    std::vector<std::int64_t> bins(20, 0);
    for (int bin = 0; bin < kFine; bin++)
        bins[static_cast<std::size_t>(bin / (kFine / 20))] += fine_[static_cast<std::size_t>(bin)];
    return bins;
}

void interferogram_arrays(const std::complex<float>* master, const std::complex<float>* slave,
                          int lines, int width, int looks_az, int looks_rg,
                          std::complex<float>* ifg, float* coherence, Progress* progress) {
    InterferogramRows rows(width, looks_az, looks_rg);
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t out_w = static_cast<std::size_t>(rows.out_width());
    const std::size_t out_rows = static_cast<std::size_t>(lines / looks_az);
    std::size_t row = 0;
    if (progress != nullptr)
        progress->progress(0.0);
    for (int y = 0; y < lines / looks_az * looks_az; y++) {
        if (!rows.add(master + y * w, slave + y * w))
            continue;
        std::copy(rows.ifg().begin(), rows.ifg().end(), ifg + row * out_w);
        std::copy(rows.coherence().begin(), rows.coherence().end(), coherence + row * out_w);
        row++;
        if (progress != nullptr && (row % 64 == 0 || row == out_rows)) {
            progress->progress(100.0 * static_cast<double>(row) / static_cast<double>(out_rows));
            if (row < out_rows && progress->cancelled())
                throw Cancelled();
        }
    }
}
