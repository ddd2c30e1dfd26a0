// The table-driven, reordered fft_nd and the zero-skipping transform of
// zero-inserted patches against the plain loop nest, bit for bit, on random
// data at every size the stage meets (2W x 2H for windows of 8 to 256) and
// in one and three dimensions.
#include "estimation/fft.h"
#include "fft_nd_reference.h"

#include <cstdint>
#include <cstring>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

std::vector<float> random_samples(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::normal_distribution<float> gauss(0.0f, 3.0f);
    std::vector<float> v(2 * count);
    for (float& x : v)
        x = gauss(generator);
    return v;
}

// Equal bit patterns, so signed zeros and NaN payloads count too.
::testing::AssertionResult same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size())
        return ::testing::AssertionFailure() << "sizes differ";
    for (std::size_t i = 0; i < a.size(); i++)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
            return ::testing::AssertionFailure()
                   << "float " << i << ": " << a[i] << " against " << b[i];
    return ::testing::AssertionSuccess();
}

void expect_same_as_reference(std::vector<std::uint32_t> shape, unsigned seed) {
    std::uint32_t count = 1;
    for (std::uint32_t n : shape)
        count *= n;
    shape.insert(shape.begin(), 0); // element 0 is not read
    const int ndim = static_cast<int>(shape.size()) - 1;
    for (int sign : {1, -1}) {
        std::vector<float> fast = random_samples(count, seed), reference = fast;
        fft_nd(fast.data() - 1, shape.data(), ndim, sign);
        fft_nd_reference(reference.data() - 1, shape.data(), ndim, sign);
        EXPECT_TRUE(same_bits(reference, fast)) << "dims " << ndim << " sign " << sign;
    }
}

TEST(FftNdFast, OneDimensionReproducesThePlainLoops) {
    for (std::uint32_t n = 1; n <= 1024; n <<= 1)
        expect_same_as_reference({n}, n);
}

TEST(FftNdFast, TwoDimensionsReproduceThePlainLoopsAtEveryWindowSize) {
    for (std::uint32_t lines = 16; lines <= 512; lines <<= 1)
        for (std::uint32_t samples = 16; samples <= 512; samples <<= 1)
            if (lines * samples <= 256 * 512)
                expect_same_as_reference({lines, samples}, lines + samples);
    expect_same_as_reference({1, 64}, 3);
    expect_same_as_reference({64, 1}, 4);
}

TEST(FftNdFast, ThreeDimensionsReproduceThePlainLoops) {
    expect_same_as_reference({4, 8, 16}, 5);
    expect_same_as_reference({16, 2, 8}, 6);
}

// A patch with zeros inserted: data at even lines and samples, +0 elsewhere.
std::vector<float> zero_inserted(std::uint32_t lines, std::uint32_t samples, unsigned seed) {
    std::vector<float> v(2 * static_cast<std::size_t>(lines) * samples, 0.0f);
    const std::vector<float> data = random_samples(v.size() / 2, seed);
    for (std::uint32_t r = 0; r < lines; r += 2)
        for (std::uint32_t c = 0; c < samples; c += 2) {
            const std::size_t k = 2 * (static_cast<std::size_t>(r) * samples + c);
            v[k] = data[k];
            v[k + 1] = data[k + 1];
        }
    // Negative zeros among the data must survive as they would in fft_nd.
    v[0] = -0.0f;
    v[3] = -0.0f;
    return v;
}

TEST(FftZeroInserted, ReproducesFftNdOfTheSameArray) {
    for (std::uint32_t lines = 2; lines <= 512; lines <<= 1)
        for (std::uint32_t samples = 2; samples <= 512; samples <<= 1) {
            if (lines * samples > 256 * 512)
                continue;
            for (int sign : {1, -1}) {
                std::vector<float> fast = zero_inserted(lines, samples, lines * 7 + samples);
                std::vector<float> reference = fast;
                const std::uint32_t nn[3] = {0, lines, samples};
                fft_2d_zero_inserted(fast.data() - 1, lines, samples, sign);
                fft_nd_reference(reference.data() - 1, nn, 2, sign);
                EXPECT_TRUE(same_bits(reference, fast))
                    << lines << " x " << samples << " sign " << sign;
            }
        }
}

} // namespace
