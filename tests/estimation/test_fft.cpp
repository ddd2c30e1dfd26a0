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
    std::size_t size() const { return buf.size() / 2 - 1; }
    float* data() { return buf.data(); }
    cd at(std::size_t k) const { return cd(buf[2 * k + 1], buf[2 * k + 2]); }
    bool guards_intact() const { return buf.front() == kGuard && buf.back() == kGuard; }
    std::vector<float> floats() const { return {buf.begin() + 1, buf.end() - 1}; }
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
    for (std::size_t i = 1; i <= 2 * count; i++)
        s.buf[i] = dist(gen);
    return s;
}

// The lengths list is unit-offset too; its element 0 holds garbage to show it
// is never read.
void run_nd(Samples& data, const Shape& shape, int sign) {
    Shape nn{0xDEADBEEFu};
    nn.insert(nn.end(), shape.begin(), shape.end());
    fft_nd(data.data(), nn.data(), int(shape.size()), sign);
}

// Naive DFT in double along every axis of a row-major array; the phase index
// jk is reduced modulo n so the kernel stays accurate for large n.
std::vector<cd> reference_dft(const Samples& data, const Shape& shape, int sign) {
    std::vector<cd> x(data.size());
    for (std::size_t k = 0; k < x.size(); k++)
        x[k] = data.at(k);
    for (std::size_t axis = 0; axis < shape.size(); axis++) {
        const std::size_t n = shape[axis];
        std::size_t stride = 1;
        for (std::size_t d = axis + 1; d < shape.size(); d++)
            stride *= shape[d];
        std::vector<cd> line(n);
        for (std::size_t base = 0; base < x.size(); base += n * stride)
            for (std::size_t s = 0; s < stride; s++) {
                for (std::size_t k = 0; k < n; k++) {
                    line[k] = 0;
                    for (std::size_t j = 0; j < n; j++)
                        line[k] += x[base + s + j * stride] *
                                   std::polar(1.0, sign * 2.0 * M_PI * double((j * k) % n) / n);
                }
                for (std::size_t k = 0; k < n; k++)
                    x[base + s + k * stride] = line[k];
            }
    }
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
    return std::numeric_limits<float>::epsilon() / 2 * (1.0 + std::log2(double(total)));
}

TEST(Fft, MatchesNaiveDftInOneTwoAndThreeDimensions) {
    std::vector<Shape> shapes = {{1, 1},   {1, 8},    {8, 1},   {2, 4},    {16, 32},
                                 {64, 64}, {128, 16}, {4, 256}, {4, 8, 2}, {2, 1, 16}};
    for (std::uint32_t n = 1; n <= 4096; n *= 2)
        shapes.push_back({n});
    for (const Shape& shape : shapes)
        for (int sign : {1, -1})
            for (bool nd : {false, true}) { // one-dimensional shapes through both transforms
                if (!nd && shape.size() > 1)
                    continue;
                const std::size_t total = total_of(shape);
                Samples data = random_samples(total, 7 + unsigned(total) + shape[0]);
                const std::vector<cd> ref = reference_dft(data, shape, sign);
                nd ? run_nd(data, shape, sign) : fft_1d(data.data(), shape[0], sign);
                EXPECT_LE(relative_l2_error(data, ref), error_bound(total))
                    << "nd=" << nd << " shape[0]=" << shape[0] << " dims=" << shape.size()
                    << " sign=" << sign;
                EXPECT_TRUE(data.guards_intact());
            }
}

// Rounding is symmetric in sign, so the inverse of x is exactly the conjugate
// of the forward transform of conj(x): the sign may only flip the sines. (The
// reference loop nest pins both signs of fft_nd bit for bit.)
TEST(Fft, InverseIsTheConjugateOfTheForwardOfTheConjugate) {
    Samples inverse = random_samples(512, 9), conj_forward = inverse;
    for (std::size_t k = 0; k < 512; k++)
        conj_forward.buf[2 * k + 2] = -conj_forward.buf[2 * k + 2];
    fft_1d(inverse.data(), 512, -1);
    fft_1d(conj_forward.data(), 512, 1);
    for (std::size_t k = 0; k < 512; k++)
        ASSERT_EQ(inverse.at(k), std::conj(conj_forward.at(k))) << "k=" << k;
}

// The zero-skipping transform of a patch with zeros inserted (data at even
// lines and samples) against the naive DFT.
TEST(Fft, ZeroInsertedTransformMatchesNaiveDft) {
    for (std::uint32_t lines = 2; lines <= 128; lines <<= 1)
        for (std::uint32_t samples = 2; samples <= 64; samples <<= 2)
            for (int sign : {1, -1}) {
                Samples data = random_samples(lines * samples, lines * 7 + samples);
                for (std::uint32_t k = 0; k < lines * samples; k++)
                    if ((k / samples) % 2 || k % 2)
                        data.buf[2 * k + 1] = data.buf[2 * k + 2] = 0.0f;
                const std::vector<cd> ref = reference_dft(data, {lines, samples}, sign);
                fft_2d_zero_inserted(data.data(), lines, samples, sign);
                EXPECT_LE(relative_l2_error(data, ref), error_bound(lines * samples))
                    << lines << " x " << samples << " sign " << sign;
                EXPECT_TRUE(data.guards_intact());
            }
}

} // namespace
