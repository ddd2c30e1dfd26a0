#include "ingest/amplitude_match.h"

#include <cmath>
#include <complex>
#include <utility>

namespace ingest {

namespace {

// Iterative radix-2 transform of n contiguous points.
void fft1d(std::complex<double>* x, int n, bool inverse) {
    for (int i = 1, j = 0; i < n; i++) { // bit-reversal permutation
        int bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(x[i], x[j]);
    }
    const double pi = std::acos(-1.0);
    for (int len = 2; len <= n; len <<= 1) {
        const double angle = (inverse ? 2.0 : -2.0) * pi / len;
        for (int k = 0; k < len / 2; k++) {
            const std::complex<double> w(std::cos(angle * k), std::sin(angle * k));
            for (int start = 0; start < n; start += len) {
                std::complex<double>& a = x[start + k];
                std::complex<double>& b = x[start + k + len / 2];
                const std::complex<double> t = b * w;
                b = a - t;
                a += t;
            }
        }
    }
}

// In-place 2-D FFT of a row-major width x lines array, both powers of two;
// forward uses exp(-i...), the inverse is unnormalized.
void fft2d(std::vector<std::complex<double>>& data, int width, int lines, bool inverse) {
    for (int y = 0; y < lines; y++)
        fft1d(&data[static_cast<std::size_t>(y) * width], width, inverse);
    // Columns through a contiguous copy: a strided transform would miss the
    // cache on every butterfly.
    std::vector<std::complex<double>> column(static_cast<std::size_t>(lines));
    for (int x = 0; x < width; x++) {
        for (int y = 0; y < lines; y++)
            column[y] = data[static_cast<std::size_t>(y) * width + x];
        fft1d(column.data(), lines, inverse);
        for (int y = 0; y < lines; y++)
            data[static_cast<std::size_t>(y) * width + x] = column[y];
    }
}

using Spectrum = std::vector<std::complex<double>>;

int power_of_two_at_least(int n) {
    int p = 1;
    while (p < n)
        p <<= 1;
    return p;
}

enum class Plane { value, square, mask };

// The image's values (scaled to mean 1, so the sums stay near unit size),
// their squares, or ones over its extent, zero-padded to pw x ph and
// transformed.
Spectrum spectrum(const AmplitudeImage& image, Plane plane, int pw, int ph) {
    double sum = 0.0;
    for (float v : image.values)
        sum += v;
    const double scale = sum > 0.0 ? static_cast<double>(image.values.size()) / sum : 1.0;
    Spectrum out(static_cast<std::size_t>(pw) * ph);
    for (int y = 0; y < image.lines; y++)
        for (int x = 0; x < image.width; x++) {
            const double v = image.at(x, y) * scale;
            out[static_cast<std::size_t>(y) * pw + x] = plane == Plane::value    ? v
                                                        : plane == Plane::square ? v * v
                                                                                 : 1.0;
        }
    fft2d(out, pw, ph, false);
    return out;
}

// Normalized cross-correlation from the overlap's count and sums; -2 when
// either side is flat over the overlap.
double ncc(double n, double sa, double sb, double saa, double sbb, double sab) {
    const double va = saa - sa * sa / n;
    const double vb = sbb - sb * sb / n;
    if (!(va > 1e-9 * saa) || !(vb > 1e-9 * sbb))
        return -2.0;
    return (sab - sa * sb / n) / std::sqrt(va * vb);
}

// The correlation at every shift of the global search; -3 where there is none.
class CorrelationSurface {
public:
    CorrelationSurface(const AmplitudeImage& master, const AmplitudeImage& slave)
        : x0_(1 - master.width), y0_(1 - master.lines), width_(master.width + slave.width - 1),
          lines_(master.lines + slave.lines - 1),
          values_(static_cast<std::size_t>(width_) * lines_, kNone) {}

    double& at(int dx, int dy) {
        return values_[static_cast<std::size_t>(dy - y0_) * width_ + (dx - x0_)];
    }
    double value(int dx, int dy) const {
        if (dx < x0_ || dy < y0_ || dx >= x0_ + width_ || dy >= y0_ + lines_)
            return kNone;
        return values_[static_cast<std::size_t>(dy - y0_) * width_ + (dx - x0_)];
    }

    // The highest local maximum (no neighbour higher) outside the peak's
    // neighbourhood: for related images a correlation far below the peak,
    // for unrelated ones about as high, as both are noise.
    double next_peak(IntegerOffset peak) const {
        double next = -2.0;
        for (int dy = y0_; dy < y0_ + lines_; dy++)
            for (int dx = x0_; dx < x0_ + width_; dx++) {
                const double r = value(dx, dy);
                if (r <= next || (std::abs(dx - peak.range) <= kPeakRadius &&
                                  std::abs(dy - peak.azimuth) <= kPeakRadius))
                    continue;
                bool highest = true;
                for (int ey = -1; ey <= 1 && highest; ey++)
                    for (int ex = -1; ex <= 1 && highest; ex++)
                        highest = value(dx + ex, dy + ey) <= r;
                if (highest)
                    next = r;
            }
        return next;
    }

private:
    static constexpr double kNone = -3.0;
    int x0_, y0_, width_, lines_;
    std::vector<double> values_;
};

} // namespace

ShiftMatch best_shift_global(const AmplitudeImage& master, const AmplitudeImage& slave,
                             long min_overlap) {
    const int pw = power_of_two_at_least(master.width + slave.width - 1);
    const int ph = power_of_two_at_least(master.lines + slave.lines - 1);
    const Spectrum s = spectrum(slave, Plane::value, pw, ph);
    const Spectrum s2 = spectrum(slave, Plane::square, pw, ph);
    const Spectrum sm = spectrum(slave, Plane::mask, pw, ph);
    // Each correlation is real, so two share one inverse transform:
    // p1 = (master . slave, overlap count), p2 = (sum of master, sum of slave),
    // p3 = (sum of master^2, sum of slave^2), all over the overlap of a shift.
    const std::complex<double> i(0.0, 1.0);
    Spectrum p1(s.size()), p2(s.size()), p3(s.size());
    Spectrum m = spectrum(master, Plane::value, pw, ph);
    for (std::size_t k = 0; k < s.size(); k++) {
        p1[k] = std::conj(m[k]) * s[k];
        p2[k] = std::conj(m[k]) * sm[k];
    }
    m = spectrum(master, Plane::mask, pw, ph);
    for (std::size_t k = 0; k < s.size(); k++) {
        p1[k] += i * std::conj(m[k]) * sm[k];
        p2[k] += i * std::conj(m[k]) * s[k];
        p3[k] = i * std::conj(m[k]) * s2[k];
    }
    m = spectrum(master, Plane::square, pw, ph);
    for (std::size_t k = 0; k < s.size(); k++)
        p3[k] += std::conj(m[k]) * sm[k];
    for (Spectrum* p : {&p1, &p2, &p3})
        fft2d(*p, pw, ph, true);

    const double norm = 1.0 / (static_cast<double>(pw) * ph);
    CorrelationSurface surface(master, slave);
    ShiftMatch best;
    for (int dy = 1 - master.lines; dy < slave.lines; dy++)
        for (int dx = 1 - master.width; dx < slave.width; dx++) {
            const std::size_t k = static_cast<std::size_t>((dy + ph) % ph) * pw + (dx + pw) % pw;
            const double n = std::round(p1[k].imag() * norm);
            if (n < static_cast<double>(min_overlap))
                continue;
            const double r = ncc(n, p2[k].real() * norm, p2[k].imag() * norm, p3[k].real() * norm,
                                 p3[k].imag() * norm, p1[k].real() * norm);
            surface.at(dx, dy) = r;
            if (r > best.correlation)
                best = {{dx, dy}, r};
        }
    best.next_peak = surface.next_peak(best.shift);
    return best;
}

ShiftMatch best_shift_local(const AmplitudeImage& master, const AmplitudeImage& slave,
                            IntegerOffset first) {
    const double n = static_cast<double>(master.values.size());
    double sa = 0.0, saa = 0.0;
    for (float v : master.values) {
        sa += v;
        saa += static_cast<double>(v) * v;
    }
    ShiftMatch best;
    for (int oy = 0; oy <= slave.lines - master.lines; oy++)
        for (int ox = 0; ox <= slave.width - master.width; ox++) {
            double sb = 0.0, sbb = 0.0, sab = 0.0;
            for (int y = 0; y < master.lines; y++)
                for (int x = 0; x < master.width; x++) {
                    const double a = master.at(x, y);
                    const double b = slave.at(x + ox, y + oy);
                    sb += b;
                    sbb += b * b;
                    sab += a * b;
                }
            const double r = ncc(n, sa, sb, saa, sbb, sab);
            if (r > best.correlation)
                best = {{first.range + ox, first.azimuth + oy}, r, -2.0};
        }
    return best;
}

} // namespace ingest
