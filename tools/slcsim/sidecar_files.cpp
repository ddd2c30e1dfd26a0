#include "sidecar_files.h"

#include "offset_raster.h"
#include "params/file_error.h"
#include "params/offset_par_file.h"
#include "params/pending_output.h"
#include "params/sar_image_xml_writer.h"
#include "slcsim.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace slcsim {

namespace {

double round_through(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return std::strtod(text, nullptr);
}

bool write_par(const std::string& path, const stOffsetParInfo& par, std::string* error) {
    if (write_offset_par_file(path, par))
        return true;
    *error = "cannot write " + path;
    return false;
}

} // namespace

void round_to_par_layout(double coefficients[6]) {
    coefficients[0] = round_through("%.5f", coefficients[0]);
    for (int i = 1; i < 6; i++)
        coefficients[i] = round_through("%.4e", coefficients[i]);
}

bool write_image_xml(const std::string& image_path, int width, int lines, SampleFormat format,
                     double doppler, double prf, const std::string& start, std::string* error) {
    const std::string path = image_xml_path(image_path);
    stSarImageInfo info = make_sar_image_info(width, lines, sample_format_name(format));
    if (doppler != 0.0) {
        info.pulseRepetitionFrequency = prf;
        info.dopplerCentroidCoefficients[0] = doppler * prf;
    }
    if (!start.empty())
        info.rawDataStartTime = start;
    try {
        PendingOutput xml(path, PendingOutput::Mode::external);
        if (write_sar_image_xml(xml.temp_path(), info)) {
            xml.commit();
            return true;
        }
    } catch (const std::exception&) {
    }
    *error = "cannot write " + path;
    return false;
}

bool write_initial_offsets(const std::string& path, int range_offset, int azimuth_offset,
                           std::string* error) {
    stOffsetParInfo par{};
    par.initial_range_offset = range_offset;
    par.initial_azimuth_offset = azimuth_offset;
    return write_par(path, par, error);
}

bool write_truth(const std::string& path, const double range[6], const double azimuth[6],
                 std::string* error) {
    stOffsetParInfo par{};
    std::copy(range, range + 6, par.range_offset_polynomial);
    std::copy(azimuth, azimuth + 6, par.azimuth_offset_polynomial);
    return write_par(path, par, error);
}

bool write_truth_field(const std::string& path, const OffsetModel& model, int width, int lines,
                       std::string* error) {
    OffsetRaster truth{width, lines, {}, {}};
    truth.range.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(lines));
    truth.azimuth.reserve(truth.range.capacity());
    for (int y = 0; y < lines; y++)
        for (int x = 0; x < width; x++) {
            const Offset d = model.offset(x, y);
            truth.range.push_back(static_cast<float>(d.range));
            truth.azimuth.push_back(static_cast<float>(d.azimuth));
        }
    try {
        write_offset_raster(path, truth);
        return true;
    } catch (const FileError& e) {
        *error = e.what();
        return false;
    }
}

} // namespace slcsim
