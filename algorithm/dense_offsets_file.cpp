#include "algorithm/dense_offsets_file.h"

#include "ingest/offset_field_geotiff.h"
#include "numeric/grid_filter.h"
#include "params/file_error.h"
#include "params/file_naming.h"
#include "params/offset_file.h"
#include "params/output_check.h"
#include "params/pending_output.h"

#include <vector>

namespace {

void check_output(const DenseOffsetsFileRequest& r) {
    if (r.out.empty())
        return;
    std::vector<NamedPath> inputs = {{r.master, "master image"},
                                     {sidecar_path(r.master, ".xml"), "master XML"},
                                     {r.slave, "slave image"},
                                     {sidecar_path(r.slave, ".xml"), "slave XML"}};
    if (!r.gross.path.empty())
        inputs.push_back({r.gross.path, "gross offsets"});
    check_outputs_are_not_inputs(
        {{r.out, "output"}, {pending_temporary_name(r.out), "output's temporary"}}, inputs);
}

GrossOffset offsets_of_file(const std::string& path) {
    const OffsetFile file = read_offset_file(path);
    OffsetPolynomials p = file.polynomials;
    bool zero = true;
    for (int k = 0; k < 6; k++)
        zero = zero && p.range[k] == 0.0 && p.azimuth[k] == 0.0;
    if (zero) {
        p.range[0] = file.initial_range_offset;
        p.azimuth[0] = file.initial_azimuth_offset;
    }
    return GrossOffset::polynomials(p);
}

// A raster's holes are filled from its other cells: the gross offset only
// places windows.
GrossOffset offsets_of_raster(const std::string& path) {
    OffsetField field = ingest::read_offset_field_geotiff(path);
    if (!fill_gaps(field.range, field.rows, field.columns) ||
        !fill_gaps(field.azimuth, field.rows, field.columns))
        throw FileError(path, "holds no finite range and azimuth offset");
    return GrossOffset::field(std::move(field));
}

GrossOffset gross_offset(const GrossChoice& g) {
    switch (g.kind) {
    case GrossChoice::Kind::constant:
        return GrossOffset::constant(g.range, g.azimuth);
    case GrossChoice::Kind::offset_file:
        return offsets_of_file(g.path);
    case GrossChoice::Kind::raster:
        return offsets_of_raster(g.path);
    case GrossChoice::Kind::none:
        break;
    }
    return GrossOffset();
}

} // namespace

DenseOffsets dense_offsets_file(const DenseOffsetsFileRequest& request, Progress* progress) {
    check_output(request);
    check_tracker_windows(request.tracking.windows);
    const SlcImageFile master = open_slc_image(request.master);
    const SlcImageFile slave = open_slc_image(request.slave);
    TrackingRequest tracking = request.tracking;
    tracking.gross = gross_offset(request.gross);
    DenseOffsets field = track_offsets(master, slave, tracking, progress);
    if (!request.out.empty())
        ingest::write_offset_field_geotiff(request.out, field);
    return field;
}
