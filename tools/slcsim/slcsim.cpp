#include "slcsim.h"

#include "band_limited_field.h"
#include "field_setup.h"
#include "gaussian_source.h"
#include "inverse_map.h"
#include "offset_model.h"
#include "params/file_error.h"
#include "params/output_check.h"
#include "sidecar_files.h"
#include "slave_resampler.h"
#include "warp_resampler.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace slcsim {
namespace {

// Parts of standard deviation 5: 5000 SCOMPLEX counts, so the 16-bit range
// holds 6.5 standard deviations and clipping practically never happens.
const double kFieldRms = 5.0 * std::sqrt(2.0);
// Kaiser window shape of the interpolator: with the taps of
// kernel_taps_for, delay errors stay below 1e-5 sample over the band.
constexpr double kKaiserBeta = 9.0;

bool validate(const SlcSimOptions& o, std::string* error) {
    if (o.width <= 0 || o.lines <= 0)
        *error = "width and lines must be positive";
    else if (!(o.coherence > 0.0 && o.coherence <= 1.0))
        *error = "coherence must lie in (0, 1]";
    else if (!(o.occupancy > 0.0 && o.occupancy <= 1.0))
        *error = "occupancy must lie in (0, 1]";
    else if (!(o.doppler > -0.5 && o.doppler < 0.5))
        *error = "doppler must lie in (-0.5, 0.5)";
    else if (o.master_path.empty() || o.slave_path.empty() || o.offset_par_path.empty() ||
             o.truth_path.empty())
        *error = "every output path must be given";
    else if (const std::string invalid = invalid_field_options(o); !invalid.empty())
        *error = invalid;
    else
        return true;
    return false;
}

// No output may overwrite the offset raster read, nor another output.
bool check_paths(const SlcSimOptions& o, std::string* error) {
    std::vector<NamedPath> outputs = {{o.master_path, "master image"},
                                      {image_xml_path(o.master_path), "master XML"},
                                      {o.slave_path, "slave image"},
                                      {image_xml_path(o.slave_path), "slave XML"},
                                      {o.offset_par_path, "offset parameter file"},
                                      {o.truth_path, "truth file"}};
    if (!o.truth_field_path.empty())
        outputs.push_back({o.truth_field_path, "truth field"});
    std::vector<NamedPath> inputs;
    if (!o.fields.raster_path.empty())
        inputs.push_back({o.fields.raster_path, "offset raster"});
    try {
        check_outputs_are_not_inputs(outputs, inputs);
        return true;
    } catch (const FileError& e) {
        *error = e.what();
        return false;
    }
}

DopplerProfile doppler_profile(const SlcSimOptions& o) {
    if (o.doppler_at_last_line)
        return DopplerProfile(o.doppler, *o.doppler_at_last_line, o.lines);
    return DopplerProfile(o.doppler);
}

bool fail_writer(SlcWriter&, const std::string& path, std::string* error) {
    *error = "cannot write " + path;
    return false;
}

bool write_master(const SlcSimOptions& o, const Field& field, const DopplerProfile& doppler,
                  std::string* error) {
    SlcWriter writer(o.master_path, o.format);
    if (!writer.is_open())
        return fail_writer(writer, o.master_path, error);
    std::vector<std::complex<double>> line(static_cast<std::size_t>(o.width));
    for (int y = 0; y < o.lines; y++) {
        const std::complex<float>* in = field.line(y) - field.x0;
        std::copy(in, in + o.width, line.begin());
        if (!doppler.none())
            for (auto& sample : line)
                sample *= doppler.phasor(y);
        if (!writer.write_line(line.data(), o.width))
            return fail_writer(writer, o.master_path, error);
    }
    if (!writer.close())
        return fail_writer(writer, o.master_path, error);
    return true;
}

template <typename Resampler>
bool write_slave(const SlcSimOptions& o, Resampler& resampler, const Field* noise,
                 const DopplerProfile& doppler, std::string* error) {
    SlcWriter writer(o.slave_path, o.format);
    if (!writer.is_open())
        return fail_writer(writer, o.slave_path, error);
    const double noise_weight = std::sqrt(1.0 - o.coherence * o.coherence);
    std::vector<std::complex<double>> line(static_cast<std::size_t>(o.width));
    for (int v = 0; v < o.lines; v++) {
        if (!resampler.resample_line(v, line.data(), error))
            return false;
        if (noise != nullptr) {
            const std::complex<float>* extra = noise->line(v) - noise->x0;
            for (int u = 0; u < o.width; u++)
                line[static_cast<std::size_t>(u)] =
                    o.coherence * line[static_cast<std::size_t>(u)] +
                    noise_weight * std::complex<double>(extra[u]) *
                        (!doppler.none() ? doppler.phasor(v) : 1.0);
        }
        if (!writer.write_line(line.data(), o.width))
            return fail_writer(writer, o.slave_path, error);
    }
    if (!writer.close())
        return fail_writer(writer, o.slave_path, error);
    return true;
}

// Offset fields move slave pixels anywhere: every master position is solved
// ahead, and the area they span is the field's.
bool solve_positions(const OffsetModel& model, const SlcSimOptions& o, int taps, InverseMap* map,
                     Extent* footprint, std::string* error) {
    return check_unfolded(model, o.width, o.lines, error) &&
           map->build(model, o.width, o.lines, error) &&
           map->extent(taps / 2 + 2, footprint, error);
}

} // namespace
} // namespace slcsim

bool simulate_slc_pair(const SlcSimOptions& options, std::string* error) {
    using namespace slcsim;
    std::string ignored;
    if (error == nullptr)
        error = &ignored;
    OffsetFields fields;
    if (!validate(options, error) || !check_paths(options, error) ||
        !make_offset_fields(options, &fields, error))
        return false;

    double range[6];
    double azimuth[6];
    std::copy(options.range_offset_polynomial, options.range_offset_polynomial + 6, range);
    std::copy(options.azimuth_offset_polynomial, options.azimuth_offset_polynomial + 6, azimuth);
    round_to_par_layout(range);
    round_to_par_layout(azimuth);
    const OffsetModel model(range, azimuth, std::move(fields));
    const SincKernel kernel(kernel_taps_for(options.occupancy), kKaiserBeta);
    const DopplerProfile doppler = doppler_profile(options);

    // One field holds the master image and everything the slave reads.
    Extent footprint{};
    InverseMap positions;
    if (model.has_fields()
            ? !solve_positions(model, options, kernel.taps(), &positions, &footprint, error)
            : !slave_footprint(model, options.width, options.lines, kernel.taps(), &footprint,
                               error))
        return false;
    GaussianSource source(options.seed);
    const Field field = band_limited_speckle(
        std::min(0, footprint.x_begin), std::max(options.width, footprint.x_end),
        std::min(0, footprint.y_begin), std::max(options.lines, footprint.y_end), options.occupancy,
        kFieldRms, source);
    if (!write_master(options, field, doppler, error))
        return false;

    Field noise;
    if (options.coherence < 1.0)
        noise = band_limited_speckle(0, options.width, 0, options.lines, options.occupancy,
                                     kFieldRms, source);
    const Field* extra = options.coherence < 1.0 ? &noise : nullptr;
    if (model.has_fields()) {
        WarpResampler resampler(field, positions, kernel, doppler, options.width);
        if (!write_slave(options, resampler, extra, doppler, error))
            return false;
    } else {
        SlaveResampler resampler(field, model, kernel, options.width, doppler);
        if (!write_slave(options, resampler, extra, doppler, error))
            return false;
    }

    return write_image_xml(options.master_path, options.width, options.lines, options.format,
                           doppler.mean(), kSimulatedPrf, options.master_start, error) &&
           write_image_xml(options.slave_path, options.width, options.lines, options.format,
                           doppler.mean(), kSimulatedPrf, options.slave_start, error) &&
           write_initial_offsets(options.offset_par_path, options.initial_range_offset,
                                 options.initial_azimuth_offset, error) &&
           write_truth(options.truth_path, range, azimuth, error) &&
           (options.truth_field_path.empty() ||
            write_truth_field(options.truth_field_path, model, options.width, options.lines,
                              error));
}

SlcSimOptions square_pair_in(const std::string& dir, int side, const double range[6],
                             const double azimuth[6]) {
    SlcSimOptions o;
    o.width = o.lines = side;
    std::copy(range, range + 6, o.range_offset_polynomial);
    std::copy(azimuth, azimuth + 6, o.azimuth_offset_polynomial);
    o.master_path = dir + "/master.slc";
    o.slave_path = dir + "/slave.slc";
    o.offset_par_path = dir + "/pair.off";
    o.truth_path = dir + "/truth.off";
    return o;
}
