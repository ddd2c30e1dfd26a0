#include "offset_compare.h"

#include "params/offset_par.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// Lattice positions per direction the comparison aims at: dense enough
// that the largest difference of two quadratics is found to well under a
// thousandth of a sample, cheap for any image size.
constexpr int kLatticeTarget = 512;

// Positions 0, step, 2 step, ... and the last one, size - 1.
std::vector<int> lattice(int size, int step) {
    std::vector<int> positions;
    for (int p = 0; p < size; p += step)
        positions.push_back(p);
    if (positions.back() != size - 1)
        positions.push_back(size - 1);
    return positions;
}

void append_row(std::string* out, const char* label, const char* which, const double c[6]) {
    char line[160];
    std::snprintf(line, sizeof line, "  %-8s %-6s %12.5f %12.4e %12.4e %12.4e %12.4e %12.4e\n",
                  label, which, c[0], c[1], c[2], c[3], c[4], c[5]);
    *out += line;
}

} // namespace

OffsetDifference compare_offsets(const OffsetPolynomials& fitted, const OffsetPolynomials& truth,
                                 int width, int lines) {
    OffsetDifference d;
    d.step = std::max(1, (std::max(width, lines) + kLatticeTarget - 1) / kLatticeTarget);
    double range_sum = 0.0;
    double azimuth_sum = 0.0;
    const std::vector<int> xs = lattice(width, d.step);
    const std::vector<int> ys = lattice(lines, d.step);
    for (int y : ys)
        for (int x : xs) {
            const double dr =
                eval_offset_poly(fitted.range, x, y) - eval_offset_poly(truth.range, x, y);
            const double da =
                eval_offset_poly(fitted.azimuth, x, y) - eval_offset_poly(truth.azimuth, x, y);
            d.range_max = std::max(d.range_max, std::fabs(dr));
            d.azimuth_max = std::max(d.azimuth_max, std::fabs(da));
            range_sum += dr * dr;
            azimuth_sum += da * da;
        }
    d.columns = static_cast<int>(xs.size());
    d.rows = static_cast<int>(ys.size());
    const double points = static_cast<double>(d.columns) * d.rows;
    d.range_rms = std::sqrt(range_sum / points);
    d.azimuth_rms = std::sqrt(azimuth_sum / points);
    return d;
}

std::string format_comparison(const OffsetPolynomials& fitted, const OffsetPolynomials& truth,
                              const OffsetDifference& difference, int width, int lines) {
    char text[400];
    std::snprintf(text, sizeof text, "%-18s %12s %12s %12s %12s %12s %12s\n", "offset polynomials",
                  "1", "x", "y", "x*y", "x^2", "y^2");
    std::string out = text;
    append_row(&out, "range", "true", truth.range);
    append_row(&out, "", "fitted", fitted.range);
    append_row(&out, "azimuth", "true", truth.azimuth);
    append_row(&out, "", "fitted", fitted.azimuth);
    std::snprintf(text, sizeof text,
                  "fitted - true over the %d x %d image (lattice of %d x %d positions, %d apart):\n"
                  "  range    largest %.4f  rms %.4f samples\n"
                  "  azimuth  largest %.4f  rms %.4f lines\n"
                  "largest difference: %.4f samples\n",
                  width, lines, difference.columns, difference.rows, difference.step,
                  difference.range_max, difference.range_rms, difference.azimuth_max,
                  difference.azimuth_rms, std::max(difference.range_max, difference.azimuth_max));
    return out + text;
}
