#pragma once

#include "params/progress.h"

#include <complex>
#include <cstdint>
#include <vector>

// Multi-looked interferogram and coherence, one row of looks at a time:
// over each cell of looks_az lines x looks_rg samples, ifg = sum m conj(s)
// and coherence = |sum m conj(s)| / sqrt(sum |m|^2 sum |s|^2) (0 where the
// denominator is 0). Samples beyond the last whole cell, and samples where
// the slave is exactly 0 (masked by the resampler: no slave there) or either
// image is not finite (no-data), are left out, so a cell on the slave's edge
// measures its valid samples only.
class InterferogramRows {
public:
    InterferogramRows(int width, int looks_az, int looks_rg);
    int out_width() const { return out_width_; }
    // Adds one line of master and slave; true when a row of cells is complete
    // (then in ifg() and coherence() until the next add()).
    bool add(const std::complex<float>* master, const std::complex<float>* slave);
    const std::vector<std::complex<float>>& ifg() const { return ifg_; }
    const std::vector<float>& coherence() const { return coherence_; }
    // Samples left out so far because either image was not finite there.
    std::int64_t no_data() const { return no_data_; }

private:
    int looks_az_, looks_rg_, out_width_;
    std::int64_t no_data_ = 0;
    int lines_in_row_ = 0;
    std::vector<std::complex<double>> cross_;
    std::vector<double> master_power_, slave_power_;
    std::vector<std::complex<float>> ifg_;
    std::vector<float> coherence_;
};

// Mean, median and histogram of the coherence over cells whose denominator
// is not 0, in constant memory (the median to 1/10000 from a fine histogram).
class CoherenceSummary {
public:
    void add(const float* coherence, int count);
    double mean() const;
    double median() const;
    // 20 bins of 0.05 over [0, 1]; 1.0 counts in the last.
    std::vector<std::int64_t> histogram() const;
    std::int64_t cells() const { return count_; }

private:
    static constexpr int kFine = 10000;
    std::vector<std::int64_t> fine_ = std::vector<std::int64_t>(kFine, 0);
    double sum_ = 0.0;
    std::int64_t count_ = 0;
};

// The whole in-memory computation: lines x width arrays in, (lines / looks_az)
// x (width / looks_rg) out. progress (may be null) hears of every 64 rows
// out and is asked then whether it was cancelled: Cancelled.
void interferogram_arrays(const std::complex<float>* master, const std::complex<float>* slave,
                          int lines, int width, int looks_az, int looks_rg,
                          std::complex<float>* ifg, float* coherence, Progress* progress = nullptr);
