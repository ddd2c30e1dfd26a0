#include "estimation/fft.h"

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
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

// Relative L2 distance between a forward-then-inverse pass and count * input.
template <class Transform> double round_trip_error(Samples data, Transform transform) {
    const Samples original = data;
    transform(data, 1);
    transform(data, -1);
    std::vector<cd> expected(data.size());
    for (std::size_t k = 0; k < data.size(); k++)
        expected[k] = original.at(k) * double(data.size());
    return relative_l2_error(data, expected);
}

TEST(Fft, ForwardThenInverseScalesByTheCount) {
    EXPECT_LE(round_trip_error(random_samples(1024, 42),
                               [](Samples& s, int sign) { fft_1d(s.unit_offset(), 1024, sign); }),
              2 * error_bound(1024));
    EXPECT_LE(round_trip_error(random_samples(8 * 16, 43),
                               [](Samples& s, int sign) {
                                   run_nd(s, {8, 16}, sign);
                               }),
              2 * error_bound(128));
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

// Bit-exactness guard: the transforms' rounding is part of the results, so a
// faster rewrite must reproduce these outputs to the last bit. The values were
// checked against the naive DFT (errors below 4e-7) when recorded.
Samples fixed_input(std::size_t count) {
    Samples s(count);
    for (std::size_t k = 0; k < count; k++) {
        s.re(k) = float((k * 7) % 11) / 8.0f - 0.5f;
        s.im(k) = float((k * 5) % 13) / 16.0f - 0.25f;
    }
    return s;
}

void expect_bits(const Samples& got, const std::vector<float>& recorded) {
    ASSERT_EQ(recorded.size(), 2 * got.size());
    for (std::size_t i = 0; i < recorded.size(); i++) {
        std::uint32_t got_bits, recorded_bits;
        std::memcpy(&got_bits, &got.buf[i + 1], sizeof got_bits);
        std::memcpy(&recorded_bits, &recorded[i], sizeof recorded_bits);
        EXPECT_EQ(got_bits, recorded_bits) << "float element " << i + 1 << ": got " << std::hexfloat
                                           << got.buf[i + 1] << ", recorded " << recorded[i];
    }
}

// clang-format off
const std::vector<float> kForwardOfSixteen = {
    0x1.1p+1f, 0x1.dp+0f, -0x1.20cc72p-5f, 0x1.12ee28p-2f,
    -0x1.3ac91cp-1f, -0x1.014668p+0f, -0x1.fb52d2p-1f, -0x1.9b74d8p-6f,
    -0x1.7p+0f, -0x1p+0f, 0x1.7f7eap+0f, -0x1.6c40d4p+0f,
    -0x1.0f322ap+0f, 0x1.b12318p-1f, -0x1.63b05cp+0f, 0x1.7e7044p+0f,
    -0x1p-3f, -0x1p-4f, 0x1.647a04p-4f, -0x1.fe7c08p-1f,
    -0x1.f14db8p+1f, -0x1.df5cccp+1f, 0x1.95d54ap-1f, -0x1.a0a53p-3f,
    -0x1.9p+0f, -0x1.8p-1f, -0x1.ccbfdcp+0f, 0x1.66c34cp+0f,
    -0x1.c33756p-2f, 0x1.9db9dp-2f, 0x1.acde4p-1f, -0x1.03edccp+0f,
};

const std::vector<float> kInverseOfFourByEight = {
    0x1.08p+2f, 0x1p+2f, -0x1.2d06dp-3f, -0x1.94a11p-2f,
    -0x1.3p+0f, -0x1.08p+1f, -0x1.d6c26ap+2f, -0x1.15e81ap+2f,
    -0x1.ap+0f, -0x1p-3f, -0x1.1e97cap+2f, -0x1.4d6bdep+1f,
    0x1.6p-1f, 0x1.8p-3f, -0x1.3d96p-6f, 0x1.5e8194p-2f,
    0x1.2p-1f, 0x1.cp-2f, -0x1.5fd69p-3f, -0x1.f7f5a8p-1f,
    -0x1.6p+0f, 0x1.6p+1f, -0x1.f45a7p-1f, -0x1.eba59p-1f,
    0x1.ap-1f, -0x1.18p+1f, 0x1.75fd68p+1f, 0x1.0dfd68p+1f,
    -0x1.8p+1f, 0x0p+0f, -0x1.c5d2c8p+0f, -0x1.5169b8p-3f,
    -0x1.4p-1f, 0x1.4p-1f, -0x1.77f5a4p-1f, -0x1.8bfad4p+0f,
    0x1.ap-1f, 0x1.2p-1f, -0x1.a8b4ep-2f, -0x1.974b2p-2f,
    -0x1.6p+0f, 0x0p+0f, 0x1.2dfd6cp+1f, 0x1.8bfad4p+0f,
    -0x1.ap-1f, -0x1.18p+1f, -0x1.35d2c8p+0f, 0x1.974b24p-2f,
    0x1.ep-1f, -0x1.ap-1f, -0x1.75fd68p+1f, 0x1.480a58p-1f,
    0x1p-2f, 0x0p+0f, 0x1.c5d2c8p+0f, -0x1.4ae964p+1f,
    -0x1.ap-1f, 0x1.2p-1f, 0x1.5fd69p-3f, 0x1.ddfd6cp+1f,
    -0x1.6p+0f, -0x1.6p+1f, 0x1.f45a7p-1f, -0x1.ca2d38p+0f,
};
// clang-format on

TEST(FftBits, OneDimensionalForwardOfSixteen) {
    Samples a = fixed_input(16);
    fft_1d(a.unit_offset(), 16, 1);
    expect_bits(a, kForwardOfSixteen);
}

TEST(FftBits, TwoDimensionalInverseOfFourByEight) {
    Samples b = fixed_input(32);
    run_nd(b, {4, 8}, -1);
    expect_bits(b, kInverseOfFourByEight);
}

} // namespace
