// Stage 2: fits the range and azimuth offset polynomials to the grid of offset
// measurements left by stage 1, culls outliers and weak measurements in passes
// until the scatter settles, and writes the culled work files and the new
// offset parameter file.

#include "fitting/stage_two.h"

#include "fitting/svd.h"
#include "numeric/alloc.h"
#include "numeric/fcomplex.h"
#include "params/estimation_grid.h"
#include "params/file_handle.h"
#include "params/offset_par.h"
#include "params/offset_par_file.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr int kTerms = 6;                // c0..c5 of 1, x, y, xy, x^2, y^2
constexpr double kRejectedSigma = 1.0e9; // culled measurements stay in the fit with this sigma
constexpr float kOffsetLimit = 1.0e9f;   // offsets this large (or NaN) are no measurement

// naz lines of nr elements as line pointers over one contiguous block, so a
// whole azimuth line is read or written in one call. Plain heap allocations:
// their failure is reported to the host, not fatal.
template <class T> class Grid {
public:
    bool allocate(int nr, int naz) {
        count_ = static_cast<std::size_t>(nr) * static_cast<std::size_t>(naz);
        block_.reset(new (std::nothrow) T[count_]);
        lines_.reset(new (std::nothrow) T*[naz]);
        if (!block_ || !lines_)
            return false;
        for (int i = 0; i < naz; i++)
            lines_[i] = block_.get() + static_cast<std::size_t>(i) * nr;
        clear();
        return true;
    }
    void clear() { std::fill_n(block_.get(), count_, T{}); }
    T* operator[](int line) const { return lines_[line]; }

private:
    std::unique_ptr<T[]> block_;
    std::unique_ptr<T*[]> lines_;
    std::size_t count_ = 0;
};

// Reads count floats into line; whatever the file does not supply stays zero
// (a zero range offset then means no measurement).
void read_floats(std::FILE* stream, float* line, std::size_t count) {
    const std::size_t got = std::fread(line, sizeof(float), count, stream);
    std::fill(line + got, line + count, 0.0f);
}

// The accepted measurements, 1-based with room for every grid position. A
// culled measurement keeps its slot with the rejection sigma.
struct Measurements {
    explicit Measurements(int capacity)
        : x(1, capacity), y(1, capacity), range(1, capacity), azimuth(1, capacity),
          snr(1, capacity), sigma(1, capacity), cell(static_cast<std::size_t>(capacity) + 1) {
        for (int k = 1; k <= capacity; k++) {
            x[k] = y[k] = range[k] = azimuth[k] = snr[k] = 0.0;
            sigma[k] = 1.0;
        }
    }
    bool culled(int k) const { return sigma[k] == kRejectedSigma; }

    DVector x, y, range, azimuth, snr, sigma;
    std::vector<std::size_t> cell; // grid position (row-major) of each measurement
    int count = 0;
};

// One offset's fitted polynomial (1-based, fit coefficient k is c(k-1)) and
// the covariance of its last fit, addressed [1..6][1..6].
struct OffsetModel {
    OffsetModel() : coef(1, kTerms), covariance(kTerms + 1, kTerms + 1) {
        std::fill_n(coef.get() + 1, kTerms, 0.0);
    }
    double at(double x, double y) const { return eval_offset_poly(coef.get() + 1, x, y); }

    DVector coef;
    Array2D<double> covariance;
};

// Design matrix and decomposition, shared by the range and azimuth fits.
struct SvdWork {
    explicit SvdWork(int rows) : u(1, rows, 1, kTerms), v(1, kTerms, 1, kTerms), w(1, kTerms) {
        for (int i = 1; i <= rows; i++)
            std::fill_n(u.get()[i] + 1, kTerms, 0.0);
        for (int i = 1; i <= kTerms; i++)
            std::fill_n(v.get()[i] + 1, kTerms, 0.0);
        std::fill_n(w.get() + 1, kTerms, 0.0);
    }

    DMatrix u, v;
    DVector w;
};

struct Scatter {
    double range;
    double azimuth;
};

void fit_offset(Measurements& ms, double* data, SvdWork& work, OffsetModel& model,
                const char* heading) {
    double chisq = 0.0;
    svd_fit(ms.x, ms.y, data, ms.sigma, ms.count, model.coef, kTerms, work.u, work.v, work.w,
            &chisq, offset_poly_basis);
    std::printf("%s", heading);
    for (int k = 1; k <= kTerms; k++)
        std::printf(" %13.5e", work.w[k]);
    svd_covar(work.v, kTerms, work.w, model.covariance.get());
}

void fit_both(Measurements& ms, SvdWork& work, OffsetModel& range, OffsetModel& azimuth) {
    fit_offset(ms, ms.range, work, range, "\nrange fit SVD singular values:     ");
    fit_offset(ms, ms.azimuth, work, azimuth, "\nazimuth fit SVD singular values:   ");
    std::printf("\n");
}

void print_coefficients(const double* c) {
    std::printf(" %13.5f", c[0]);
    for (int k = 1; k < kTerms; k++)
        std::printf(" %13.5e", c[k]);
}

// Standard errors of the coefficients: the covariance diagonal scaled by
// the fit's scatter.
void coefficient_errors(const OffsetModel& model, double scatter, double errors[kTerms]) {
    for (int k = 1; k <= kTerms; k++)
        errors[k - 1] = std::sqrt(model.covariance[k][k]) * scatter;
}

void print_errors(const OffsetModel& model, double scatter) {
    double errors[kTerms];
    coefficient_errors(model, scatter, errors);
    for (double e : errors)
        std::printf(" %13.5e", e);
}

// Grid index of a position: round half away from zero, then truncate.
int grid_index(double position, int start, int spacing) {
    const double cell = (position - start) / spacing;
    return static_cast<int>(cell >= 0.0 ? cell + 0.5 : cell - 0.5);
}

// True when every position k < count is a 32-bit value (the positions are
// linear in k, so the last one decides).
bool grid_positions_fit(long long last) {
    return last >= INT_MIN && last <= INT_MAX;
}

// Reads the offsets and SNR grids line by line, prints every position and
// takes the usable ones into the measurement list, in line-major order.
void read_measurements(std::FILE* offsetsFile, std::FILE* snrFile, const EstimationGrid& g,
                       const Grid<fcomplex>& offs, const Grid<float>& snrs, Measurements& ms) {
    DVector xPos(0, g.rangeSamples - 1), yPos(0, g.azimuthSamples - 1);
    for (int j = 0; j < g.rangeSamples; j++)
        xPos[j] = static_cast<double>(g.range_position(j));
    for (int i = 0; i < g.azimuthSamples; i++)
        yPos[i] = static_cast<double>(g.azimuth_position(i));

    std::rewind(offsetsFile);
    std::rewind(snrFile);
    for (int i = 0; i < g.azimuthSamples; i++) {
        read_floats(offsetsFile, reinterpret_cast<float*>(offs[i]),
                    2 * static_cast<std::size_t>(g.rangeSamples));
        read_floats(snrFile, snrs[i], static_cast<std::size_t>(g.rangeSamples));
        for (int j = 0; j < g.rangeSamples; j++) {
            const float re = offs[i][j].re;
            const float im = offs[i][j].im;
            const float s = snrs[i][j];
            std::printf("offs[i][j].re,offs[i][j].im,snrs[i][j]: %12.6f %12.6f %12.6f\n", re, im,
                        s);
            // A zero range offset marks a position without a measurement; an
            // SNR that is not finite and positive gives a sigma the fit cannot take.
            if (re == 0.0f || !(std::fabs(re) < kOffsetLimit) || !(std::fabs(im) < kOffsetLimit))
                continue;
            if (!(std::isfinite(s) && s > 0.0f))
                continue;
            const int k = ++ms.count;
            ms.x[k] = xPos[j];
            ms.y[k] = yPos[i];
            ms.range[k] = re;
            ms.azimuth[k] = im;
            ms.snr[k] = s;
            ms.sigma[k] = 1.0 / s;
            ms.cell[k] = static_cast<std::size_t>(i) * g.rangeSamples + j;
        }
    }
}

// Scatter of the first fit over every measurement (divisor M, not M - 6).
Scatter starting_scatter(const Measurements& ms, const OffsetModel& range,
                         const OffsetModel& azimuth) {
    double ssr = 0.0, ssa = 0.0;
    for (int k = 1; k <= ms.count; k++) {
        const double dRange = range.at(ms.x[k], ms.y[k]) - ms.range[k];
        const double dAzimuth = azimuth.at(ms.x[k], ms.y[k]) - ms.azimuth[k];
        ssr += dRange * dRange;
        ssa += dAzimuth * dAzimuth;
    }
    if (ms.count <= kTerms)
        return {0.0, 0.0};
    return {std::sqrt(ssr / ms.count), std::sqrt(ssa / ms.count)};
}

// One culling pass: culls against the latest fit and the scatter of the step
// before, refits, stores the polynomials in the record, rebuilds the culled
// grid and replaces the scatter with that of the survivors. Returns how many
// measurements survive.
int culling_pass(Measurements& ms, SvdWork& work, OffsetModel& range, OffsetModel& azimuth,
                 double snrThreshold, const EstimationGrid& g, Grid<fcomplex>& culled,
                 stOffsetParInfo& par, Scatter& scatter) {
    culled.clear();
    const double rangeLimit = 2.5 * scatter.range;
    const double azimuthLimit = 2.5 * scatter.azimuth;
    for (int k = 1; k <= ms.count; k++) {
        const bool keep = std::fabs(ms.range[k] - range.at(ms.x[k], ms.y[k])) < rangeLimit &&
                          std::fabs(ms.azimuth[k] - azimuth.at(ms.x[k], ms.y[k])) < azimuthLimit &&
                          ms.snr[k] > snrThreshold;
        if (!keep)
            ms.sigma[k] = kRejectedSigma;
    }

    fit_both(ms, work, range, azimuth);
    for (int k = 0; k < kTerms; k++) {
        par.range_offset_polynomial[k] = range.coef[k + 1];
        par.azimuth_offset_polynomial[k] = azimuth.coef[k + 1];
    }

    int accepted = 0;
    double ssr = 0.0, ssa = 0.0;
    for (int k = 1; k <= ms.count; k++) {
        if (ms.culled(k))
            continue;
        accepted++;
        const double dRange =
            eval_offset_poly(par.range_offset_polynomial, ms.x[k], ms.y[k]) - ms.range[k];
        const double dAzimuth =
            eval_offset_poly(par.azimuth_offset_polynomial, ms.x[k], ms.y[k]) - ms.azimuth[k];
        ssr += dRange * dRange;
        ssa += dAzimuth * dAzimuth;
        fcomplex& cell = culled[grid_index(ms.y[k], g.azimuthStart, g.azimuthSpacing)]
                               [grid_index(ms.x[k], g.rangeStart, g.rangeSpacing)];
        cell.re = static_cast<float>(ms.range[k]);
        cell.im = static_cast<float>(ms.azimuth[k]);
    }
    scatter = accepted > kTerms ? Scatter{std::sqrt(ssr / (accepted - kTerms)),
                                          std::sqrt(ssa / (accepted - kTerms))}
                                : Scatter{0.0, 0.0};
    return accepted;
}

void print_pass(int pass, int accepted, int nSamples, const stOffsetParInfo& par,
                const Scatter& scatter) {
    std::printf("\n*** improved least-squares polynomial coefficients %d ***\n", pass);
    std::printf("solution: %d offset estimates accepted out of %d samples\n", accepted, nSamples);
    std::printf("range offset poly. coeff.:         ");
    print_coefficients(par.range_offset_polynomial);
    std::printf("\nazimuth offset poly. coeff.:       ");
    print_coefficients(par.azimuth_offset_polynomial);
    std::printf("\nmodel fit std. dev. (samples) range: %10.4f  azimuth: %10.4f\n", scatter.range,
                scatter.azimuth);
}

void print_final(int passes, int accepted, int nSamples, const stOffsetParInfo& par,
                 const OffsetModel& range, const OffsetModel& azimuth, const Scatter& scatter) {
    std::printf("\ntotal number of culling iterations: %d\n", passes);
    std::printf(kFinalSolutionFormat, accepted, nSamples);
    std::printf("\nfinal range offset poly. coeff.:         ");
    print_coefficients(par.range_offset_polynomial);
    std::printf("\nfinal range offset poly. coeff. errors:  ");
    print_errors(range, scatter.range);
    std::printf("\n\nfinal azimuth offset poly. coeff.:       ");
    print_coefficients(par.azimuth_offset_polynomial);
    std::printf("\nfinal azimuth offset poly. coeff. errors:");
    print_errors(azimuth, scatter.azimuth);
    std::printf(kFinalStdDevFormat, scatter.range, scatter.azimuth);
}

// Writes the grid line by line; false on a write error (flushed at the end,
// so an error of the last buffered lines is seen too).
bool write_culled_grid(std::FILE* stream, const Grid<fcomplex>& culled, const EstimationGrid& g) {
    for (int i = 0; i < g.azimuthSamples; i++) {
        std::fwrite(culled[i], sizeof(float), 2 * static_cast<std::size_t>(g.rangeSamples), stream);
        if (std::ferror(stream))
            return false;
    }
    return std::fflush(stream) == 0;
}

void write_culled_listing(std::FILE* stream, const Measurements& ms, const stOffsetParInfo& par) {
    for (int k = 1; k <= ms.count; k++) {
        if (ms.culled(k))
            continue;
        std::fprintf(stream, "%8.0f %8.0f %10.3f %10.3f %10.3f %10.3f %10.3f\n", ms.x[k], ms.y[k],
                     ms.range[k], ms.azimuth[k],
                     eval_offset_poly(par.range_offset_polynomial, ms.x[k], ms.y[k]),
                     eval_offset_poly(par.azimuth_offset_polynomial, ms.x[k], ms.y[k]), ms.snr[k]);
    }
}

bool fail(StageReporter& reporter, const char* message) {
    reporter.failure(message);
    return false;
}

// A grid the stage can hold: at least one position each way, distinct and
// 32-bit positions, an index range within 32 bits. The failure message, or
// nullptr.
const char* check_grid(const EstimationGrid& g) {
    // A negative count is an allocation that cannot be made.
    if (g.rangeSamples < 0 || g.azimuthSamples < 0)
        return "Memory allocation error for offsets and SNR data !";
    if (g.rangeSamples < 1 || g.azimuthSamples < 1)
        return "Number of offset estimates in range and azimuth in the off file must be at least 1 "
               "!";
    // A zero spacing puts every position of a direction in one place and
    // leaves the grid cell of a measurement undefined.
    if (g.rangeSpacing == 0 || g.azimuthSpacing == 0)
        return "Offset estimation spacing in the off file must not be zero !";
    // Positions are 32-bit values, and the grid cell of a measurement is
    // recovered from its position: a grid reaching past that range (never
    // written by stage 1) would overflow and address cells outside the grid.
    if (!grid_positions_fit(g.range_position(g.rangeSamples - 1)) ||
        !grid_positions_fit(g.azimuth_position(g.azimuthSamples - 1)))
        return "Offset estimation grid in the off file exceeds the 32-bit position range !";
    // The measurement list is indexed with 32-bit integers.
    if (static_cast<long long>(g.rangeSamples) * g.azimuthSamples > INT_MAX)
        return "Memory allocation error for offsets and SNR data !";
    return nullptr;
}

void fill_fit(const Measurements& ms, const OffsetModel& range, const OffsetModel& azimuth,
              const stOffsetParInfo& par, const Scatter& scatter, OffsetFit& fit) {
    std::copy_n(par.range_offset_polynomial, kTerms, fit.rangePolynomial);
    std::copy_n(par.azimuth_offset_polynomial, kTerms, fit.azimuthPolynomial);
    coefficient_errors(range, scatter.range, fit.rangeErrors);
    coefficient_errors(azimuth, scatter.azimuth, fit.azimuthErrors);
    fit.rangeStdDev = scatter.range;
    fit.azimuthStdDev = scatter.azimuth;
    fit.measurements = ms.count;
    fit.keptAt.assign(static_cast<std::size_t>(fit.samples), 0);
    for (int k = 1; k <= ms.count; k++)
        if (!ms.culled(k))
            fit.keptAt[ms.cell[k]] = 1;
}

} // namespace

bool fit_offsets(const RunRequest& request, const WorkFiles& files, StageReporter& reporter,
                 OffsetFit* fit) {
    const FileHandle offsetsFile = open_file(files.offsets, "rb");
    if (!offsetsFile)
        return fail(reporter, "Cannot open binary offsets file !");
    const FileHandle snrFile = open_file(files.snr, "rb");
    if (!snrFile)
        return fail(reporter, "Cannot open binary SNR file !");

    stOffsetParInfo par{};
    {
        const FileHandle offParFile = open_file(request.offsetParPath, "r");
        if (!offParFile)
            return fail(reporter, "Failed to open the off file !");
        read_offset_par(offParFile.get(), &par);
    }

    const FileHandle culledOffsetsFile = open_file(files.culledOffsets, "wb");
    if (!culledOffsetsFile)
        return fail(reporter, "Cannot create culled binary form offset file !");
    const FileHandle culledListingFile = open_file(files.culledListing, "w");
    if (!culledListingFile)
        return fail(reporter, "Cannot create culled offset file (text format) !");

    const EstimationGrid g = grid_of(par);
    const double snrThreshold = par.offset_estimation_threshhold;
    if (const char* problem = check_grid(g))
        return fail(reporter, problem);
    const int nSamples = g.rangeSamples * g.azimuthSamples;

    Grid<fcomplex> offs, culled;
    Grid<float> snrs;
    if (!offs.allocate(g.rangeSamples, g.azimuthSamples) ||
        !snrs.allocate(g.rangeSamples, g.azimuthSamples) ||
        !culled.allocate(g.rangeSamples, g.azimuthSamples))
        return fail(reporter, "Memory allocation error for offsets and SNR data !");

    Measurements ms(nSamples);
    OffsetModel rangeModel, azimuthModel;
    SvdWork work(nSamples);
    read_measurements(offsetsFile.get(), snrFile.get(), g, offs, snrs, ms);

    fit_both(ms, work, rangeModel, azimuthModel);
    Scatter scatter = starting_scatter(ms, rangeModel, azimuthModel);

    // Culling is permanent, so a pass that culls nothing new repeats the
    // previous fit and its scatter: the passes always end.
    Scatter previous{100.0, 100.0};
    int pass = 1;
    int accepted = 0;
    for (;;) {
        accepted =
            culling_pass(ms, work, rangeModel, azimuthModel, snrThreshold, g, culled, par, scatter);
        print_pass(pass, accepted, nSamples, par, scatter);
        const bool moved = std::fabs(previous.range - scatter.range) > 0.1 * scatter.range ||
                           std::fabs(previous.azimuth - scatter.azimuth) > 0.1 * scatter.azimuth;
        if (!moved)
            break;
        previous = scatter;
        pass++;
    }
    print_final(pass, accepted, nSamples, par, rangeModel, azimuthModel, scatter);

    if (!write_culled_grid(culledOffsetsFile.get(), culled, g))
        return fail(reporter, "error writing to binary culled offsets file !");
    write_culled_listing(culledListingFile.get(), ms, par);

    const std::string fittedPath = fitted_offset_par_path(request.offsetParPath, request.overwrite);
    if (!write_offset_par_file(fittedPath, par))
        return fail(reporter, "Failed to write the off file !");
    if (fit != nullptr) {
        *fit = OffsetFit{};
        fit->samples = nSamples;
        fit->kept = accepted;
        fit->passes = pass;
        fit->fittedOffsetParPath = fittedPath;
        fill_fit(ms, rangeModel, azimuthModel, par, scatter, *fit);
    }
    return true;
}
