#include "resampling/resample_lines.h"

#include "numeric/parallel_loop.h"
#include "resampling/kernel_choice.h"
#include "resampling/line_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kBlockLines = 64;

} // namespace

double reconcile_doppler(double xml, double data, std::string* warning) {
    const double apart = std::fabs(std::remainder(xml - data, 1.0));
    if (!(apart > kDopplerDisagreement))
        return xml;
    char text[200];
    std::snprintf(text, sizeof text,
                  "the slave XML's Doppler centroid %.4f cycles/line disagrees with the data's "
                  "%.4f by more than %.2f; the data's is used",
                  xml, data, kDopplerDisagreement);
    *warning = text;
    return data;
}

bool doppler_in_range(double doppler) {
    return std::fabs(doppler) < 0.5; // false for NaN
}

void check_given_doppler(double doppler) {
    if (!doppler_in_range(doppler))
        throw std::invalid_argument("doppler must be within (-0.5, 0.5) cycles per line, not " +
                                    std::to_string(doppler));
}

long resample_lines(SlaveLineSource& slave, const OffsetModel& offsets, int master_width,
                    int master_lines, const DopplerModel& doppler, ResampledLineSink& sink,
                    Progress* progress, int threads, std::int64_t* no_data) {
    const SincKernel kernel(resampling_kernel_shape(), kResamplingKernelPhases);
    // The lines of one block are resampled at once on a team started once
    // for the whole image, one resampler (its own scratch) per member, lines
    // handed out one by one; each is computed alone and written in order
    // once the block is done, so the output does not depend on the threads.
    ThreadTeam team(threads);
    std::vector<LineResampler> resamplers(static_cast<std::size_t>(team.size()),
                                          LineResampler(offsets, master_width, kernel, doppler));
    SlaveWindow window(slave, doppler);
    const std::size_t width = static_cast<std::size_t>(master_width);
    const int block_lines = std::min(kBlockLines, std::max(1, master_lines));
    std::vector<std::complex<float>> out(width * block_lines);
    std::vector<unsigned char> mask(width * block_lines);
    std::vector<long> masked_in_line(static_cast<std::size_t>(block_lines));
    long masked = 0;
    if (progress != nullptr)
        progress->progress(0.0);
    for (int block = 0; block < master_lines; block += kBlockLines) {
        if (progress != nullptr && progress->cancelled())
            throw Cancelled();
        const int block_end = std::min(master_lines, block + kBlockLines);
        int first = 0, end = 0;
        resamplers[0].lines_needed(block, block_end, &first, &end);
        window.cover(first, end);
        team.for_each(block_end - block, [&](int thread, int k) {
            masked_in_line[static_cast<std::size_t>(k)] =
                resamplers[static_cast<std::size_t>(thread)].resample(
                    block + k, window, slave.width(), slave.lines(), &out[k * width],
                    &mask[k * width]);
        });
        for (int k = 0; k < block_end - block; k++) {
            masked += masked_in_line[static_cast<std::size_t>(k)];
            sink.write_line(block + k, &out[k * width], &mask[k * width]);
        }
        if (progress != nullptr)
            progress->progress(100.0 * block_end / master_lines);
    }
    if (no_data != nullptr)
        *no_data = window.no_data();
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
        for (int c = 0; c < width; c++) {
            const std::complex<double> step =
                std::complex<double>(two[static_cast<std::size_t>(width + c)]) *
                std::conj(std::complex<double>(two[static_cast<std::size_t>(c)]));
            if (std::isfinite(step.real()) && std::isfinite(step.imag())) // no-data is no vote
                sum += step;
        }
    }
    if (sum == 0.0)
        return 0.0;
    return std::arg(sum) / (2.0 * M_PI);
}
