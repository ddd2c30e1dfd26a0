// Stage 2 on fuzzed work files. The input's first bytes choose the grid of
// the offset parameter file (nr and naz of 1..16, threshold, starts and
// spacings); the rest is split into the binary offsets file (8 nr naz bytes,
// short when the input is) and the binary SNR file (what remains).
#include "fitting/stage_two.h"
#include "fuzz_scratch_file.h"
#include "params/offset_par.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::int32_t int32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; i++)
            v = v << 8 | byte();
        return static_cast<std::int32_t>(v);
    }
    const std::uint8_t* rest() const { return data_ + pos_; }
    std::size_t rest_size() const { return size_ - pos_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

struct ScratchFiles {
    FuzzScratchFile offs{"_offs"}, snr{"_snr"}, coffs{"coffs"}, clisting{"coffsets.txt"};
    FuzzScratchFile off{".off"};
    std::string new_off = off.path().substr(0, off.path().rfind('.')) + "_new.off";
    ~ScratchFiles() { std::remove(new_off.c_str()); }
};

class IgnoringReporter : public StageReporter {
public:
    void progress(double) override {}
    void failure(const char*) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 16))
        return 0;
    static ScratchFiles files;
    Input in(data, size);

    stOffsetParInfo par{};
    par.offset_estimation_range_samples = 1 + in.byte() % 16;
    par.offset_estimation_azimuth_samples = 1 + in.byte() % 16;
    par.offset_estimation_threshhold = in.byte() / 8.0;
    // Mostly a grid as stage 1 writes it; sometimes any 32-bit values.
    const std::uint8_t mode = in.byte();
    if (mode & 1) {
        par.offset_estimation_starting_range = in.int32();
        par.offset_estimation_range_spacing = in.int32();
        par.offset_estimation_starting_azimuth = in.int32();
        par.offset_estimation_azimuth_spacing = in.int32();
    } else {
        par.offset_estimation_starting_range = 32;
        par.offset_estimation_range_spacing = 1 + (mode >> 1) % 64;
        par.offset_estimation_starting_azimuth = 16;
        par.offset_estimation_azimuth_spacing = 1 + (mode >> 4) * 8;
    }
    std::FILE* f = std::fopen(files.off.path().c_str(), "w");
    if (f == nullptr)
        std::abort();
    write_offset_par(f, &par);
    std::fclose(f);

    const std::size_t offsBytes = 8u *
                                  static_cast<std::size_t>(par.offset_estimation_range_samples) *
                                  static_cast<std::size_t>(par.offset_estimation_azimuth_samples);
    const std::size_t split = in.rest_size() < offsBytes ? in.rest_size() : offsBytes;
    files.offs.write(in.rest(), split);
    files.snr.write(in.rest() + split, in.rest_size() - split);

    RunRequest request;
    request.offsetParPath = files.off.path();
    const WorkFiles work{
        files.offs.path(), files.snr.path(), {}, files.coffs.path(), files.clisting.path()};
    IgnoringReporter reporter;
    (void)fit_offsets(request, work, reporter);
    return 0;
}
