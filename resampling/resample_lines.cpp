#include "resampling/resample_lines.h"

#include "resampling/kernel_choice.h"
#include "resampling/line_resampler.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kBlockLines = 64;

} // namespace

long resample_lines(SlaveLineSource& slave, const OffsetPolynomials& offsets, int master_width,
                    int master_lines, double doppler, ResampledLineSink& sink,
                    ProgressSink* progress) {
    const SincKernel kernel(resampling_kernel_shape(), kResamplingKernelPhases);
    LineResampler resampler(offsets, master_width, kernel, doppler);
    SlaveWindow window(slave, doppler);
    std::vector<std::complex<float>> out(static_cast<std::size_t>(master_width));
    std::vector<unsigned char> mask(static_cast<std::size_t>(master_width));
    long masked = 0;
    if (progress != nullptr)
        progress->progress(0.0);
    for (int block = 0; block < master_lines; block += kBlockLines) {
        const int block_end = std::min(master_lines, block + kBlockLines);
        int first = 0, end = 0;
        resampler.lines_needed(block, block_end, &first, &end);
        window.cover(first, end);
        for (int y = block; y < block_end; y++) {
            masked += resampler.resample(y, window, slave.width(), slave.lines(), out.data(),
                                         mask.data());
            sink.write_line(y, out.data(), mask.data());
        }
        if (progress != nullptr)
            progress->progress(100.0 * block_end / master_lines);
    }
    return masked;
}

double estimate_doppler_centroid(SlaveLineSource& slave) {
    const int lines = slave.lines();
    const int width = slave.width();
    if (lines < 2 || width < 1)
        return 0.0;
    const int pairs = std::min(128, lines - 1);
    std::vector<std::complex<float>> two(2 * static_cast<std::size_t>(width));
    std::complex<double> sum = 0.0;
    for (int k = 0; k < pairs; k++) {
        const int l = static_cast<int>(static_cast<long long>(k) * (lines - 1) / pairs);
        slave.read(l, 2, two.data());
        for (int c = 0; c < width; c++)
            sum += std::complex<double>(two[static_cast<std::size_t>(width + c)]) *
                   std::conj(std::complex<double>(two[static_cast<std::size_t>(c)]));
    }
    if (sum == 0.0)
        return 0.0;
    return std::arg(sum) / (2.0 * M_PI);
}
