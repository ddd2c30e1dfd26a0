#include "resampling/resample_file.h"

#include "params/file_naming.h"
#include "params/offset_file.h"
#include "params/gdal_sidecar.h"
#include "params/output_check.h"
#include "params/pending_output.h"
#include "params/sample_bytes.h"
#include "params/sar_image_xml_writer.h"
#include "params/image_info.h"
#include "resampling/resample_lines.h"
#include "resampling/slc_raster.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace {

XmlDoppler xml_doppler(const stSarImageInfo& slave_info, const std::string& xml) {
    XmlDoppler doppler;
    doppler.file = xml;
    std::copy(slave_info.dopplerCentroidCoefficients, slave_info.dopplerCentroidCoefficients + 4,
              doppler.coefficients);
    doppler.prf = slave_info.pulseRepetitionFrequency;
    return doppler;
}

// Writes the resampled lines and their mask in runs of lines (about 1 MiB
// of samples), one write to each file per run.
class FileSink : public ResampledLineSink {
public:
    FileSink(PendingOutput& image, PendingOutput& mask, SampleFormat format, int width)
        : image_(image), mask_(mask), format_(format), width_(static_cast<std::size_t>(width)),
          run_samples_(width_ * std::max<std::size_t>(1, (std::size_t{1} << 20) / (8 * width_))) {}
    void write_line(int, const std::complex<float>* samples, const unsigned char* mask) override {
        samples_.insert(samples_.end(), samples, samples + width_);
        masks_.insert(masks_.end(), mask, mask + width_);
        if (masks_.size() >= run_samples_)
            flush();
    }
    // Writes the lines held as one run of each file: a few large writes
    // instead of two per line.
    void flush() {
        bytes_.resize(samples_.size() * static_cast<std::size_t>(bytes_per_sample(format_)));
        encode_samples(samples_.data(), format_, samples_.size(), bytes_.data(), &saturated_);
        image_.write(bytes_.data(), bytes_.size());
        mask_.write(masks_.data(), masks_.size());
        samples_.clear();
        masks_.clear();
    }
    std::int64_t saturated() const { return saturated_; }

private:
    PendingOutput& image_;
    PendingOutput& mask_;
    SampleFormat format_;
    std::size_t width_, run_samples_;
    std::vector<std::complex<float>> samples_;
    std::vector<unsigned char> masks_;
    std::vector<unsigned char> bytes_;
    std::int64_t saturated_ = 0; // SCOMPLEX parts clamped
};

// The GDAL side-cars of the resampled slave and its mask; the slave's
// refers to the mask's as its mask band.
void write_vrts(const ResampleFileResult& result, SampleFormat format, PendingOutput& image_vrt,
                PendingOutput& mask_vrt) {
    RawRasterLayout mask;
    mask.raster = result.mask;
    mask.width = result.samples;
    mask.lines = result.lines;
    mask.type = RawSampleType::byte;
    mask.description = "mask: 1 where the interpolation kernel left the slave (sample set to 0)";
    const std::string mask_text = gdal_vrt_text(mask);
    mask_vrt.write(mask_text.data(), mask_text.size());

    RawRasterLayout image = mask;
    image.raster = result.output;
    image.type = raw_sample_type(format);
    image.description = "slave resampled onto the master grid (" + result.format + ")";
    image.scale = format == SampleFormat::scomplex ? 0.001 : 1.0;
    image.mask_vrt = mask_vrt.target();
    const std::string image_text = gdal_vrt_text(image);
    image_vrt.write(image_text.data(), image_text.size());
}

} // namespace

std::vector<NamedPath> resample_outputs(const std::string& out_slc) {
    return {{out_slc, "resampled slave"},
            {sidecar_path(out_slc, ".xml"), "resampled slave's XML"},
            {mask_path(out_slc), "resampled slave's mask"},
            {gdal_vrt_path(out_slc), "resampled slave's VRT"},
            {gdal_vrt_path(mask_path(out_slc)), "resampled slave's mask VRT"}};
}

namespace {

std::vector<NamedPath> resample_inputs(const ResampleFileRequest& request) {
    std::vector<NamedPath> inputs = {{request.master, "master image"},
                                     {sidecar_path(request.master, ".xml"), "master XML"},
                                     {request.slave, "slave image"},
                                     {sidecar_path(request.slave, ".xml"), "slave XML"}};
    if (!request.fitted_off.empty())
        inputs.push_back({request.fitted_off, "offset parameter file"});
    if (!request.field_path.empty())
        inputs.push_back({request.field_path, "offset field"});
    return inputs;
}

// The file errors about the offsets name: the field's when there is one
// (it has the offsets' last word; empty for a field held in memory), else
// the polynomials' file.
std::string offsets_source(const ResampleFileRequest& request) {
    return request.read_field ? request.field_path : request.fitted_off;
}

OffsetModel read_offsets(const ResampleFileRequest& request) {
    const OffsetPolynomials polynomials = request.fitted_off.empty()
                                              ? OffsetPolynomials{}
                                              : read_offset_file(request.fitted_off).polynomials;
    if (!request.read_field)
        return polynomials;
    return offset_model(polynomials, request.read_field(), offsets_source(request));
}

} // namespace

ResampleFileResult resample_file(const ResampleFileRequest& request, Progress* progress) {
    if (request.fitted_off.empty() && !request.read_field)
        throw std::invalid_argument("the offsets need the fitted polynomials, a field or both");
    // Every output against every input before anything is read, by identity.
    std::vector<NamedPath> outputs = resample_outputs(request.out_slc);
    outputs.insert(outputs.end(), request.also_written.begin(), request.also_written.end());
    check_outputs_are_not_inputs(outputs, resample_inputs(request));
    if (request.doppler.mode == DopplerChoice::Mode::given) // before any file is read
        check_given_doppler(request.doppler.value);
    const auto master_info = read_image_info(request.master);
    const auto slave_info = read_image_info(request.slave);
    const OffsetModel offsets = read_offsets(request);
    const SampleFormat format = sample_format_of(slave_info->imageDataType);
    // Opening checks each file holds what its XML claims.
    const SlcFileSource master(request.master, master_info->numberOfColumns,
                               master_info->numberOfRows,
                               sample_format_of(master_info->imageDataType));
    SlcFileSource slave(request.slave, slave_info->numberOfColumns, slave_info->numberOfRows,
                        format);

    check_offsets_within_images(offsets, master_info->numberOfColumns, master_info->numberOfRows,
                                slave_info->numberOfColumns, slave_info->numberOfRows,
                                request.fitted_off, offsets_source(request));

    ResampleFileResult result;
    result.lines = master_info->numberOfRows;
    result.samples = master_info->numberOfColumns;
    result.format = sample_format_name(format);
    result.output = request.out_slc;
    result.xml = sidecar_path(request.out_slc, ".xml");
    result.mask = mask_path(request.out_slc);
    result.vrt = gdal_vrt_path(result.output);
    result.mask_vrt = gdal_vrt_path(result.mask);
    check_free_space(result.output, static_cast<long double>(result.samples) * result.lines *
                                            (bytes_per_sample(format) + 1) +
                                        request.also_written_bytes);
    const XmlDoppler slave_xml = xml_doppler(*slave_info, sidecar_path(request.slave, ".xml"));
    ChosenDoppler doppler = choose_doppler_model(request.doppler, &slave_xml, slave);
    result.doppler_centroid = doppler.mean;
    result.doppler_lowest = doppler.lowest;
    result.doppler_highest = doppler.highest;
    result.doppler_source = doppler.source;
    result.doppler_description = doppler.description();
    result.warnings = doppler.warnings;

    PendingOutput image(result.output);
    PendingOutput mask(result.mask);
    FileSink sink(image, mask, format, result.samples);
    result.masked = resample_lines(slave, offsets, result.samples, result.lines, doppler.model,
                                   sink, progress, request.threads, &result.no_data);
    sink.flush();
    result.saturated = sink.saturated();
    const double masked = static_cast<double>(result.masked) / result.samples / result.lines;
    if (masked == 1.0)
        throw FileError(result.output,
                        "every sample would be masked: the offsets of " +
                            (offsets_source(request).empty() ? std::string("the offset field")
                                                             : offsets_source(request)) +
                            " put the whole master grid outside the slave");
    if (masked > 0.5) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "%.1f %% of the samples are masked (outside the slave): check the offsets",
                      100.0 * masked);
        result.warnings.push_back(text);
    }

    // The master's geometry, in the slave's sample format.
    stSarImageInfo out_info = *master_info;
    out_info.imageDataType = result.format;
    PendingOutput xml(result.xml, PendingOutput::Mode::external);
    if (!write_sar_image_xml(xml.temp_path(), out_info))
        throw FileError(result.xml, "cannot be written");
    PendingOutput image_vrt(result.vrt);
    PendingOutput mask_vrt(result.mask_vrt);
    write_vrts(result, format, image_vrt, mask_vrt);
    commit_together({&image, &mask, &xml, &mask_vrt, &image_vrt});
    return result;
}
