#include "slc_file.h"

#include "params/sample_bytes.h"

#include <cmath>
#include <cstdint>
#include <cstring>

std::vector<fcomplex> read_slc(const std::string& path, int width, int lines, SampleFormat format) {
    std::vector<fcomplex> samples;
    if (width <= 0 || lines <= 0)
        return samples;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return samples;
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(lines);
    const auto sample_bytes = static_cast<std::size_t>(bytes_per_sample(format));
    std::vector<unsigned char> bytes(count * sample_bytes);
    const bool complete = std::fread(bytes.data(), 1, bytes.size(), file) == bytes.size();
    std::fclose(file);
    if (!complete)
        return samples;
    samples.resize(count);
    for (std::size_t i = 0; i < count; i++) {
        const unsigned char* in = &bytes[i * sample_bytes];
        if (format == SampleFormat::scomplex)
            samples[i] = {static_cast<float>(get_le16(in) * 0.001),
                          static_cast<float>(get_le16(in + 2) * 0.001)};
        else
            samples[i] = {get_le32(in), get_le32(in + 4)};
    }
    return samples;
}

namespace slcsim {

namespace {

std::int16_t to_counts(double value, long* clipped) {
    const double counts = std::round(value * 1000.0);
    if (counts > 32767.0 || counts < -32768.0 || std::isnan(counts)) {
        ++*clipped;
        return counts < 0.0 ? INT16_MIN : INT16_MAX;
    }
    return static_cast<std::int16_t>(counts);
}

} // namespace

SlcWriter::SlcWriter(const std::string& path, SampleFormat format)
    : file_(std::fopen(path.c_str(), "wb")), format_(format) {}

SlcWriter::~SlcWriter() {
    if (file_ != nullptr)
        std::fclose(file_);
}

bool SlcWriter::write_line(const std::complex<double>* samples, int count) {
    const auto sample_bytes = static_cast<std::size_t>(bytes_per_sample(format_));
    bytes_.resize(static_cast<std::size_t>(count) * sample_bytes);
    for (int i = 0; i < count; i++) {
        unsigned char* out = &bytes_[static_cast<std::size_t>(i) * sample_bytes];
        if (format_ == SampleFormat::scomplex) {
            put_le16(out, to_counts(samples[i].real(), &clipped_));
            put_le16(out + 2, to_counts(samples[i].imag(), &clipped_));
        } else {
            put_le32(out, static_cast<float>(samples[i].real()));
            put_le32(out + 4, static_cast<float>(samples[i].imag()));
        }
    }
    if (std::fwrite(bytes_.data(), 1, bytes_.size(), file_) != bytes_.size())
        failed_ = true;
    return !failed_;
}

bool SlcWriter::close() {
    if (file_ == nullptr)
        return false;
    const bool ok = std::fclose(file_) == 0 && !failed_;
    file_ = nullptr;
    return ok;
}

} // namespace slcsim
