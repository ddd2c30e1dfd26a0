#include "band_limited_field.h"

#include "sim_fft.h"

#include <algorithm>
#include <cmath>

namespace slcsim {

namespace {

using cd = std::complex<double>;

// Frequency bins of a length-n transform within +-occupancy/2 of zero.
std::vector<int> bins_in_band(int n, double occupancy) {
    const int half = static_cast<int>(std::floor(occupancy * n / 2.0));
    std::vector<int> bins;
    for (int k = 0; k < n; k++) {
        const int signed_k = k <= n / 2 ? k : k - n;
        if (std::abs(signed_k) <= half)
            bins.push_back(k);
    }
    return bins;
}

// Transforms every column in place; columns are gathered in blocks so each
// pass over the lines reads whole cache lines.
void inverse_transform_columns(Field& field) {
    constexpr int kBlock = 8;
    const auto ny = static_cast<std::size_t>(field.ny);
    const auto nx = static_cast<std::size_t>(field.nx);
    ComplexFft fft(ny, true);
    std::vector<cd> columns(kBlock * ny);
    for (std::size_t x = 0; x < nx; x += kBlock) {
        const std::size_t count = std::min<std::size_t>(kBlock, nx - x);
        for (std::size_t y = 0; y < ny; y++) {
            const std::complex<float>* in = &field.samples[y * nx + x];
            for (std::size_t c = 0; c < count; c++)
                columns[c * ny + y] = cd(in[c]);
        }
        for (std::size_t c = 0; c < count; c++)
            fft.transform(&columns[c * ny]);
        for (std::size_t y = 0; y < ny; y++) {
            std::complex<float>* out = &field.samples[y * nx + x];
            for (std::size_t c = 0; c < count; c++)
                out[c] = std::complex<float>(columns[c * ny + y]);
        }
    }
}

} // namespace

Field band_limited_speckle(int x_begin, int x_end, int y_begin, int y_end, double occupancy,
                           double rms, GaussianSource& source) {
    Field field;
    field.nx = static_cast<int>(smooth_length(static_cast<std::size_t>(x_end - x_begin)));
    field.ny = static_cast<int>(smooth_length(static_cast<std::size_t>(y_end - y_begin)));
    field.x0 = x_begin - (field.nx - (x_end - x_begin)) / 2;
    field.y0 = y_begin - (field.ny - (y_end - y_begin)) / 2;
    field.samples.assign(static_cast<std::size_t>(field.nx) * static_cast<std::size_t>(field.ny),
                         {0.0f, 0.0f});

    const std::vector<int> range_bins = bins_in_band(field.nx, occupancy);
    const std::vector<int> azimuth_bins = bins_in_band(field.ny, occupancy);
    // Unnormalised inverse transforms sum the amplitudes: this scale gives
    // every field sample the power rms^2.
    const double scale =
        rms / std::sqrt(static_cast<double>(range_bins.size() * azimuth_bins.size()));

    // Spectrum lines outside the band stay zero; the others are drawn in bin
    // order and taken to the range domain at once.
    ComplexFft row_fft(static_cast<std::size_t>(field.nx), true);
    std::vector<cd> row(static_cast<std::size_t>(field.nx));
    for (int ky : azimuth_bins) {
        std::fill(row.begin(), row.end(), cd(0.0, 0.0));
        for (int kx : range_bins)
            row[static_cast<std::size_t>(kx)] = scale * source.next();
        row_fft.transform(row.data());
        std::complex<float>* out =
            &field.samples[static_cast<std::size_t>(ky) * static_cast<std::size_t>(field.nx)];
        for (int x = 0; x < field.nx; x++)
            out[x] = std::complex<float>(row[static_cast<std::size_t>(x)]);
    }
    inverse_transform_columns(field);
    return field;
}

} // namespace slcsim
