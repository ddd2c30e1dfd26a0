#include "slc_file.h"

#include "params/sample_bytes.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>

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
    decode_samples(bytes.data(), format, count, samples.data());
    return samples;
}

namespace slcsim {

SlcWriter::SlcWriter(const std::string& path, SampleFormat format) : format_(format) {
    try {
        file_ = std::make_unique<PendingOutput>(path);
    } catch (const std::exception&) {
        // is_open() says so
    }
}

bool SlcWriter::write_line(const std::complex<double>* samples, int count) {
    const auto sample_bytes = static_cast<std::size_t>(bytes_per_sample(format_));
    bytes_.resize(static_cast<std::size_t>(count) * sample_bytes);
    encode_samples(samples, format_, static_cast<std::size_t>(count), bytes_.data(), &clipped_);
    try {
        file_->write(bytes_.data(), bytes_.size());
    } catch (const std::exception&) {
        failed_ = true;
    }
    return !failed_;
}

bool SlcWriter::close() {
    if (file_ == nullptr || failed_)
        return false;
    try {
        file_->commit();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace slcsim
