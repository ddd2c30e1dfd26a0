#include "numeric/grid_filter.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

double median_of(std::vector<double>& v) {
    const std::size_t middle = v.size() / 2;
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(middle), v.end());
    const double upper = v[middle];
    if (v.size() % 2 == 1)
        return upper;
    return 0.5 *
           (upper + *std::max_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(middle)));
}

std::size_t at(int row, int column, int columns) {
    return static_cast<std::size_t>(row) * static_cast<std::size_t>(columns) +
           static_cast<std::size_t>(column);
}

// First guesses for the NaN cells, grown inwards from their finite
// neighbours ring by ring, so that the relaxation below starts close to
// its answer even in wide holes.
void seed_gaps(std::vector<double>& grid, int rows, int columns) {
    for (bool grew = true; grew;) {
        grew = false;
        std::vector<double> next = grid;
        for (int r = 0; r < rows; r++)
            for (int c = 0; c < columns; c++) {
                if (!std::isnan(grid[at(r, c, columns)]))
                    continue;
                double sum = 0.0;
                int count = 0;
                for (int dr = -1; dr <= 1; dr++)
                    for (int dc = -1; dc <= 1; dc++) {
                        const int rr = r + dr, cc = c + dc;
                        if (rr < 0 || rr >= rows || cc < 0 || cc >= columns)
                            continue;
                        const double v = grid[at(rr, cc, columns)];
                        if (!std::isnan(v)) {
                            sum += v;
                            count++;
                        }
                    }
                if (count > 0) {
                    next[at(r, c, columns)] = sum / count;
                    grew = true;
                }
            }
        grid.swap(next);
    }
}

// Successive over-relaxation of Laplace's equation over the unknown cells,
// the known ones held fixed; at the grid's border the missing neighbours are
// left out (a zero normal derivative there).
void relax(std::vector<double>& grid, const std::vector<std::size_t>& unknown, int rows,
           int columns) {
    const int longest = std::max(rows, columns);
    const double omega = 2.0 / (1.0 + std::sin(M_PI / (longest + 1)));
    double scale = 0.0;
    for (double v : grid)
        scale = std::max(scale, std::fabs(v));
    const double tolerance = 1e-7 * std::max(scale, 1e-3);
    for (int sweep = 0; sweep < 20 * longest + 100; sweep++) {
        double largest = 0.0;
        for (std::size_t i : unknown) {
            const int r = static_cast<int>(i / static_cast<std::size_t>(columns));
            const int c = static_cast<int>(i % static_cast<std::size_t>(columns));
            double sum = 0.0;
            int count = 0;
            if (r > 0)
                sum += grid[i - static_cast<std::size_t>(columns)], count++;
            if (r + 1 < rows)
                sum += grid[i + static_cast<std::size_t>(columns)], count++;
            if (c > 0)
                sum += grid[i - 1], count++;
            if (c + 1 < columns)
                sum += grid[i + 1], count++;
            if (count == 0)
                continue;
            const double change = omega * (sum / count - grid[i]);
            grid[i] += change;
            largest = std::max(largest, std::fabs(change));
        }
        if (largest < tolerance)
            break;
    }
}

} // namespace

std::vector<char> flag_median_outliers(const std::vector<float>& values, int rows, int columns,
                                       int radius, double threshold, double minSpread) {
    std::vector<char> flags(values.size(), 0);
    std::vector<double> neighbours, deviations;
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < columns; c++) {
            const float value = values[at(r, c, columns)];
            if (!std::isfinite(value))
                continue;
            neighbours.clear();
            for (int rr = std::max(0, r - radius); rr <= std::min(rows - 1, r + radius); rr++)
                for (int cc = std::max(0, c - radius); cc <= std::min(columns - 1, c + radius);
                     cc++) {
                    const float v = values[at(rr, cc, columns)];
                    if ((rr != r || cc != c) && std::isfinite(v))
                        neighbours.push_back(v);
                }
            if (neighbours.size() < 3)
                continue;
            deviations = neighbours;
            const double median = median_of(neighbours);
            for (double& d : deviations)
                d = std::fabs(d - median);
            const double spread = std::max(1.4826 * median_of(deviations), minSpread);
            flags[at(r, c, columns)] = std::fabs(value - median) > threshold * spread ? 1 : 0;
        }
    return flags;
}

bool fill_gaps(std::vector<float>& values, int rows, int columns) {
    std::vector<double> grid(values.size());
    std::vector<std::size_t> unknown;
    bool anyKnown = false;
    for (std::size_t i = 0; i < values.size(); i++) {
        const bool known = std::isfinite(values[i]);
        grid[i] = known ? values[i] : NAN;
        anyKnown = anyKnown || known;
        if (!known)
            unknown.push_back(i);
    }
    if (!anyKnown)
        return false;
    if (unknown.empty())
        return true;
    seed_gaps(grid, rows, columns);
    relax(grid, unknown, rows, columns);
    for (std::size_t i : unknown)
        values[i] = static_cast<float>(grid[i]);
    return true;
}
