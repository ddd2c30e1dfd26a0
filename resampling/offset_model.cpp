#include "resampling/offset_model.h"

#include "numeric/grid_filter.h"
#include "params/file_error.h"
#include "params/offset_par.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

void check_regular(const OffsetField& f, const std::string& source) {
    if (f.columns < 1 || f.rows < 1)
        throw FileError(source, "the offset field holds no cell (" + std::to_string(f.columns) +
                                    " x " + std::to_string(f.rows) + ")");
    if (f.range.size() != f.cells() || f.azimuth.size() != f.cells())
        throw FileError(source, "the offset field's arrays do not hold its " +
                                    std::to_string(f.columns) + " x " + std::to_string(f.rows) +
                                    " cells");
    if (!std::isfinite(f.firstRange) || !std::isfinite(f.firstAzimuth))
        throw FileError(source, "the offset field's first cell is not at a finite position");
    if (!(f.stepRange > 0.0 && f.stepAzimuth > 0.0 && std::isfinite(f.stepRange) &&
          std::isfinite(f.stepAzimuth)))
        throw FileError(source, "the offset field's steps must be finite and positive");
}

// Marks (NaN in both directions) the cells where either direction is not a
// trusted measurement.
void clear_untrusted(OffsetField& f, const FieldFilter& filter) {
    const std::vector<char> range_out = flag_median_outliers(
        f.range, f.rows, f.columns, filter.radius, filter.threshold, filter.min_spread);
    const std::vector<char> azimuth_out = flag_median_outliers(
        f.azimuth, f.rows, f.columns, filter.radius, filter.threshold, filter.min_spread);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (std::size_t i = 0; i < f.cells(); i++)
        if (range_out[i] || azimuth_out[i] || !std::isfinite(f.range[i]) ||
            !std::isfinite(f.azimuth[i]))
            f.range[i] = f.azimuth[i] = nan;
}

[[noreturn]] void beyond(const std::string& source, const char* what, double offset,
                         const char* unit, int x, int y, int mw, int ml, int sw, int sl) {
    char text[240];
    std::snprintf(text, sizeof text,
                  "%s gives %g %s at master sample %d, line %d: beyond the images (%d x %d "
                  "master, %d x %d slave)",
                  what, offset, unit, x, y, mw, ml, sw, sl);
    throw FileError(source, text);
}

// The master lines (or samples) to check along one direction: both edges,
// 17 evenly spread and every field node on the grid.
std::vector<int> probes(int size, double first, double step, int nodes) {
    std::vector<int> at;
    for (int i = 0; i <= 16; i++)
        at.push_back(static_cast<int>((size - 1) * (i / 16.0)));
    for (int k = 0; k < nodes; k++) {
        const double p = std::round(first + k * step);
        if (p >= 0.0 && p <= size - 1)
            at.push_back(static_cast<int>(p));
    }
    std::sort(at.begin(), at.end());
    at.erase(std::unique(at.begin(), at.end()), at.end());
    return at;
}

} // namespace

OffsetField completed_offset_field(const OffsetField& measured, const std::string& source,
                                   const FieldFilter& filter) {
    check_regular(measured, source);
    OffsetField f = measured;
    clear_untrusted(f, filter);
    if (!fill_gaps(f.range, f.rows, f.columns) || !fill_gaps(f.azimuth, f.rows, f.columns))
        throw FileError(source, "the offset field holds no trusted (finite) cell");
    if (!f.complete()) // a filler that left a gap would fail the resampler later, obscurely
        throw FileError(source, "the offset field's gaps could not be filled");
    return f;
}

OffsetModel offset_model(const OffsetPolynomials& polynomials, const OffsetField& measured,
                         const std::string& source) {
    OffsetModel model(polynomials);
    model.field = std::make_shared<const FieldSurface>(completed_offset_field(measured, source));
    return model;
}

void slave_positions(const OffsetModel& model, int y, int x_first, int count, double* xs,
                     double* ys, FieldLineScratch* scratch) {
    for (int i = 0; i < count; i++) {
        const double x = x_first + i;
        xs[i] = eval_offset_poly(model.polynomials.range, x, y);
        ys[i] = eval_offset_poly(model.polynomials.azimuth, x, y);
    }
    if (model.field)
        model.field->add_line(y, x_first, count, xs, ys, scratch);
    for (int i = 0; i < count; i++) {
        xs[i] += x_first + i;
        ys[i] += y;
    }
}

void check_offsets_within_images(const OffsetModel& model, int master_width, int master_lines,
                                 int slave_width, int slave_lines,
                                 const std::string& polynomial_source,
                                 const std::string& field_source) {
    check_offsets_within_images(model.polynomials, master_width, master_lines, slave_width,
                                slave_lines, polynomial_source);
    if (!model.field)
        return;
    const FieldSurface& f = *model.field;
    const double range_limit = std::max(master_width, slave_width);
    const double azimuth_limit = std::max(master_lines, slave_lines);
    const std::vector<int> xs = probes(master_width, f.first_range(), f.step_range(), f.columns());
    std::vector<double> range(xs.size()), azimuth(xs.size());
    FieldLineScratch scratch;
    for (int y : probes(master_lines, f.first_azimuth(), f.step_azimuth(), f.rows()))
        for (std::size_t i = 0; i < xs.size(); i++) {
            slave_positions(model, y, xs[i], 1, &range[i], &azimuth[i], &scratch);
            const double dr = range[i] - xs[i], da = azimuth[i] - y;
            if (!(std::fabs(dr) <= range_limit))
                beyond(field_source, "the offset field", dr, "samples", xs[i], y, master_width,
                       master_lines, slave_width, slave_lines);
            if (!(std::fabs(da) <= azimuth_limit))
                beyond(field_source, "the offset field", da, "lines", xs[i], y, master_width,
                       master_lines, slave_width, slave_lines);
        }
}
