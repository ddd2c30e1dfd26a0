#include "resampling/resample_file.h"

#include "params/file_handle.h"
#include "params/file_naming.h"
#include "params/keyword_reader.h"
#include "params/sar_image_xml_writer.h"
#include "resampling/image_pair_inputs.h"
#include "resampling/pending_output.h"
#include "resampling/resample_lines.h"
#include "resampling/slc_raster.h"

#include <cstdio>
#include <vector>

namespace {

OffsetPolynomials read_fitted_offsets(const std::string& path) {
    FileHandle file = open_file(path, "r");
    if (!file)
        throw ResampleError("cannot read offset parameter file " + path);
    int length = 0;
    const ParText text = load_par_text(file.get(), &length);
    OffsetPolynomials offsets;
    if (rd_vec(text.get(), length, "range_offset_polynomial", offsets.range, 6) != 0 ||
        rd_vec(text.get(), length, "azimuth_offset_polynomial", offsets.azimuth, 6) != 0)
        throw ResampleError("offset parameter file " + path +
                            " holds no complete range and azimuth offset polynomials");
    return offsets;
}

void choose_doppler(const DopplerChoice& choice, const stSarImageInfo& slave_info,
                    SlaveLineSource& slave, ResampleFileResult* result) {
    if (choice.mode == DopplerChoice::Mode::off) {
        result->doppler_source = "off";
        result->doppler_centroid = 0.0;
        return;
    }
    if (choice.mode == DopplerChoice::Mode::given) {
        result->doppler_source = "given";
        result->doppler_centroid = choice.value;
        return;
    }
    const double* c = slave_info.dopplerCentroidCoefficients;
    const bool in_xml = c[0] != 0.0 || c[1] != 0.0 || c[2] != 0.0 || c[3] != 0.0;
    if (in_xml && slave_info.pulseRepetitionFrequency > 0.0) {
        result->doppler_source = "xml";
        result->doppler_centroid = c[0] / slave_info.pulseRepetitionFrequency;
        return;
    }
    result->doppler_source = "estimated";
    result->doppler_centroid = estimate_doppler_centroid(slave);
}

// Writes the resampled lines and their mask.
class FileSink : public ResampledLineSink {
public:
    FileSink(PendingOutput& image, PendingOutput& mask, SampleFormat format, int width)
        : writer_(image, format), mask_(mask), width_(width) {}
    void write_line(int, const std::complex<float>* samples, const unsigned char* mask) override {
        writer_.write_line(samples, width_);
        mask_.write(mask, static_cast<std::size_t>(width_));
    }
    std::int64_t saturated() const { return writer_.saturated(); }

private:
    SlcLineWriter writer_;
    PendingOutput& mask_;
    int width_;
};

} // namespace

ResampleFileResult resample_file(const ResampleFileRequest& request, Progress* progress) {
    const std::string out_xml = image_xml_path(request.out_slc);
    for (const std::string& input : {request.master, request.slave, request.fitted_off,
                                     image_xml_path(request.master), image_xml_path(request.slave)})
        if (input == request.out_slc || input == out_xml || input == request.out_slc + ".mask")
            throw ResampleError("output " + request.out_slc + " would overwrite an input");
    const auto master_info = read_image_info(request.master);
    const auto slave_info = read_image_info(request.slave);
    const OffsetPolynomials offsets = read_fitted_offsets(request.fitted_off);
    const SampleFormat format = sample_format_of(slave_info->imageDataType);
    SlcFileSource slave(request.slave, slave_info->numberOfColumns, slave_info->numberOfRows,
                        format);

    ResampleFileResult result;
    result.lines = master_info->numberOfRows;
    result.samples = master_info->numberOfColumns;
    result.format = sample_format_name(format);
    result.output = request.out_slc;
    result.xml = out_xml;
    result.mask = request.out_slc + ".mask";
    choose_doppler(request.doppler, *slave_info, slave, &result);

    PendingOutput image(result.output);
    PendingOutput mask(result.mask);
    FileSink sink(image, mask, format, result.samples);
    result.masked = resample_lines(slave, offsets, result.samples, result.lines,
                                   result.doppler_centroid, sink, progress, request.threads);
    result.saturated = sink.saturated();
    image.close();
    mask.close();

    // The master's geometry, in the slave's sample format.
    stSarImageInfo out_info = *master_info;
    out_info.imageDataType = result.format;
    const std::string xml_temp = temporary_name(result.xml);
    struct RemoveUnlessRenamed {
        const std::string& path;
        bool renamed = false;
        ~RemoveUnlessRenamed() {
            if (!renamed)
                std::remove(path.c_str());
        }
    } xml_guard{xml_temp};
    if (!write_sar_image_xml(xml_temp, out_info))
        throw ResampleError("cannot write " + result.xml);
    commit_all({&image, &mask});
    if (std::rename(xml_temp.c_str(), result.xml.c_str()) != 0) {
        std::remove(result.output.c_str());
        std::remove(result.mask.c_str());
        throw ResampleError("cannot write " + result.xml);
    }
    xml_guard.renamed = true;
    return result;
}
