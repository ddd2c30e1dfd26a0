// read_offset_par on the fuzz input, then write_offset_par into a file and
// read it back: the round trip must not crash, and writing what was read
// back must give the same text again (the written layout is a fixed point).
#include "fuzz_scratch_file.h"
#include "params/offset_par.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const FuzzScratchFile& scratch() {
    static const FuzzScratchFile file(".off");
    return file;
}

void read_file(const std::string& path, stOffsetParInfo* par) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr)
        std::abort();
    read_offset_par(f, par);
    std::fclose(f);
}

// Writes the record over the old content (opened without truncation, so the
// blanking of the previous text is exercised too) and returns the file text.
std::string write_file(const std::string& path, const stOffsetParInfo& par) {
    std::FILE* f = std::fopen(path.c_str(), "r+");
    if (f == nullptr)
        std::abort();
    write_offset_par(f, &par);
    std::fclose(f);
    f = std::fopen(path.c_str(), "rb");
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    std::fclose(f);
    return text;
}

// A value printed with fewer digits can round up past the largest double and
// read back as infinity; that text legitimately differs.
bool overflowed(double before, double after) {
    return std::isfinite(before) && std::isinf(after);
}

bool any_overflow(const stOffsetParInfo& a, const stOffsetParInfo& b) {
    const double* da[] = {
        &a.offset_estimation_threshhold,        &a.interferogram_range_pixel_spacing,
        &a.interferogram_azimuth_pixel_spacing, &a.resampled_range_pixel_spacing,
        &a.resampled_azimuth_pixel_spacing,     &a.resampled_starting_ground_range};
    const double* db[] = {
        &b.offset_estimation_threshhold,        &b.interferogram_range_pixel_spacing,
        &b.interferogram_azimuth_pixel_spacing, &b.resampled_range_pixel_spacing,
        &b.resampled_azimuth_pixel_spacing,     &b.resampled_starting_ground_range};
    for (std::size_t i = 0; i < sizeof da / sizeof da[0]; i++)
        if (overflowed(*da[i], *db[i]))
            return true;
    for (int i = 0; i < 6; i++)
        if (overflowed(a.range_offset_polynomial[i], b.range_offset_polynomial[i]) ||
            overflowed(a.azimuth_offset_polynomial[i], b.azimuth_offset_polynomial[i]))
            return true;
    return false;
}

// Fixed-notation values of 1e70 and more print longer than the readers'
// 80-byte number scratch and are read back truncated.
bool too_long_for_scratch(const stOffsetParInfo& par) {
    const double fixed[] = {
        par.offset_estimation_threshhold,        par.range_offset_polynomial[0],
        par.azimuth_offset_polynomial[0],        par.interferogram_range_pixel_spacing,
        par.interferogram_azimuth_pixel_spacing, par.resampled_range_pixel_spacing,
        par.resampled_azimuth_pixel_spacing,     par.resampled_starting_ground_range};
    for (double value : fixed)
        if (std::isfinite(value) && std::fabs(value) >= 1e70)
            return true;
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20))
        return 0;
    const std::string& path = scratch().path();
    scratch().write(data, size);

    stOffsetParInfo first;
    std::memset(&first, 0x5a, sizeof first);
    read_file(path, &first);
    if (std::memchr(first.title, '\0', sizeof first.title) == nullptr)
        std::abort();

    const std::string text = write_file(path, first);
    stOffsetParInfo second;
    std::memset(&second, 0x5a, sizeof second);
    read_file(path, &second);
    if (second.title[0] != '\0')
        std::abort();

    const std::string again = write_file(path, second);
    if (again != text && !any_overflow(first, second) && !too_long_for_scratch(first)) {
        std::fprintf(stderr, "round trip changed the text:\n%s\n----\n%s\n", text.c_str(),
                     again.c_str());
        std::abort();
    }
    return 0;
}
