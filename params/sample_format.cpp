#include "params/sample_format.h"

SampleFormat sample_format_of(const std::string& imageDataType) {
    return imageDataType == "SCOMPLEX" ? SampleFormat::scomplex : SampleFormat::fcomplex;
}

const char* sample_format_name(SampleFormat format) {
    return format == SampleFormat::scomplex ? "SCOMPLEX" : "FCOMPLEX";
}

int bytes_per_sample(SampleFormat format) {
    return format == SampleFormat::scomplex ? 4 : 8;
}
