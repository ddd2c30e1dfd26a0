#include "resampling/interferogram_file.h"

#include "params/file_naming.h"
#include "params/gdal_sidecar.h"
#include "params/pending_output.h"
#include "params/sample_format.h"
#include "params/image_info.h"
#include "resampling/interferogram.h"
#include "resampling/slc_raster.h"

#include <algorithm>
#include <sys/stat.h>

namespace {

// The master's geometry multi-looked.
std::unique_ptr<stSarImageInfo> looked_geometry(const stSarImageInfo& master, int looks_az,
                                                int looks_rg) {
    auto info = std::make_unique<stSarImageInfo>(master);
    info->azimuthLooks = std::max(1, master.azimuthLooks) * looks_az;
    info->rangeLooks = std::max(1, master.rangeLooks) * looks_rg;
    info->azimuthSpacing *= looks_az;
    info->slantRangeSpacing *= looks_rg;
    info->azimuthLineTime *= looks_az;
    return info;
}

} // namespace

std::vector<NamedPath> interferogram_outputs(const std::string& out_dir) {
    struct stat st;
    if (::stat(out_dir.c_str(), &st) != 0)
        throw FileError(out_dir, "the interferogram directory does not exist");
    if (!S_ISDIR(st.st_mode))
        throw FileError(out_dir, "the interferogram directory is not a directory");
    std::vector<NamedPath> outputs;
    for (const char* name : {"interferogram", "coherence"}) {
        const std::string stem = out_dir + "/" + name;
        outputs.push_back({stem, name});
        outputs.push_back({sidecar_path(stem, ".xml"), std::string(name) + " XML"});
        outputs.push_back({gdal_vrt_path(stem), std::string(name) + " VRT"});
        outputs.push_back({stem + ".tif", std::string(name) + " GeoTIFF"});
    }
    return outputs;
}

long double interferogram_bytes(const std::string& image, int width, int lines, int looks_az,
                                int looks_rg) {
    if (looks_az < 1 || looks_rg < 1)
        throw FileError(image, "looks must be at least 1 in each direction, not " +
                                   std::to_string(looks_az) + " x " + std::to_string(looks_rg));
    if (lines / looks_az < 1 || width / looks_rg < 1)
        throw FileError(image, "looks of " + std::to_string(looks_az) + " x " +
                                   std::to_string(looks_rg) + " leave no cell of its " +
                                   std::to_string(width) + " x " + std::to_string(lines) +
                                   " samples");
    // complex64 and float32 cells
    return static_cast<long double>(lines / looks_az) * (width / looks_rg) * 12;
}

InterferogramFileResult interferogram_file(const InterferogramFileRequest& request,
                                           const RasterWriterFactory& writers, Progress* progress) {
    const std::vector<NamedPath> outputs = interferogram_outputs(request.out_dir);
    check_outputs_are_not_inputs(
        outputs, {{request.master, "master image"},
                  {sidecar_path(request.master, ".xml"), "master XML"},
                  {request.resampled, "resampled slave"},
                  {sidecar_path(request.resampled, ".xml"), "resampled slave's XML"}});
    const auto master_info = read_image_info(request.master);
    const auto slave_info = read_image_info(request.resampled);
    const int width = master_info->numberOfColumns, lines = master_info->numberOfRows;
    if (slave_info->numberOfColumns != width || slave_info->numberOfRows != lines)
        throw FileError(request.resampled,
                        "holds " + std::to_string(slave_info->numberOfColumns) + " x " +
                            std::to_string(slave_info->numberOfRows) + " samples, the master " +
                            request.master + " " + std::to_string(width) + " x " +
                            std::to_string(lines) + ": not resampled onto its grid");
    check_free_space(
        request.out_dir + "/interferogram",
        interferogram_bytes(request.master, width, lines, request.looks_az, request.looks_rg));
    SlcFileSource master(request.master, width, lines,
                         sample_format_of(master_info->imageDataType));
    SlcFileSource slave(request.resampled, width, lines,
                        sample_format_of(slave_info->imageDataType));

    InterferogramFileResult result;
    result.lines = lines / request.looks_az;
    result.samples = width / request.looks_rg;
    result.looks_az = request.looks_az;
    result.looks_rg = request.looks_rg;
    InterferogramRows rows(width, request.looks_az, request.looks_rg);
    const auto geometry = looked_geometry(*master_info, request.looks_az, request.looks_rg);
    const auto ifg_out = writers(request.out_dir + "/interferogram", result.samples, result.lines,
                                 RasterKind::complex64, *geometry);
    const auto coh_out = writers(request.out_dir + "/coherence", result.samples, result.lines,
                                 RasterKind::float32, *geometry);
    CoherenceSummary summary;
    const std::size_t w = static_cast<std::size_t>(width);
    std::vector<std::complex<float>> m(w * static_cast<std::size_t>(request.looks_az)), s(m.size());
    if (progress != nullptr)
        progress->progress(0.0);
    for (int row = 0; row < result.lines; row++) {
        master.read(row * request.looks_az, request.looks_az, m.data());
        slave.read(row * request.looks_az, request.looks_az, s.data());
        for (int k = 0; k < request.looks_az; k++)
            rows.add(&m[k * w], &s[k * w]);
        ifg_out->write_row(rows.ifg().data());
        coh_out->write_row(rows.coherence().data());
        summary.add(rows.coherence().data(), result.samples);
        if (progress != nullptr && (row % 64 == 63 || row + 1 == result.lines)) {
            progress->progress(100.0 * (row + 1) / result.lines);
            if (row + 1 < result.lines && progress->cancelled())
                throw Cancelled();
        }
    }
    ifg_out->finish();
    coh_out->finish();
    ifg_out->commit();
    coh_out->commit();
    result.no_data = rows.no_data();
    result.mean_coherence = summary.mean();
    result.median_coherence = summary.median();
    result.histogram = summary.histogram();
    result.interferogram = ifg_out->path();
    result.coherence = coh_out->path();
    return result;
}
