#include "resampling/doppler_model.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

constexpr int kPhaseSteps = 4096;

const std::vector<std::complex<float>>& phasor_table() {
    static const std::vector<std::complex<float>> table = [] {
        std::vector<std::complex<float>> t(kPhaseSteps);
        for (int k = 0; k < kPhaseSteps; k++)
            t[static_cast<std::size_t>(k)] =
                std::complex<float>(std::polar(1.0, 2.0 * M_PI * k / kPhaseSteps));
        return t;
    }();
    return table;
}

} // namespace

std::complex<float> unit_phasor(double cycles) {
    const int step = static_cast<int>((cycles - std::floor(cycles)) * kPhaseSteps + 0.5);
    return phasor_table()[static_cast<std::size_t>(step & (kPhaseSteps - 1))];
}

DopplerModel::DopplerModel(double constant) : constantValue_(constant) {}

DopplerModel::DopplerModel(std::vector<double> nodeLines, std::vector<double> nodeCentroids,
                           std::array<double, 3> rangeTerms)
    : nodeLines_(std::move(nodeLines)), nodeCentroids_(std::move(nodeCentroids)),
      rangeTerms_(rangeTerms) {
    constant_ = nodeLines_.size() < 2;
    constantValue_ = nodeCentroids_.empty() ? 0.0 : nodeCentroids_.front();
    if (constant_)
        return;
    // The phase at each node, integrating the linear pieces from line 0.
    nodePhases_.assign(nodeLines_.size(), 0.0);
    for (std::size_t k = 1; k < nodeLines_.size(); k++)
        nodePhases_[k] = nodePhases_[k - 1] + 0.5 * (nodeCentroids_[k - 1] + nodeCentroids_[k]) *
                                                  (nodeLines_[k] - nodeLines_[k - 1]);
    const double at_zero = azimuth_phase(0.0);
    for (double& p : nodePhases_)
        p -= at_zero;
}

bool DopplerModel::has_range_terms() const {
    return rangeTerms_[0] != 0.0 || rangeTerms_[1] != 0.0 || rangeTerms_[2] != 0.0;
}

double DopplerModel::range_centroid(double x) const {
    return x * (rangeTerms_[0] + x * (rangeTerms_[1] + x * rangeTerms_[2]));
}

DopplerModel::Segment DopplerModel::segment(double y) const {
    // The piece holding y, the end pieces extended beyond the nodes.
    const std::size_t upper = static_cast<std::size_t>(
        std::upper_bound(nodeLines_.begin(), nodeLines_.end(), y) - nodeLines_.begin());
    const std::size_t k = std::min(std::max<std::size_t>(upper, 1), nodeLines_.size() - 1) - 1;
    return {k, (nodeCentroids_[k + 1] - nodeCentroids_[k]) / (nodeLines_[k + 1] - nodeLines_[k])};
}

double DopplerModel::azimuth_centroid(double y) const {
    if (constant_)
        return constantValue_;
    const Segment s = segment(y);
    return nodeCentroids_[s.node] + s.slope * (y - nodeLines_[s.node]);
}

double DopplerModel::azimuth_phase(double y) const {
    if (constant_)
        return constantValue_ * y;
    const Segment s = segment(y);
    const double d = y - nodeLines_[s.node];
    return nodePhases_[s.node] + d * (nodeCentroids_[s.node] + 0.5 * s.slope * d);
}

double DopplerModel::centroid(double x, double y) const {
    return azimuth_centroid(y) + range_centroid(x);
}

double DopplerModel::phase_cycles(double x, double y) const {
    return azimuth_phase(y) + range_centroid(x) * y;
}

void DopplerModel::demodulate_line(std::complex<float>* samples, int line, int width) const {
    const double base = azimuth_phase(line);
    if (!has_range_terms()) {
        if (base == 0.0)
            return;
        // Reduced to one cycle in double precision first, so a line far down
        // a long image keeps its exact phase.
        const std::complex<float> phasor(std::polar(1.0, -2.0 * M_PI * (base - std::floor(base))));
        for (int c = 0; c < width; c++)
            samples[c] *= phasor;
        return;
    }
    for (int c = 0; c < width; c++)
        samples[c] *= std::conj(unit_phasor(base + range_centroid(c) * line));
}

void DopplerModel::extent(int width, int lines, double* lowest, double* highest) const {
    *lowest = *highest = centroid(0.0, 0.0);
    const int last_x = std::max(0, width - 1), last_y = std::max(0, lines - 1);
    auto take = [&](double x, double y) {
        const double f = centroid(x, y);
        *lowest = std::min(*lowest, f);
        *highest = std::max(*highest, f);
    };
    // The azimuth part is extreme at the ends or the nodes, the range
    // polynomial (cubic at most) at the ends or its turning points, all
    // within a sampling of every 16th sample and each node.
    std::vector<double> ys{0.0, static_cast<double>(last_y)};
    for (double n : nodeLines_)
        if (n > 0.0 && n < last_y)
            ys.push_back(n);
    for (double y : ys)
        for (int x = 0;; x = std::min(x + 16, last_x)) {
            take(x, y);
            if (x == last_x)
                break;
        }
}
