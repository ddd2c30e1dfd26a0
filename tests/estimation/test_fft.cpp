#include "estimation/fft.h"
#include "fft_nd_reference.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <string>
#include <vector>

// Paths print by name in test reports.
void PrintTo(FftPath path, std::ostream* os) {
    *os << fft_path_name(path);
}

namespace {

using cd = std::complex<double>;
using Shape = std::vector<std::uint32_t>;
using NdTransform = void (*)(float*, const std::uint32_t*, int, int);

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
void run_nd(Samples& data, const Shape& shape, int sign, NdTransform transform = fft_nd) {
    Shape nn{0xDEADBEEFu};
    nn.insert(nn.end(), shape.begin(), shape.end());
    transform(data.data(), nn.data(), int(shape.size()), sign);
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

// Equal bit patterns, so signed zeros count too.
testing::AssertionResult same_bits(const std::vector<float>& got, const std::vector<float>& want) {
    if (got.size() != want.size())
        return testing::AssertionFailure() << "sizes differ";
    for (std::size_t i = 0; i < got.size(); i++)
        if (std::memcmp(&got[i], &want[i], sizeof(float)) != 0)
            return testing::AssertionFailure()
                   << "float " << i << ": " << std::hexfloat << got[i] << " against " << want[i];
    return testing::AssertionSuccess();
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

// One transform of all 128 samples: fft_1d, or fft_nd as 8 x 16.
void transform128(Samples& s, bool nd, int sign) {
    nd ? run_nd(s, {8, 16}, sign) : fft_1d(s.data(), 128, sign);
}

TEST(Fft, ImpulseAtZeroGivesExactOnesAndRoundTripScalesByTheCount) {
    for (bool nd : {false, true}) {
        for (int sign : {1, -1}) {
            Samples impulse(128);
            impulse.buf[1] = 1.0f;
            transform128(impulse, nd, sign);
            for (std::size_t k = 0; k < 128; k++)
                ASSERT_EQ(impulse.at(k), cd(1, 0)) << "nd=" << nd << " k=" << k;
        }
        Samples s = random_samples(128, 42);
        std::vector<cd> expected(128);
        for (std::size_t k = 0; k < 128; k++)
            expected[k] = s.at(k) * 128.0;
        transform128(s, nd, 1);
        transform128(s, nd, -1);
        EXPECT_LE(relative_l2_error(s, expected), 2 * error_bound(128)) << "nd=" << nd;
    }
}

// Every instruction-set path of fft_nd and fft_2d_zero_inserted against the
// plain loop nest, bit for bit. Each case runs with its path forced, the
// plain scalar one included (the processor's widest path runs otherwise).
class FftPathBits : public testing::TestWithParam<FftPath> {
protected:
    void SetUp() override {
        if (!fft_path_supported(GetParam()))
            GTEST_SKIP() << "this processor lacks " << fft_path_name(GetParam());
        saved_ = fft_path();
        ASSERT_TRUE(set_fft_path(GetParam()));
    }
    void TearDown() override { set_fft_path(saved_); }

private:
    FftPath saved_ = FftPath::scalar;
};

// Random data at every size the stage meets (2W x 2H for windows of 8 to 256),
// in one and three dimensions, and shapes whose lines or rows are narrower
// than a vector.
TEST_P(FftPathBits, FftNdReproducesThePlainLoopNest) {
    std::vector<Shape> shapes = {{1, 64}, {64, 1},   {4, 8, 16}, {16, 2, 8}, {2, 2},
                                 {4, 2},  {8, 4, 1}, {2, 16},    {32, 2, 2}, {2, 4, 4}};
    for (std::uint32_t n = 1; n <= 1024; n <<= 1)
        shapes.push_back({n});
    for (std::uint32_t lines = 16; lines <= 512; lines <<= 1)
        for (std::uint32_t samples = 16; samples <= 512 && lines * samples <= 256 * 512;
             samples <<= 1)
            shapes.push_back({lines, samples});
    for (const Shape& shape : shapes)
        for (int sign : {1, -1}) {
            Samples fast = random_samples(total_of(shape), unsigned(shape[0] + shape.back()));
            Samples reference = fast;
            run_nd(fast, shape, sign);
            run_nd(reference, shape, sign, fft_nd_reference);
            EXPECT_TRUE(same_bits(fast.buf, reference.buf))
                << shape[0] << " x " << shape.back() << " dims " << shape.size() << " sign "
                << sign;
        }
}

// The zero-skipping transforms of a patch with zeros inserted (data at even
// lines and samples, +0 elsewhere) against the plain loop nest: in place, and
// from the patch's own lines (kept apart, with guards between) into an array
// whose old contents are NaN and must not be read.
TEST_P(FftPathBits, ZeroInsertedTransformsReproduceThePlainLoopNest) {
    for (std::uint32_t lines = 2; lines <= 512; lines <<= 1)
        for (std::uint32_t samples = 2; samples <= 512 && lines * samples <= 256 * 512;
             samples <<= 1)
            for (int sign : {1, -1}) {
                Samples inPlace = random_samples(lines * samples, lines * 7 + samples);
                std::vector<Samples> patch;
                for (std::uint32_t r = 0; r < lines; r++)
                    for (std::uint32_t c = 0; c < samples; c++) {
                        float* v = &inPlace.buf[2 * (r * samples + c) + 1];
                        if (r % 2 || c % 2)
                            v[0] = v[1] = 0.0f;
                        else if (c == 0)
                            patch.emplace_back(samples / 2);
                        if (r % 2 == 0 && c % 2 == 0)
                            std::memcpy(&patch.back().buf[c + 1], v, 2 * sizeof(float));
                    }
                // Negative zeros among the data must survive as they would in fft_nd.
                inPlace.buf[1] = patch[0].buf[1] = -0.0f;
                if (samples >= 4)
                    inPlace.buf[6] = patch[0].buf[4] = -0.0f;
                Samples reference = inPlace, fromPatch(lines * samples);
                std::fill(fromPatch.buf.begin() + 1, fromPatch.buf.end() - 1, std::nanf(""));
                std::vector<const float*> patchLines;
                for (const Samples& line : patch)
                    patchLines.push_back(line.buf.data() + 1);

                fft_2d_zero_inserted(inPlace.data(), lines, samples, sign);
                fft_2d_zero_inserted_from(patchLines.data(), lines, samples, fromPatch.data(),
                                          sign);
                run_nd(reference, {lines, samples}, sign, fft_nd_reference);
                EXPECT_TRUE(same_bits(inPlace.buf, reference.buf))
                    << lines << " x " << samples << " sign " << sign;
                EXPECT_TRUE(same_bits(fromPatch.floats(), reference.floats()))
                    << lines << " x " << samples << " sign " << sign << " from the patch";
                EXPECT_TRUE(fromPatch.guards_intact());
            }
}

INSTANTIATE_TEST_SUITE_P(Paths, FftPathBits,
                         testing::Values(FftPath::scalar, FftPath::sse2, FftPath::avx2),
                         [](const testing::TestParamInfo<FftPath>& info) {
                             return std::string(fft_path_name(info.param));
                         });

} // namespace
