#include "ingest/amplitude_match.h"
#include "ingest/image_writer.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>

namespace ingest {

namespace {

// The multi-looked images stay at most this many looks on a side, which
// bounds the correlation's FFTs to 1024 x 1024.
constexpr int kMaxLookSide = 512;
// The full-resolution patch of the local search, at most on a side.
constexpr int kMaxPatchSide = 512;
// Fewest looks on a side for a meaningful correlation.
constexpr int kMinLookSide = 4;

// At least 2 looks, which averages down speckle; more when the image is large.
int looks_for(int samples) {
    return std::max(2, (samples + kMaxLookSide - 1) / kMaxLookSide);
}

// Mean amplitudes of range_looks x azimuth_looks cells, read one row of cells
// at a time; a partial cell at the right or bottom edge is dropped.
AmplitudeImage multilook(const ComplexRaster& raster, int range_looks, int azimuth_looks) {
    AmplitudeImage out{raster.width() / range_looks, raster.lines() / azimuth_looks, {}};
    out.values.assign(static_cast<std::size_t>(out.width) * out.lines, 0.0f);
    std::vector<std::complex<float>> rows(static_cast<std::size_t>(raster.width()) * azimuth_looks);
    const double cell = static_cast<double>(range_looks) * azimuth_looks;
    for (int row = 0; row < out.lines; row++) {
        raster.read(0, row * azimuth_looks, raster.width(), azimuth_looks, GDT_CFloat32,
                    rows.data());
        for (int col = 0; col < out.width; col++) {
            double sum = 0.0;
            for (int y = 0; y < azimuth_looks; y++)
                for (int x = col * range_looks; x < (col + 1) * range_looks; x++)
                    sum += std::abs(rows[static_cast<std::size_t>(y) * raster.width() + x]);
            out.values[static_cast<std::size_t>(row) * out.width + col] =
                static_cast<float>(sum / cell);
        }
    }
    return out;
}

AmplitudeImage amplitudes(const ComplexRaster& raster, int x, int y, int width, int lines) {
    std::vector<std::complex<float>> samples(static_cast<std::size_t>(width) * lines);
    raster.read(x, y, width, lines, GDT_CFloat32, samples.data());
    AmplitudeImage out{width, lines, std::vector<float>(samples.size())};
    std::transform(samples.begin(), samples.end(), out.values.begin(),
                   [](std::complex<float> z) { return std::abs(z); });
    return out;
}

// Master positions [first, last) whose partners stay inside the slave for
// every shift centre - margin .. centre + margin, cut to max_side around the middle.
std::pair<int, int> patch_span(int master_size, int slave_size, int centre, int margin) {
    int first = std::max(0, margin - centre);
    int last = std::min(master_size, slave_size - centre - margin);
    if (last - first > kMaxPatchSide) {
        first = (first + last) / 2 - kMaxPatchSide / 2;
        last = first + kMaxPatchSide;
    }
    return {first, last};
}

std::string fixed3(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", v);
    return text;
}

// Unrelated images still have a highest correlation somewhere; it is only
// an offset when it stands out from the surface's other peaks.
void check_clear_peak(const ShiftMatch& looked, const ComplexRaster& master,
                      const ComplexRaster& slave) {
    if (looked.next_peak <= 0.0 || looked.correlation >= kMinPeakRatio * looked.next_peak)
        return;
    throw ImportError(slave.path(),
                      "no clear match with " + master.path() +
                          ": the amplitude correlation peaks at " + fixed3(looked.correlation) +
                          ", less than " + fixed3(kMinPeakRatio) + " times its next peak (" +
                          fixed3(looked.next_peak) +
                          "); do the images overlap? Give the coarse offset with --offset RANGE "
                          "AZIMUTH (offset= in Python)");
}

} // namespace

CoarseOffsetEstimate estimate_offset(const ComplexRaster& master, const ComplexRaster& slave) {
    CoarseOffsetEstimate estimate;
    estimate.range_looks = looks_for(std::max(master.width(), slave.width()));
    estimate.azimuth_looks = looks_for(std::max(master.lines(), slave.lines()));
    for (const ComplexRaster* raster : {&master, &slave})
        if (raster->width() / estimate.range_looks < kMinLookSide ||
            raster->lines() / estimate.azimuth_looks < kMinLookSide)
            throw ImportError(raster->path(), "too small to estimate a coarse offset; give it");
    const AmplitudeImage m = multilook(master, estimate.range_looks, estimate.azimuth_looks);
    const AmplitudeImage s = multilook(slave, estimate.range_looks, estimate.azimuth_looks);
    const long quarter = std::min(m.values.size(), s.values.size()) / 4;
    const ShiftMatch looked = best_shift_global(m, s, std::max(16L, quarter));
    if (looked.correlation < -1.0)
        throw ImportError(slave.path(), "no shift that keeps a quarter of the image overlapping "
                                        "correlates with " +
                                            master.path() + "; give the offset");
    check_clear_peak(looked, master, slave);
    estimate.peak = looked.correlation;
    estimate.next_peak = looked.next_peak;

    // The look-level shift places the full-resolution one within a look either way.
    const IntegerOffset centre{looked.shift.range * estimate.range_looks,
                               looked.shift.azimuth * estimate.azimuth_looks};
    const auto [x0, x1] =
        patch_span(master.width(), slave.width(), centre.range, estimate.range_looks);
    const auto [y0, y1] =
        patch_span(master.lines(), slave.lines(), centre.azimuth, estimate.azimuth_looks);
    if (x1 - x0 < kMinLookSide || y1 - y0 < kMinLookSide)
        throw ImportError(slave.path(), "overlaps " + master.path() +
                                            " too little to refine the coarse offset; give it");
    const IntegerOffset first{centre.range - estimate.range_looks,
                              centre.azimuth - estimate.azimuth_looks};
    const AmplitudeImage patch = amplitudes(master, x0, y0, x1 - x0, y1 - y0);
    const AmplitudeImage region =
        amplitudes(slave, x0 + first.range, y0 + first.azimuth, x1 - x0 + 2 * estimate.range_looks,
                   y1 - y0 + 2 * estimate.azimuth_looks);
    const ShiftMatch fine = best_shift_local(patch, region, first);
    if (fine.correlation < -1.0)
        throw ImportError(slave.path(), "amplitudes are flat where they overlap " + master.path() +
                                            "; give the offset");
    estimate.offset = fine.shift;
    estimate.correlation = fine.correlation;
    return estimate;
}

CoarseOffsetEstimate estimate_coarse_offset(const RasterSource& master, const RasterSource& slave,
                                            Progress* progress) {
    const QuietGdalErrors quiet;
    const ComplexRaster m(master, progress);
    const ComplexRaster s(slave, progress);
    return estimate_offset(m, s);
}

} // namespace ingest
