#include "field_setup.h"

#include "offset_raster.h"
#include "params/file_error.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace slcsim {

namespace {

void add_bump(const BumpOptions& bump, bool azimuth, const SlcSimOptions& o, OffsetFields* fields) {
    if (bump.amplitude == 0.0)
        return;
    const double x0 = std::isnan(bump.x0) ? 0.5 * (o.width - 1) : bump.x0;
    const double y0 = std::isnan(bump.y0) ? 0.5 * (o.lines - 1) : bump.y0;
    fields->push_back(std::make_shared<GaussianBump>(azimuth, bump.amplitude, bump.width, x0, y0));
}

bool bump_is_valid(const BumpOptions& b) {
    return std::isfinite(b.amplitude) && std::isfinite(b.width) && b.width > 0.0 &&
           !std::isinf(b.x0) && !std::isinf(b.y0);
}

} // namespace

std::string invalid_field_options(const SlcSimOptions& o) {
    const OffsetFieldOptions& f = o.fields;
    if (!bump_is_valid(f.range_bump) || !bump_is_valid(f.azimuth_bump))
        return "a bump needs a finite amplitude and centre and a positive width";
    if (!std::isfinite(f.range_step) || !std::isfinite(f.azimuth_step) || !std::isfinite(f.flow))
        return "steps and flow must be finite";
    if (o.doppler_at_last_line) {
        if (!(*o.doppler_at_last_line > -0.5 && *o.doppler_at_last_line < 0.5))
            return "doppler at the last line must lie in (-0.5, 0.5)";
        if (o.lines < 2)
            return "a Doppler centroid varying in azimuth needs two lines or more";
    }
    return {};
}

bool make_offset_fields(const SlcSimOptions& o, OffsetFields* fields, std::string* error) {
    const OffsetFieldOptions& f = o.fields;
    fields->clear();
    if (!f.raster_path.empty()) {
        try {
            fields->push_back(
                std::make_shared<RasterField>(read_offset_raster(f.raster_path, o.width, o.lines)));
        } catch (const FileError& e) {
            *error = e.what();
            return false;
        }
    }
    add_bump(f.range_bump, false, o, fields);
    add_bump(f.azimuth_bump, true, o, fields);
    if (f.range_step != 0.0)
        fields->push_back(std::make_shared<DiagonalStep>(false, f.range_step, o.width, o.lines));
    if (f.azimuth_step != 0.0)
        fields->push_back(std::make_shared<DiagonalStep>(true, f.azimuth_step, o.width, o.lines));
    if (f.flow != 0.0)
        fields->push_back(std::make_shared<Vortex>(f.flow, 0.25 * std::min(o.width, o.lines),
                                                   0.5 * (o.width - 1), 0.5 * (o.lines - 1)));
    return true;
}

} // namespace slcsim
