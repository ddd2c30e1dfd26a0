#include "params/sample_format.h"

#include "params/file_error.h"

SampleFormat sample_format_of(const std::string& imageDataType) {
    return imageDataType == "SCOMPLEX" ? SampleFormat::scomplex : SampleFormat::fcomplex;
}

const char* sample_format_name(SampleFormat format) {
    return format == SampleFormat::scomplex ? "SCOMPLEX" : "FCOMPLEX";
}

int bytes_per_sample(SampleFormat format) {
    return format == SampleFormat::scomplex ? 4 : 8;
}

void check_image_length(const std::string& path, long long file_bytes, int width, int lines,
                        SampleFormat format) {
    const long long needed = static_cast<long long>(width) * lines * bytes_per_sample(format);
    if (file_bytes < needed)
        throw FileError(path, "is short: " + std::to_string(file_bytes) + " bytes, " +
                                  std::to_string(width) + " x " + std::to_string(lines) + " " +
                                  sample_format_name(format) + " samples need " +
                                  std::to_string(needed));
}
