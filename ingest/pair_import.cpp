#include "ingest/image_writer.h"
#include "params/gdal_sidecar.h"
#include "params/offset_par_file.h"
#include "params/output_check.h"
#include "params/pending_output.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace ingest {

namespace {

void check_same_format(const ComplexRaster& master, const ComplexRaster& slave) {
    const char* m = sample_format_for(master.source_type());
    const char* s = sample_format_for(slave.source_type());
    if (std::strcmp(m, s) != 0)
        throw ImportError(slave.path(), std::string("holds ") +
                                            GDALGetDataTypeName(slave.source_type()) +
                                            " samples (" + s + ") but the master " + master.path() +
                                            " holds " + GDALGetDataTypeName(master.source_type()) +
                                            " (" + m + "); both images need the same sample type");
}

// Creates the directory when missing; true when this call created it.
bool make_out_dir(const std::string& dir) {
    std::error_code error;
    const bool created = std::filesystem::create_directory(dir, error);
    if (error)
        throw ImportError(dir, "cannot create the output directory: " + error.message());
    return created;
}

// The starting offset record of the pair: the coarse offset as the initial
// offsets and the constant terms of both polynomials, the master's raster as
// the interferogram's at one look. The estimation grid, window and threshold
// stay 0: stage 1 sets them from its own request.
stOffsetParInfo offset_record(IntegerOffset offset, const stSarImageInfo& master) {
    stOffsetParInfo par{};
    par.initial_range_offset = offset.range;
    par.initial_azimuth_offset = offset.azimuth;
    par.range_offset_polynomial[0] = offset.range;
    par.azimuth_offset_polynomial[0] = offset.azimuth;
    par.number_of_slc_range_pixels = master.numberOfColumns;
    par.interferogram_width = master.numberOfColumns;
    par.number_of_nonzero_range_pixels = master.numberOfColumns;
    par.interferogram_azimuth_lines = master.numberOfRows;
    par.interferogram_range_looks = 1;
    par.interferogram_azimuth_looks = 1;
    par.interferogram_range_pixel_spacing = master.slantRangeSpacing;
    par.interferogram_azimuth_pixel_spacing = master.azimuthSpacing;
    par.resampled_range_pixel_spacing = master.slantRangeSpacing;
    par.resampled_azimuth_pixel_spacing = master.azimuthSpacing;
    par.resampled_pixels_per_line = master.numberOfColumns;
    par.resampled_number_of_lines = master.numberOfRows;
    return par;
}

} // namespace

PairImportResult import_pair(const PairImportRequest& request, Progress* progress) {
    const QuietGdalErrors quiet;
    const ComplexRaster master(request.master, progress);
    const ComplexRaster slave(request.slave, progress);
    check_same_format(master, slave);
    const std::string dir = request.out_dir + "/";
    check_outputs_are_not_inputs(
        {{dir + "master.slc", "master image"},
         {dir + "master.xml", "master XML"},
         {gdal_vrt_path(dir + "master.slc"), "master VRT"},
         {dir + "slave.slc", "slave image"},
         {dir + "slave.xml", "slave XML"},
         {gdal_vrt_path(dir + "slave.slc"), "slave VRT"},
         {dir + "pair.off", "offset parameter file"}},
        {{master.path(), "master raster"}, {slave.path(), "slave raster"}});
    // Before the estimate, which reads both images.
    check_free_space(master, request.out_dir + "/master.slc");
    check_free_space(slave, request.out_dir + "/slave.slc");
    PairImportResult result;
    if (request.offset) {
        result.offset = *request.offset;
    } else {
        result.estimate = estimate_offset(master, slave);
        result.offset = result.estimate->offset;
    }

    CommittedOutputs written; // removed again, newest first, if a later step fails
    if (make_out_dir(request.out_dir))
        written.add(request.out_dir);
    stSarImageInfo master_info, slave_info;
    result.master = write_image(master, dir + "master.slc", master_info);
    written.add(result.master.image_path);
    written.add(result.master.xml_path);
    written.add(result.master.vrt_path);
    result.slave = write_image(slave, dir + "slave.slc", slave_info);
    written.add(result.slave.image_path);
    written.add(result.slave.xml_path);
    written.add(result.slave.vrt_path);
    result.offset_par_path = dir + "pair.off";
    if (!write_offset_par_file(result.offset_par_path, offset_record(result.offset, master_info)))
        throw ImportError(result.offset_par_path, "cannot be written");
    written.release();
    return result;
}

} // namespace ingest
