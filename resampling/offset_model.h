#pragma once

#include "params/offset_field.h"
#include "params/offset_file.h"
#include "resampling/field_surface.h"

#include <memory>
#include <string>
#include <vector>

// Where the resampler finds the slave position of each master sample: the
// fitted polynomials, an offset field, or the two added (the field then
// holds what the polynomials leave).
struct OffsetModel {
    OffsetModel() = default;
    // The polynomials alone: what every caller before fields passed.
    OffsetModel(const OffsetPolynomials& p)
        : polynomials(p) {}                    // NOLINT(google-explicit-constructor)
    OffsetPolynomials polynomials;             // zero when a field alone gives the offsets
    std::shared_ptr<const FieldSurface> field; // null: the polynomials alone
};

// Outlier test of a measured field's cells, as the dense offset tracker
// applies it.
struct FieldFilter {
    int radius = 1;
    double threshold = 3.0;
    double min_spread = 0.1; // samples or lines
};

// The field as the surface takes it: a cell measured in one direction only,
// or departing from its neighbours in either (flag_median_outliers), is
// cleared in both, then every cleared or unmeasured cell is filled
// (fill_gaps). FileError naming source for an irregular field (no cell,
// arrays not rows x columns, origin not finite, steps not finite and
// positive) or one without a finite cell.
OffsetField completed_offset_field(const OffsetField& measured, const std::string& source,
                                   const FieldFilter& filter = {});

// The polynomials plus the completed field.
OffsetModel offset_model(const OffsetPolynomials& polynomials, const OffsetField& measured,
                         const std::string& source);

// Slave positions (x + range offset, y + azimuth offset) of master samples
// x_first .. x_first + count - 1 of line y; scratch serves the field.
void slave_positions(const OffsetModel& model, int y, int x_first, int count, double* xs,
                     double* ys, FieldLineScratch* scratch);

// check_offsets_within_images (params/offset_file.h) for a model: the
// polynomials alone naming polynomial_source, then, with a field, the sum at
// every field row and column on the master grid and at its edges, naming
// field_source.
void check_offsets_within_images(const OffsetModel& model, int master_width, int master_lines,
                                 int slave_width, int slave_lines,
                                 const std::string& polynomial_source,
                                 const std::string& field_source);
