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
// (and the bit-reversal permutation), built once per length, and leaves
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
#ifdef __SSE2__
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
#ifdef __SSE2__
    case FftPath::avx2:
        return fft_kernels::kAvx2;
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

// The bit-reversal permutation of 2^k indices: rev[i] is i with its k bits
// in reverse order.
using Reversal = std::vector<std::uint32_t>;
std::atomic<const Reversal*> g_reversals[kMaxLog2 + 1];
std::unique_ptr<Reversal> g_reversal_owners[kMaxLog2 + 1];

const std::uint32_t* reversal_for(unsigned log2n) {
    const Reversal* table = g_reversals[log2n].load(std::memory_order_acquire);
    if (table != nullptr)
        return table->data();
    std::lock_guard<std::mutex> lock(g_table_lock);
    if (!g_reversal_owners[log2n]) {
        const std::uint32_t n = std::uint32_t{1} << log2n;
        auto built = std::make_unique<Reversal>(n);
        for (std::uint32_t i = 1; i < n; i++) // rev(i) from rev(i / 2)
            (*built)[i] = ((*built)[i >> 1] >> 1) | ((i & 1u) << (log2n - 1));
        g_reversal_owners[log2n] = std::move(built);
        g_reversals[log2n].store(g_reversal_owners[log2n].get(), std::memory_order_release);
    }
    return g_reversal_owners[log2n]->data();
}

unsigned log2_of(std::uint32_t n) {
    unsigned k = 0;
    while ((std::uint32_t{1} << k) < n)
        k++;
    return k;
}

// Per-thread work buffers of the line transforms, kept between calls so a
// transform allocates nothing once they have grown to its length.
float* work_buffer(int which, std::size_t floats) {
    thread_local std::vector<float> buffers[3];
    std::vector<float>& b = buffers[which];
    if (b.size() < floats)
        b.resize(floats);
    return b.data();
}

// Everything one transform length needs.
struct Length {
    Length(std::uint32_t n, int isign)
        : n(n), log2n(log2_of(n)), stages(stages_for(log2n, isign)), rev(reversal_for(log2n)) {}
    std::uint32_t n;
    unsigned log2n;
    const Stage* stages;
    const std::uint32_t* rev;
};

// ---- Passes over whole arrays ------------------------------------------

// Transforms count contiguous lines of len.n samples each in place.
void transform_lines(const Kernels& k, float* x, const Length& len, std::uint32_t count) {
    const std::size_t line = 2 * static_cast<std::size_t>(len.n);
    float* work = work_buffer(0, line);
    for (std::uint32_t i = 0; i < count; i++) {
        k.line_begin(x + i * line, work, len.n, len.stages, len.rev);
        k.line_end(work, x + i * line, len.n, len.stages);
    }
}

// Transforms the lines of blocks of rows.n lines each and leaves every line
// at the bit-reversed position of its block, the order the transform across
// the lines starts from: lines l and rev(l) are both read into work buffers
// before either is written.
void transform_lines_into_reversed_rows(const Kernels& k, float* x, const Length& len,
                                        const Length& rows, std::uint32_t blocks) {
    const std::size_t line = 2 * static_cast<std::size_t>(len.n);
    float* first = work_buffer(0, line);
    float* second = work_buffer(1, line);
    for (std::uint32_t blk = 0; blk < blocks; blk++) {
        float* b = x + blk * line * rows.n;
        for (std::uint32_t l = 0; l < rows.n; l++) {
            const std::uint32_t r = rows.rev[l];
            if (r < l)
                continue; // done with its partner
            k.line_begin(b + l * line, first, len.n, len.stages, len.rev);
            if (r != l) {
                k.line_begin(b + r * line, second, len.n, len.stages, len.rev);
                k.line_end(second, b + l * line, len.n, len.stages);
            }
            k.line_end(first, b + r * line, len.n, len.stages);
        }
    }
}

void reverse_rows(float* x, std::size_t rowFloats, const Length& rows) {
    for (std::uint32_t i = 0; i < rows.n; i++)
        if (i < rows.rev[i])
            std::swap_ranges(x + i * rowFloats, x + (i + 1) * rowFloats,
                             x + rows.rev[i] * rowFloats);
}

// Transforms one dimension of rows.n rows of width samples, in each of the
// blocks; reversed: the rows are already in bit-reversed order.
void transform_rows(const Kernels& k, float* x, const Length& rows, std::uint32_t width,
                    std::uint32_t blocks, bool reversed) {
    const std::size_t row = 2 * static_cast<std::size_t>(width);
    for (std::uint32_t blk = 0; blk < blocks; blk++) {
        float* b = x + blk * row * rows.n;
        if (!reversed)
            reverse_rows(b, row, rows);
        k.rows(b, rows.n, width, rows.stages);
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
    if (ndim < 1 || ntot == 0)
        return;
    const Kernels& k = active_kernels();
    float* x = data + 1;

    // Dimensions last to first; nprev (the product of the lengths done so far)
    // is the sample stride of the current one. The last dimension's lines
    // are written straight to the bit-reversed order of the one before.
    const Length last(nn[ndim], isign);
    if (ndim == 1) {
        transform_lines(k, x, last, ntot / last.n);
        return;
    }
    const Length before(nn[ndim - 1], isign);
    transform_lines_into_reversed_rows(k, x, last, before, ntot / (last.n * before.n));
    std::uint32_t nprev = last.n;
    for (int dim = ndim - 1; dim >= 1; dim--) {
        const Length rows(nn[dim], isign);
        transform_rows(k, x, rows, nprev, ntot / (rows.n * nprev), dim == ndim - 1);
        nprev *= rows.n;
    }
}

void fft_2d_zero_inserted_from(const float* const* in, std::uint32_t lines, std::uint32_t samples,
                               float* data, int isign) {
    const Kernels& k = active_kernels();
    float* x = data + 1;
    const std::size_t line = 2 * static_cast<std::size_t>(samples);
    const Length along(samples, isign), half(samples / 2, isign), across(lines, isign);

    // Input line j is line 2j of the zero-inserted array: after the bit
    // reversal of its samples its data fill the lower half, whose transform
    // is that of the input line itself; the last stage meets the +0 of the
    // upper half. It goes to line rev(2j), in the lower half of the array.
    float* work = work_buffer(0, line);
    for (std::uint32_t j = 0; j < lines / 2; j++) {
        k.line_begin(in[j], work, half.n, half.stages, half.rev);
        k.line_end(work, work, half.n, half.stages);
        k.line_last_zero_upper(work, x + across.rev[2 * j] * line, samples,
                               along.stages[along.log2n]);
    }

    // Across lines the upper half (the odd lines) is +0 until the last stage.
    k.rows(x, lines / 2, samples, across.stages);
    k.rows_last_zero_upper(x, lines, samples, across.stages[across.log2n]);
}

void fft_2d_zero_inserted(float* data, std::uint32_t lines, std::uint32_t samples, int isign) {
    // The data samples (even lines, even samples) gathered into one block
    // first, since the transform writes over lines it has not read yet.
    const std::size_t inLine = static_cast<std::size_t>(samples); // floats of samples / 2
    float* patch = work_buffer(2, inLine * (lines / 2));
    thread_local std::vector<const float*> patchLines;
    patchLines.resize(lines / 2);
    for (std::uint32_t j = 0; j < lines / 2; j++) {
        const float* from = data + 1 + 2 * j * 2 * static_cast<std::size_t>(samples);
        float* to = patch + j * inLine;
        for (std::uint32_t c = 0; c < samples / 2; c++) {
            to[2 * c] = from[4 * c];
            to[2 * c + 1] = from[4 * c + 1];
        }
        patchLines[j] = to;
    }
    fft_2d_zero_inserted_from(patchLines.data(), lines, samples, data, isign);
}
