#include "estimation/fft.h"

#include <cmath>
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <vector>

namespace {

using cd = std::complex<double>;
using Shape = std::vector<std::uint32_t>;

constexpr float kGuard = -12345.0f;

// Complex float samples stored the way the transforms address them: element
// 0 is the float before the first real part, and a guard follows the last
// imaginary part, so any write outside 1..2N shows up.
struct Samples {
    std::vector<float> buf;
    explicit Samples(std::size_t count) : buf(2 * count + 2, 0.0f) {
        buf.front() = buf.back() = kGuard;
    }
    std::size_t size() const { return (buf.size() - 2) / 2; }
    float* unit_offset() { return buf.data(); }
    float& re(std::size_t k) { return buf[2 * k + 1]; }
    float& im(std::size_t k) { return buf[2 * k + 2]; }
    cd at(std::size_t k) const { return cd(buf[2 * k + 1], buf[2 * k + 2]); }
    bool guards_intact() const { return buf.front() == kGuard && buf.back() == kGuard; }
};

std::size_t total_of(const Shape& shape) {
    std::size_t total = 1;
    for (std::uint32_t n : shape)
        total *= n;
    return total;
}

Samples random_samples(std::size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    Samples s(count);
    for (std::size_t k = 0; k < count; k++) {
        s.re(k) = dist(gen);
        s.im(k) = dist(gen);
    }
    return s;
}

// Naive DFT in double along one axis of a row-major array; the phase index
// jk is reduced modulo n so the kernel stays accurate for large n.
void dft_axis(std::vector<cd>& x, const Shape& shape, std::size_t axis, int sign) {
    std::size_t stride = 1;
    for (std::size_t d = axis + 1; d < shape.size(); d++)
        stride *= shape[d];
    const std::size_t n = shape[axis];
    std::vector<cd> line(n);
    for (std::size_t base = 0; base < x.size(); base += n * stride) {
        for (std::size_t s = 0; s < stride; s++) {
            for (std::size_t k = 0; k < n; k++) {
                cd sum = 0;
                for (std::size_t j = 0; j < n; j++) {
                    const double phase = 2.0 * M_PI * double((j * k) % n) / double(n);
                    sum += x[base + s + j * stride] * std::polar(1.0, sign * phase);
                }
                line[k] = sum;
            }
            for (std::size_t k = 0; k < n; k++)
                x[base + s + k * stride] = line[k];
        }
    }
}

std::vector<cd> reference_dft(const Samples& data, const Shape& shape, int sign) {
    std::vector<cd> x(data.size());
    for (std::size_t k = 0; k < x.size(); k++)
        x[k] = data.at(k);
    for (std::size_t axis = 0; axis < shape.size(); axis++)
        dft_axis(x, shape, axis, sign);
    return x;
}

double relative_l2_error(const Samples& got, const std::vector<cd>& ref) {
    double err = 0, norm = 0;
    for (std::size_t k = 0; k < ref.size(); k++) {
        err += std::norm(got.at(k) - ref[k]);
        norm += std::norm(ref[k]);
    }
    return std::sqrt(err / norm);
}

// Every radix-2 stage rounds each value about once (the float product and
// sum), so the relative L2 error stays within one unit roundoff per stage,
// plus one for the input.
double error_bound(std::size_t total) {
    const double unit_roundoff = std::numeric_limits<float>::epsilon() / 2;
    return unit_roundoff * (1.0 + std::log2(double(total)));
}

// The lengths list is unit-offset too; its element 0 holds garbage to show it
// is never read.
void run_nd(Samples& data, const Shape& shape, int sign) {
    Shape nn{0xDEADBEEFu};
    nn.insert(nn.end(), shape.begin(), shape.end());
    fft_nd(data.unit_offset(), nn.data(), int(shape.size()), sign);
}

TEST(Fft1d, MatchesNaiveDftForEveryPowerOfTwo) {
    for (std::uint32_t n = 1; n <= 4096; n *= 2) {
        for (int sign : {1, -1}) {
            Samples data = random_samples(n, 1000 + n);
            const std::vector<cd> ref = reference_dft(data, {n}, sign);
            fft_1d(data.unit_offset(), n, sign);
            EXPECT_LE(relative_l2_error(data, ref), error_bound(n))
                << "n=" << n << " sign=" << sign;
            EXPECT_TRUE(data.guards_intact()) << "n=" << n;
        }
    }
}

TEST(FftNd, MatchesNaiveDftInOneTwoAndThreeDimensions) {
    const std::vector<Shape> shapes = {{1},      {2},       {64},      {4096},   {1, 8},
                                       {8, 1},   {2, 4},    {16, 32},  {64, 64}, {128, 16},
                                       {4, 256}, {4, 8, 2}, {2, 1, 16}};
    for (const Shape& shape : shapes) {
        const std::size_t total = total_of(shape);
        for (int sign : {1, -1}) {
            Samples data = random_samples(total, 7 + unsigned(total) + shape[0]);
            const std::vector<cd> ref = reference_dft(data, shape, sign);
            run_nd(data, shape, sign);
            EXPECT_LE(relative_l2_error(data, ref), error_bound(total))
                << "shape[0]=" << shape[0] << " dims=" << shape.size() << " sign=" << sign;
            EXPECT_TRUE(data.guards_intact());
        }
    }
}

TEST(Fft, SingleSampleIsLeftUnchanged) {
    for (int sign : {1, -1}) {
        Samples a(1), b(1);
        a.re(0) = b.re(0) = 0.3f;
        a.im(0) = b.im(0) = -1.7f;
        fft_1d(a.unit_offset(), 1, sign);
        run_nd(b, {1, 1}, sign);
        EXPECT_EQ(a.at(0), cd(0.3f, -1.7f));
        EXPECT_EQ(b.at(0), cd(0.3f, -1.7f));
    }
}

TEST(Fft, ImpulseAtZeroGivesExactOnes) {
    for (int sign : {1, -1}) {
        Samples a(64), b(8 * 16);
        a.re(0) = b.re(0) = 1.0f;
        fft_1d(a.unit_offset(), 64, sign);
        run_nd(b, {8, 16}, sign);
        for (std::size_t k = 0; k < a.size(); k++)
            ASSERT_EQ(a.at(k), cd(1, 0)) << "k=" << k;
        for (std::size_t k = 0; k < b.size(); k++)
            ASSERT_EQ(b.at(k), cd(1, 0)) << "k=" << k;
    }
}

TEST(Fft, ImpulseAtOneGivesTheKernelOfTheSign) {
    const std::uint32_t n = 256;
    for (int sign : {1, -1}) {
        Samples a(n), b(n);
        a.re(1) = b.re(1) = 1.0f;
        fft_1d(a.unit_offset(), n, sign);
        run_nd(b, {n}, sign);
        for (std::uint32_t k = 0; k < n; k++) {
            const cd expected = std::polar(1.0, sign * 2.0 * M_PI * k / n);
            ASSERT_LE(std::abs(a.at(k) - expected), error_bound(n)) << "k=" << k;
            ASSERT_LE(std::abs(b.at(k) - expected), error_bound(n)) << "k=" << k;
        }
    }
}

TEST(Fft, ForwardThenInverseScalesByTheCount) {
    const std::uint32_t n = 1024;
    Samples a = random_samples(n, 42);
    const Samples original = a;
    fft_1d(a.unit_offset(), n, 1);
    fft_1d(a.unit_offset(), n, -1);
    std::vector<cd> expected(n);
    for (std::uint32_t k = 0; k < n; k++)
        expected[k] = original.at(k) * double(n);
    EXPECT_LE(relative_l2_error(a, expected), 2 * error_bound(n));

    Samples b = random_samples(8 * 16, 43);
    const Samples original2d = b;
    run_nd(b, {8, 16}, 1);
    run_nd(b, {8, 16}, -1);
    std::vector<cd> expected2d(b.size());
    for (std::size_t k = 0; k < b.size(); k++)
        expected2d[k] = original2d.at(k) * 128.0;
    EXPECT_LE(relative_l2_error(b, expected2d), 2 * error_bound(128));
}

TEST(FftNd, EqualLinesLeaveOnlyTheFirstLineNonZero) {
    const std::uint32_t lines = 8, width = 32;
    const Samples line = random_samples(width, 5);
    Samples a(lines * width);
    for (std::uint32_t r = 0; r < lines; r++)
        for (std::uint32_t k = 0; k < width; k++) {
            a.re(r * width + k) = line.buf[2 * k + 1];
            a.im(r * width + k) = line.buf[2 * k + 2];
        }
    run_nd(a, {lines, width}, 1);
    std::vector<cd> expected = reference_dft(line, {width}, 1);
    Samples first(width);
    for (std::uint32_t k = 0; k < width; k++) {
        expected[k] *= double(lines);
        first.re(k) = a.re(k);
        first.im(k) = a.im(k);
    }
    EXPECT_LE(relative_l2_error(first, expected), error_bound(lines * width));
    for (std::uint32_t k = width; k < lines * width; k++)
        ASSERT_EQ(a.at(k), cd(0, 0)) << "line " << k / width << " sample " << k % width;
}

// Rounding is symmetric in sign, so the inverse of x is exactly the conjugate
// of the forward transform of conj(x): the sign may only flip the sines.
TEST(Fft, InverseIsTheConjugateOfTheForwardOfTheConjugate) {
    Samples x = random_samples(512, 9);
    Samples conj_x = x;
    for (std::size_t k = 0; k < x.size(); k++)
        conj_x.im(k) = -x.im(k);
    Samples a = x, b = conj_x, c = x, d = conj_x;
    fft_1d(a.unit_offset(), 512, -1);
    fft_1d(b.unit_offset(), 512, 1);
    run_nd(c, {16, 32}, -1);
    run_nd(d, {16, 32}, 1);
    for (std::size_t k = 0; k < x.size(); k++) {
        ASSERT_EQ(a.at(k), std::conj(b.at(k))) << "k=" << k;
        ASSERT_EQ(c.at(k), std::conj(d.at(k))) << "k=" << k;
    }
    // And the two signs really differ: X(+1)[k] is X(-1)[N-k].
    Samples e = x;
    fft_1d(e.unit_offset(), 512, 1);
    EXPECT_GT(std::abs(e.at(1) - a.at(1)), 1.0);
    EXPECT_LE(std::abs(e.at(1) - a.at(511)), 1e-3);
}

} // namespace
