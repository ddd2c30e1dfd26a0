#include "estimation/fft.h"

#include "estimation/fft_kernels.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// Both transforms address the floats from element 1: the real part of the
// zero-based sample k is data[2k+1], its imaginary part data[2k+2].
//
// The arithmetic below is part of the results: the twiddle factors come from a
// double-precision recurrence started from two sines per stage, and the 2 pi
// constant keeps its 15-digit spelling. fft_1d rounds the double butterfly
// product to float; fft_nd rounds the twiddle to float and works in float
// throughout. fft_nd keeps the float twiddles the recurrence yields in tables
// (and the bit-reversal swaps in lists), built once per length, and leaves
// the butterflies to the kernels of one instruction-set path
// (fft_kernels.h); every sample sees the same operations on the same values
// in every path, so the results are those of the plain loops bit for bit.

namespace {

constexpr double kTwoPi = 6.28318530717959;

// Twiddle factor w = exp(i theta * g) for the g-th group of a stage, advanced
// group by group through the trigonometric recurrence.
class TwiddleRecurrence {
public:
    explicit TwiddleRecurrence(double theta) {
        const double wtemp = std::sin(0.5 * theta);
        wpr_ = -2.0 * wtemp * wtemp;
        wpi_ = std::sin(theta);
    }
    double re() const { return wr_; }
    double im() const { return wi_; }
    void advance() {
        const double wr_old = wr_;
        wr_ = wr_ + (wr_ * wpr_ - wi_ * wpi_);
        wi_ = wi_ + (wi_ * wpr_ + wr_old * wpi_);
    }

private:
    double wpr_;
    double wpi_;
    double wr_ = 1.0;
    double wi_ = 0.0;
};

void swap_samples(float* data, std::uint32_t i, std::uint32_t j) {
    std::swap(data[i], data[j]);
    std::swap(data[i + 1], data[j + 1]);
}

} // namespace

void fft_1d(float* data, std::uint32_t n, int isign) {
    const std::uint32_t nfloats = n << 1;

    // Bit-reversal permutation; j is the reversed float position of i.
    std::uint32_t j = 1;
    for (std::uint32_t i = 1; i < nfloats; i += 2) {
        if (j > i)
            swap_samples(data, i, j);
        std::uint32_t m = n;
        while (m >= 2 && j > m) {
            j -= m;
            m >>= 1;
        }
        j += m;
    }

    // Danielson-Lanczos stages; span is the distance in floats between the
    // two inputs of a butterfly.
    for (std::uint32_t span = 2; nfloats > span; span <<= 1) {
        const std::uint32_t step = span << 1;
        TwiddleRecurrence w((kTwoPi / span) * isign);
        for (std::uint32_t group = 1; group < span; group += 2) {
            for (std::uint32_t i = group; i <= nfloats; i += step) {
                const std::uint32_t k = i + span;
                const float tr = static_cast<float>(w.re() * data[k] - w.im() * data[k + 1]);
                const float ti = static_cast<float>(w.re() * data[k + 1] + w.im() * data[k]);
                data[k] = data[i] - tr;
                data[k + 1] = data[i + 1] - ti;
                data[i] += tr;
                data[i + 1] += ti;
            }
            w.advance();
        }
    }
}

namespace {

using fft_kernels::Kernels;
using fft_kernels::Stage;

// ---- Instruction-set path ----------------------------------------------

bool processor_has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

const char* path_name(FftPath path) {
    switch (path) {
    case FftPath::scalar:
        return "scalar";
    case FftPath::sse2:
        return "sse2";
    case FftPath::avx2:
        return "avx2";
    }
    return "?";
}

FftPath widest_supported_path() {
    if (fft_path_supported(FftPath::avx2))
        return FftPath::avx2;
    if (fft_path_supported(FftPath::sse2))
        return FftPath::sse2;
    return FftPath::scalar;
}

// FINECOREG_FFT_PATH names a path to force; unset, the widest one runs. A
// name this processor cannot run is reported once on standard error (the
// module's standard output is part of its results) and the widest runs.
FftPath path_from_environment() {
    const char* requested = std::getenv("FINECOREG_FFT_PATH");
    const FftPath widest = widest_supported_path();
    if (requested == nullptr || *requested == '\0')
        return widest;
    for (FftPath path : {FftPath::scalar, FftPath::sse2, FftPath::avx2})
        if (std::strcmp(requested, path_name(path)) == 0 && fft_path_supported(path))
            return path;
    std::fprintf(stderr,
                 "FINECOREG_FFT_PATH=%s: not a transform path of this processor; using %s\n",
                 requested, path_name(widest));
    return widest;
}

constexpr int kPathUnset = -1;
std::atomic<int> g_path{kPathUnset};

const Kernels& kernels_of(FftPath path) {
    switch (path) {
#if defined(__x86_64__) || defined(__i386__)
    case FftPath::avx2:
        return fft_kernels::kAvx2;
#endif
#ifdef __SSE2__
    case FftPath::sse2:
        return fft_kernels::kSse2;
#endif
    default:
        return fft_kernels::kScalar;
    }
}

const Kernels& active_kernels() {
    return kernels_of(fft_path());
}

// ---- Tables that depend only on the length -----------------------------

// Tables are built on first use under one lock and published through atomic
// pointers; once published they never change and live until the process ends.
std::mutex g_table_lock;

constexpr unsigned kMaxLog2 = 32; // lengths stay below 2^32

// The stage list of one sign: entry k (1 <= k <= built) is the stage whose
// butterflies lie 2^(k-1) samples apart.
struct StageList {
    Stage stages[kMaxLog2 + 1] = {};
    std::vector<float> storage[kMaxLog2 + 1];
    std::atomic<unsigned> built{0};
};
StageList g_stage_lists[2];

// The float twiddles of the stage with span ratio 2^k, exactly as the
// recurrence yields them group by group (double recurrence, rounded to float
// once per group), laid out as Stage describes.
void build_stage(StageList& list, unsigned k, int isign) {
    const std::uint32_t ratio = 1u << k;
    const std::uint32_t groups = ratio >> 1;
    std::vector<float>& v = list.storage[k];
    v.resize(4 * static_cast<std::size_t>(groups));
    float* re = v.data();
    float* im = re + 2 * static_cast<std::size_t>(groups);
    TwiddleRecurrence w(isign * kTwoPi / ratio);
    for (std::uint32_t g = 0; g < groups; g++) {
        const float wr = static_cast<float>(w.re());
        const float wi = static_cast<float>(w.im());
        re[2 * g] = re[2 * g + 1] = wr;
        im[2 * g] = -wi;
        im[2 * g + 1] = wi;
        w.advance();
    }
    list.stages[k] = Stage{re, im};
}

// Stages 1..log2n of sign isign, built if needed.
const Stage* stages_for(unsigned log2n, int isign) {
    StageList& list = g_stage_lists[isign > 0 ? 1 : 0];
    if (list.built.load(std::memory_order_acquire) < log2n) {
        std::lock_guard<std::mutex> lock(g_table_lock);
        for (unsigned k = list.built.load(std::memory_order_relaxed) + 1; k <= log2n; k++)
            build_stage(list, k, isign);
        if (list.built.load(std::memory_order_relaxed) < log2n)
            list.built.store(log2n, std::memory_order_release);
    }
    return list.stages;
}

// The exchanges of the bit-reversal permutation of 2^k indices: the pairs
// (i, rev(i)) with i < rev(i), in increasing i.
using SwapList = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
std::atomic<const SwapList*> g_swap_lists[kMaxLog2 + 1];
std::unique_ptr<SwapList> g_swap_owners[kMaxLog2 + 1];

const SwapList& swaps_for(unsigned log2n) {
    const SwapList* list = g_swap_lists[log2n].load(std::memory_order_acquire);
    if (list != nullptr)
        return *list;
    std::lock_guard<std::mutex> lock(g_table_lock);
    if (!g_swap_owners[log2n]) {
        auto built = std::make_unique<SwapList>();
        const std::uint32_t n = 1u << log2n;
        std::uint32_t rev = 0;
        for (std::uint32_t i = 0; i < n; i++) {
            if (i < rev)
                built->emplace_back(i, rev);
            std::uint32_t bit = n >> 1;
            while (bit >= 1 && rev >= bit) {
                rev -= bit;
                bit >>= 1;
            }
            rev += bit;
        }
        g_swap_owners[log2n] = std::move(built);
        g_swap_lists[log2n].store(g_swap_owners[log2n].get(), std::memory_order_release);
    }
    return *g_swap_owners[log2n];
}

unsigned log2_of(std::uint32_t n) {
    unsigned k = 0;
    while ((std::uint32_t{1} << k) < n)
        k++;
    return k;
}

// ---- One dimension -----------------------------------------------------

void reverse_samples(float* x, const SwapList& swaps) {
    for (const auto& s : swaps) {
        std::uint64_t a, b; // one complex sample each
        std::memcpy(&a, x + 2 * s.first, sizeof a);
        std::memcpy(&b, x + 2 * s.second, sizeof b);
        std::memcpy(x + 2 * s.first, &b, sizeof b);
        std::memcpy(x + 2 * s.second, &a, sizeof a);
    }
}

void reverse_rows(float* x, std::size_t rowFloats, const SwapList& swaps) {
    for (const auto& s : swaps)
        std::swap_ranges(x + s.first * rowFloats, x + (s.first + 1) * rowFloats,
                         x + s.second * rowFloats);
}

// Transforms one dimension of length n whose samples lie stride samples
// apart, in every one of the blocks of n * stride samples that `active`
// admits. With halfOccupied, every transform of the dimension is known to
// hold data at even indices only and exact +0 elsewhere: after the bit
// reversal those zeros fill the upper half, where every butterfly before the
// last stage only turns +0 into +0, so only the lower half is transformed
// before the last stage.
template <class Active>
void transform_dimension(float* x, std::uint32_t n, std::uint32_t stride, std::uint32_t blocks,
                         int isign, bool halfOccupied, Active active) {
    if (n < 2)
        return;
    const unsigned log2n = log2_of(n);
    const Stage* stages = stages_for(log2n, isign);
    const SwapList& swaps = swaps_for(log2n);
    const Kernels& k = active_kernels();
    const std::size_t rowFloats = 2 * static_cast<std::size_t>(stride);
    for (std::uint32_t blk = 0; blk < blocks; blk++) {
        if (!active(blk))
            continue;
        float* b = x + blk * rowFloats * n;
        if (stride == 1) {
            reverse_samples(b, swaps);
            if (halfOccupied) {
                k.line(b, n / 2, stages);
                k.line_last(b, n, stages[log2n]);
            } else {
                k.line(b, n, stages);
            }
        } else {
            reverse_rows(b, rowFloats, swaps);
            if (halfOccupied) {
                k.rows(b, n / 2, stride, stages);
                k.rows_last(b, n, stride, stages[log2n]);
            } else {
                k.rows(b, n, stride, stages);
            }
        }
    }
}

} // namespace

bool fft_path_supported(FftPath path) {
    switch (path) {
    case FftPath::scalar:
        return true;
    case FftPath::sse2:
#ifdef __SSE2__
        return true;
#else
        return false;
#endif
    case FftPath::avx2:
        return processor_has_avx2();
    }
    return false;
}

FftPath fft_path() {
    int path = g_path.load(std::memory_order_acquire);
    if (path == kPathUnset) {
        int expected = kPathUnset;
        g_path.compare_exchange_strong(expected, static_cast<int>(path_from_environment()));
        path = g_path.load(std::memory_order_acquire);
    }
    return static_cast<FftPath>(path);
}

bool set_fft_path(FftPath path) {
    if (!fft_path_supported(path))
        return false;
    g_path.store(static_cast<int>(path), std::memory_order_release);
    return true;
}

const char* fft_path_name(FftPath path) {
    return path_name(path);
}

void fft_nd(float* data, const std::uint32_t* nn, int ndim, int isign) {
    std::uint32_t ntot = 1;
    for (int dim = 1; dim <= ndim; dim++)
        ntot *= nn[dim];

    // Dimensions last to first; nprev (the product of the lengths done so far)
    // is the sample stride of the current one.
    std::uint32_t nprev = 1;
    for (int dim = ndim; dim >= 1; dim--) {
        const std::uint32_t n = nn[dim];
        transform_dimension(data + 1, n, nprev, ntot / (n * nprev), isign, false,
                            [](std::uint32_t) { return true; });
        nprev *= n;
    }
}

void fft_2d_zero_inserted(float* data, std::uint32_t lines, std::uint32_t samples, int isign) {
    // Odd lines are all zeros and stay so through the transforms along lines.
    transform_dimension(data + 1, samples, 1, lines, isign, true,
                        [](std::uint32_t line) { return line % 2 == 0; });
    transform_dimension(data + 1, lines, samples, 1, isign, true,
                        [](std::uint32_t) { return true; });
}
