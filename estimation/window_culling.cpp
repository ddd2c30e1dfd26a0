#include "estimation/window_culling.h"

#include "numeric/grid_filter.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

bool is(const DenseOffsets& f, std::size_t cell, WindowState state) {
    return f.state(cell) == state;
}

void reject(DenseOffsets& f, std::size_t cell, WindowState state) {
    f.mask[cell] = static_cast<unsigned char>(state);
    f.offsets.range[cell] = f.offsets.azimuth[cell] = std::nanf("");
    f.rangeSigma[cell] = f.azimuthSigma[cell] = std::nanf("");
}

double median(std::vector<float> values) {
    if (values.empty())
        return std::nan("");
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// Grid distance (the larger of the row and column distances) of every cell
// to the nearest good one, breadth first from all good cells at once.
std::vector<int> distance_to_good(const DenseOffsets& f) {
    const int rows = f.offsets.rows, columns = f.offsets.columns;
    std::vector<int> distance(f.offsets.cells(), -1);
    std::deque<std::pair<int, int>> queue;
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < columns; c++)
            if (is(f, f.offsets.index(r, c), WindowState::good)) {
                distance[f.offsets.index(r, c)] = 0;
                queue.emplace_back(r, c);
            }
    while (!queue.empty()) {
        const auto [r, c] = queue.front();
        queue.pop_front();
        const int next = distance[f.offsets.index(r, c)] + 1;
        for (int dr = -1; dr <= 1; dr++)
            for (int dc = -1; dc <= 1; dc++) {
                const int rr = r + dr, cc = c + dc;
                if (rr < 0 || rr >= rows || cc < 0 || cc >= columns)
                    continue;
                int& d = distance[f.offsets.index(rr, cc)];
                if (d < 0) {
                    d = next;
                    queue.emplace_back(rr, cc);
                }
            }
    }
    return distance;
}

} // namespace

std::pair<double, double> median_good_sigma(const DenseOffsets& f) {
    std::vector<float> range, azimuth;
    for (std::size_t k = 0; k < f.mask.size(); k++)
        if (is(f, k, WindowState::good)) {
            range.push_back(f.rangeSigma[k]);
            azimuth.push_back(f.azimuthSigma[k]);
        }
    return {median(std::move(range)), median(std::move(azimuth))};
}

void cull_windows(DenseOffsets& f, const CullSettings& s) {
    if (s.outlierRadius < 1)
        throw std::invalid_argument("the outlier radius must be at least 1");
    if (!(s.outlierThreshold > 0.0))
        throw std::invalid_argument("the outlier threshold must be positive");
    for (std::size_t k = 0; k < f.mask.size(); k++)
        if (is(f, k, WindowState::good) && !(f.snr[k] >= s.snrMin))
            reject(f, k, WindowState::low_snr);
    const auto [rangeSpread, azimuthSpread] = median_good_sigma(f);
    if (std::isnan(rangeSpread))
        return;
    const OffsetField& o = f.offsets;
    const std::vector<char> range = flag_median_outliers(
        o.range, o.rows, o.columns, s.outlierRadius, s.outlierThreshold, rangeSpread);
    const std::vector<char> azimuth = flag_median_outliers(
        o.azimuth, o.rows, o.columns, s.outlierRadius, s.outlierThreshold, azimuthSpread);
    for (std::size_t k = 0; k < f.mask.size(); k++)
        if (range[k] != 0 || azimuth[k] != 0)
            reject(f, k, WindowState::outlier);
}

bool fill_rejected(DenseOffsets& f, bool includeNoData) {
    const auto [rangeSigma, azimuthSigma] = median_good_sigma(f);
    if (std::isnan(rangeSigma))
        return false;
    OffsetField& o = f.offsets;
    // Only good windows are sources; no-data windows left unfilled get
    // their NaN back.
    fill_gaps(o.range, o.rows, o.columns);
    fill_gaps(o.azimuth, o.rows, o.columns);
    const std::vector<int> distance = distance_to_good(f);
    for (std::size_t k = 0; k < f.mask.size(); k++) {
        if (is(f, k, WindowState::good))
            continue;
        if (is(f, k, WindowState::no_data) && !includeNoData) {
            o.range[k] = o.azimuth[k] = std::nanf("");
            continue;
        }
        f.mask[k] = static_cast<unsigned char>(WindowState::filled);
        f.rangeSigma[k] = static_cast<float>(rangeSigma * (1 + distance[k]));
        f.azimuthSigma[k] = static_cast<float>(azimuthSigma * (1 + distance[k]));
    }
    return true;
}
