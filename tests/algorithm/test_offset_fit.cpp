// Stage 2 on hand-made offset grids: exact diagnostics, listing and new
// offset file, selection and culling of measurements, the fit itself against
// exact least-squares answers, the end of the passes, naming of the new file
// and every failure report.
#include "synthetic_pair.h"

#include <climits>
#include <limits>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using Poly = std::vector<double>;

// Stage 1 writes no title, so reading the offset parameter file warns first.
const char* const kTitle = "WARNING: subroutine rd_str, keyword not found: title\n";
const std::string kTitleWarning = kTitle;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

double poly(const Poly& c, double x, double y) {
    return c[0] + c[1] * x + c[2] * y + c[3] * x * y + c[4] * x * x + c[5] * y * y;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

stOffsetParInfo read_par(const std::string& path) {
    stOffsetParInfo par{};
    testing::internal::CaptureStdout(); // the reader warns about the missing title
    EXPECT_TRUE(read_offset_file(path, par)) << path;
    testing::internal::GetCapturedStdout();
    return par;
}

class OffsetFitTest : public ::testing::Test {
public:
    void SetUp() override {
        // No "." of its own in the directory: the new file's name depends on it.
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '_');
        dir = std::string(FC_TEST_TMP_DIR) + "/offset_fit/" + name;
        fs::remove_all(dir);
        fs::create_directories(dir);
        offsets = dir + "/Temp_7_offs";
        snr = dir + "/Temp_7_snr";
        culled = dir + "/Temp_7coffs";
        listing = dir + "/Temp_7coffsets.txt";
        set_off_path(dir + "/pair.off");
        par.initial_range_offset = -12;
        par.initial_azimuth_offset = 34;
        par.offset_estimation_window_width = 64;
        par.offset_estimation_window_height = 32;
        par.interferogram_range_pixel_spacing = 2.33;
        par.resampled_number_of_lines = 77;
        par.range_offset_polynomial[0] = 9.0; // replaced by the fit
        set_grid(4, 3, 1, 1, 1, 1, 1.0);
    }

    void set_off_path(const std::string& path) {
        offPath = path;
        info.offsetParPath = QString::fromStdString(path);
    }
    void set_grid(int nr, int naz, int r0, int dr, int az0, int daz, double threshold) {
        par.offset_estimation_range_samples = nr;
        par.offset_estimation_azimuth_samples = naz;
        par.offset_estimation_starting_range = r0;
        par.offset_estimation_range_spacing = dr;
        par.offset_estimation_starting_azimuth = az0;
        par.offset_estimation_azimuth_spacing = daz;
        par.offset_estimation_threshhold = threshold;
    }
    int nr() const { return par.offset_estimation_range_samples; }
    int naz() const { return par.offset_estimation_azimuth_samples; }

    // Offsets from the two polynomials plus a pattern along range that no
    // quadratic can fit (a third difference), so the scatter is known and
    // positive; SNR uniform.
    void make_grid(const Poly& rp, const Poly& ap, double rangeWiggle, double azimuthWiggle,
                   float snrValue) {
        static const double third[4] = {-1, 3, -3, 1};
        offs.assign(static_cast<size_t>(nr() * naz()), fcomplex{});
        snrs.assign(offs.size(), snrValue);
        for (int i = 0; i < naz(); i++)
            for (int j = 0; j < nr(); j++) {
                const double x = par.offset_estimation_starting_range +
                                 static_cast<double>(j) * par.offset_estimation_range_spacing;
                const double y = par.offset_estimation_starting_azimuth +
                                 static_cast<double>(i) * par.offset_estimation_azimuth_spacing;
                const double w = nr() == 4 ? third[j] : 0.0;
                offs[i * nr() + j] = {static_cast<float>(poly(rp, x, y) + rangeWiggle * w),
                                      static_cast<float>(poly(ap, x, y) + azimuthWiggle * w)};
            }
    }

    void write_inputs() {
        ASSERT_TRUE(write_whole_file(offsets, offs.data(), offs.size() * sizeof(fcomplex)));
        ASSERT_TRUE(write_whole_file(snr, snrs.data(), snrs.size() * sizeof(float)));
        ASSERT_TRUE(write_offset_file(offPath, par));
    }

    bool run() {
        testing::internal::CaptureStdout();
        const bool ok =
            FineCoregistrationTestAccess::offset_fit(algo, info, offsets, snr, culled, listing);
        out = testing::internal::GetCapturedStdout();
        return ok;
    }

    std::string dir, offPath, offsets, snr, culled, listing, out;
    stFineCoregistrationInfo info;
    stOffsetParInfo par{};
    std::vector<fcomplex> offs;
    std::vector<float> snrs;
    RecordingCoregistration algo;
};

const Poly kRange = {1.5, 0.25, -0.125, 0.125, -0.125, 0.375};
const Poly kAzimuth = {-2.25, 0.125, 0.5, -0.25, 0.375, -0.125};

// Range and azimuth polynomials over a 1500 x 2750 grid; every offset stays
// within one binade, so the float rounding of the data is the only scatter.
const Poly kWideRange = {12.0, 1e-3, -5e-4, 2e-7, -3e-7, 1e-7};
const Poly kWideAzimuth = {-10.0, 2e-4, 1e-3, -1e-7, 2e-7, -1.5e-7};

TEST_F(OffsetFitTest, DiagnosticsListingAndNewFileOfASmallRun) {
    // Residuals are exactly the third-difference pattern (0.25 and 0.5 times
    // -1, 3, -3, 1): scatter sqrt(3.75/6) and sqrt(15/6). Singular values and
    // coefficient errors from a 50-digit SVD and inverse of the weighted
    // design matrix; the singular values in the decomposition's column order.
    make_grid(kRange, kAzimuth, 0.25, 0.5, 4.0f);
    write_inputs();
    ASSERT_TRUE(run());
    EXPECT_TRUE(algo.posted.empty());
    const std::string sv = "   1.69478e+02   5.91253e+01   1.43914e+01   8.98442e+00   1.00591e+00 "
                           "  2.13342e+00";
    const std::string fits = "\nrange fit SVD singular values:     " + sv +
                             "\nazimuth fit SVD singular values:   " + sv + "\n";
    const std::string coeffs = "range offset poly. coeff.:                1.50000   2.50000e-01  "
                               "-1.25000e-01   1.25000e-01  -1.25000e-01   3.75000e-01\n"
                               "azimuth offset poly. coeff.:             -2.25000   1.25000e-01 "
                               "  5.00000e-01  -2.50000e-01   3.75000e-01  -1.25000e-01\n"
                               "model fit std. dev. (samples) range:     0.7906  azimuth:     "
                               "1.5811\n";
    const std::string expected =
        kTitleWarning +
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     1.750000    -2.125000     4.000000\n"
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     2.750000     0.875000     4.000000\n"
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     1.000000    -0.375000     4.000000\n"
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     1.500000     4.125000     4.000000\n"
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     2.875000    -2.250000     4.000000\n"
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     4.000000     0.500000     4.000000\n"
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     2.375000    -1.000000     4.000000\n"
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     3.000000     3.250000     4.000000\n"
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     4.750000    -2.625000     4.000000\n"
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     6.000000    -0.125000     4.000000\n"
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     4.500000    -1.875000     4.000000\n"
        "offs[i][j].re,offs[i][j].im,snrs[i][j]:     5.250000     2.125000     4.000000\n" +
        fits + fits + "\n*** improved least-squares polynomial coefficients 1 ***\n" +
        "solution: 12 offset estimates accepted out of 12 samples\n" + coeffs + fits +
        "\n*** improved least-squares polynomial coefficients 2 ***\n" +
        "solution: 12 offset estimates accepted out of 12 samples\n" + coeffs +
        "\ntotal number of culling iterations: 2\n"
        "final solution: 12 offset estimates accepted out of 12 samples\n"
        "\nfinal range offset poly. coeff.:                1.50000   2.50000e-01  -1.25000e-01 "
        "  1.25000e-01  -1.25000e-01   3.75000e-01\n"
        "final range offset poly. coeff. errors:     6.17138e-01   3.15610e-01   5.13490e-01 "
        "  6.25000e-02   5.70544e-02   1.21031e-01\n"
        "\nfinal azimuth offset poly. coeff.:             -2.25000   1.25000e-01   5.00000e-01 "
        " -2.50000e-01   3.75000e-01  -1.25000e-01\n"
        "final azimuth offset poly. coeff. errors:   1.23428e+00   6.31219e-01   1.02698e+00 "
        "  1.25000e-01   1.14109e-01   2.42061e-01\n"
        "\nfinal model fit std. dev. (samples) range:     0.7906  azimuth:     1.5811\n";
    EXPECT_EQ(out, expected);

    EXPECT_EQ(read_file_bytes(listing),
              "       1        1      1.750     -2.125      2.000     -1.625      4.000\n"
              "       2        1      2.750      0.875      2.000     -0.625      4.000\n"
              "       3        1      1.000     -0.375      1.750      1.125      4.000\n"
              "       4        1      1.500      4.125      1.250      3.625      4.000\n"
              "       1        2      2.875     -2.250      3.125     -1.750      4.000\n"
              "       2        2      4.000      0.500      3.250     -1.000      4.000\n"
              "       3        2      2.375     -1.000      3.125      0.500      4.000\n"
              "       4        2      3.000      3.250      2.750      2.750      4.000\n"
              "       1        3      4.750     -2.625      5.000     -2.125      4.000\n"
              "       2        3      6.000     -0.125      5.250     -1.625      4.000\n"
              "       3        3      4.500     -1.875      5.250     -0.375      4.000\n"
              "       4        3      5.250      2.125      5.000      1.625      4.000\n");
    EXPECT_EQ(read_file_bytes(culled), read_file_bytes(offsets));

    // The new file is the input except for the two polynomial lines.
    const auto before = lines_of(read_file_bytes(offPath));
    const auto after = lines_of(read_file_bytes(dir + "/pair_new.off"));
    ASSERT_EQ(after.size(), before.size());
    for (size_t k = 0; k < before.size(); k++) {
        if (before[k].rfind("range_offset_polynomial:", 0) == 0)
            EXPECT_EQ(after[k], "range_offset_polynomial:         1.50000   2.5000e-01  "
                                "-1.2500e-01   1.2500e-01  -1.2500e-01   3.7500e-01");
        else if (before[k].rfind("azimuth_offset_polynomial:", 0) == 0)
            EXPECT_EQ(after[k], "azimuth_offset_polynomial:      -2.25000   1.2500e-01   "
                                "5.0000e-01  -2.5000e-01   3.7500e-01  -1.2500e-01");
        else
            EXPECT_EQ(after[k], before[k]) << "line " << k;
    }
}

TEST_F(OffsetFitTest, NoMeasurementGivesZeroPolynomialsAfterTwoPasses) {
    set_grid(2, 2, 10, 5, 20, 5, 1.0);
    offs = {{0.0f, 1.5f}, {-0.0f, 2.0f}, {0.0f, 0.0f}, {0.0f, -1.0f}};
    snrs = {20.0f, 30.0f, 0.0f, 5.0f};
    write_inputs();
    ASSERT_TRUE(run());
    const std::string zeros6 = "   0.00000e+00   0.00000e+00   0.00000e+00   0.00000e+00   "
                               "0.00000e+00   0.00000e+00";
    const std::string zeroPoly = "       0.00000" + zeros6.substr(14);
    const std::string fits = "\nrange fit SVD singular values:     " + zeros6 +
                             "\nazimuth fit SVD singular values:   " + zeros6 + "\n";
    std::string passes;
    for (int t = 1; t <= 2; t++)
        passes += fits + "\n*** improved least-squares polynomial coefficients " +
                  std::to_string(t) + " ***\nsolution: 0 offset estimates accepted out of 4 " +
                  "samples\nrange offset poly. coeff.:         " + zeroPoly +
                  "\nazimuth offset poly. coeff.:       " + zeroPoly +
                  "\nmodel fit std. dev. (samples) range:     0.0000  azimuth:     0.0000\n";
    EXPECT_EQ(
        out,
        kTitleWarning +
            "offs[i][j].re,offs[i][j].im,snrs[i][j]:     0.000000     1.500000    20.000000\n"
            "offs[i][j].re,offs[i][j].im,snrs[i][j]:    -0.000000     2.000000    30.000000\n"
            "offs[i][j].re,offs[i][j].im,snrs[i][j]:     0.000000     0.000000     0.000000\n"
            "offs[i][j].re,offs[i][j].im,snrs[i][j]:     0.000000    -1.000000     5.000000\n" +
            fits + passes + "\ntotal number of culling iterations: 2\n" +
            "final solution: 0 offset estimates accepted out of 4 samples\n" +
            "\nfinal range offset poly. coeff.:         " + zeroPoly +
            "\nfinal range offset poly. coeff. errors:  " + zeros6 +
            "\n\nfinal azimuth offset poly. coeff.:       " + zeroPoly +
            "\nfinal azimuth offset poly. coeff. errors:" + zeros6 +
            "\n\nfinal model fit std. dev. (samples) range:     0.0000  azimuth:     "
            "0.0000\n");
    EXPECT_EQ(read_file_bytes(culled), std::string(4 * sizeof(fcomplex), '\0'));
    EXPECT_EQ(read_file_bytes(listing), "");
    const stOffsetParInfo result = read_par(dir + "/pair_new.off");
    for (int k = 0; k < 6; k++) {
        EXPECT_EQ(result.range_offset_polynomial[k], 0.0);
        EXPECT_EQ(result.azimuth_offset_polynomial[k], 0.0);
    }
}

TEST_F(OffsetFitTest, RecoversQuadraticsAndCullsOutliersAndWeakSamples) {
    set_grid(8, 10, 100, 200, 50, 300, 3.0);
    make_grid(kWideRange, kWideAzimuth, 0.0, 0.0, 10.0f);
    std::vector<fcomplex> clean = offs;
    offs[3].re += 5.0f; // gross outliers
    offs[41].im -= 4.0f;
    offs[77].re -= 6.0f;
    snrs[12] = 3.0f;  // at the threshold
    snrs[50] = 2.5f;  // below it
    snrs[60] = 30.0f; // a stronger weight changes nothing
    write_inputs();
    ASSERT_TRUE(run());
    EXPECT_NE(out.find("\ntotal number of culling iterations: 2\n"
                       "final solution: 75 offset estimates accepted out of 80 samples\n"),
              std::string::npos)
        << out;
    EXPECT_NE(
        out.find("final model fit std. dev. (samples) range:     0.0000  azimuth:     0.0000"),
        std::string::npos);

    const stOffsetParInfo result = read_par(dir + "/pair_new.off");
    for (int k = 0; k < 6; k++) {
        EXPECT_NEAR(result.range_offset_polynomial[k], kWideRange[k],
                    k == 0 ? 1e-5 : 1e-4 * std::fabs(kWideRange[k]));
        EXPECT_NEAR(result.azimuth_offset_polynomial[k], kWideAzimuth[k],
                    k == 0 ? 1e-5 : 1e-4 * std::fabs(kWideAzimuth[k]));
    }

    // Culled grid: the input where accepted, two zeros where culled; same size.
    const std::vector<fcomplex> grid = read_complex_file(culled);
    ASSERT_EQ(grid.size(), offs.size());
    for (size_t k = 0; k < grid.size(); k++) {
        const bool gone = k == 3 || k == 41 || k == 77 || k == 12 || k == 50;
        EXPECT_EQ(grid[k].re, gone ? 0.0f : clean[k].re) << k;
        EXPECT_EQ(grid[k].im, gone ? 0.0f : clean[k].im) << k;
    }

    // Listing: one line per accepted sample, fitted values on the polynomials.
    const auto rows = lines_of(read_file_bytes(listing));
    ASSERT_EQ(rows.size(), 75u);
    for (const std::string& row : rows) {
        double px, py, re, im, rf, af, s;
        ASSERT_EQ(std::sscanf(row.c_str(), "%lf %lf %lf %lf %lf %lf %lf", &px, &py, &re, &im, &rf,
                              &af, &s),
                  7);
        EXPECT_NEAR(rf, poly(kWideRange, px, py), 6e-4) << row;
        EXPECT_NEAR(af, poly(kWideAzimuth, px, py), 6e-4) << row;
        EXPECT_GT(s, 3.0);
    }
}

TEST_F(OffsetFitTest, SelectsMeasurementsByOffsetsAndSkipsUnusableSnr) {
    // The azimuth offsets are exactly zero on x = 3 (j = 2): still measurements.
    set_grid(4, 8, 1, 1, 1, 1, 1.0);
    make_grid(kRange, {0.75, 0.25, -0.375, 0.125, 0.0, 0.0}, 0.25, 0.5, 4.0f);
    offs[0].re = 0.0f; // no measurement, whatever the SNR
    offs[1].re = -0.0f;
    offs[4].im = 1.0e9f;
    offs[5].re = -1.0e9f;
    offs[6].re = kNaN;
    offs[7].im = kNaN;
    snrs[8] = 0.0f;
    snrs[9] = kInf;
    snrs[11] = kNaN;
    snrs[12] = -4.0f;
    write_inputs();
    ASSERT_TRUE(run());

    // Every position is printed, whether it is a measurement or not.
    ASSERT_EQ(out.rfind(kTitleWarning, 0), 0u);
    const auto printed = lines_of(out.substr(kTitleWarning.size()));
    ASSERT_GE(printed.size(), 32u);
    for (int k = 0; k < 32; k++) {
        char expected[160];
        std::snprintf(expected, sizeof expected,
                      "offs[i][j].re,offs[i][j].im,snrs[i][j]: %12.6f %12.6f %12.6f", offs[k].re,
                      offs[k].im, snrs[k]);
        EXPECT_EQ(printed[k], expected);
    }
    EXPECT_EQ(printed[4].substr(53), "1000000000.000000     4.000000");
    EXPECT_EQ(printed[6].substr(40, 12), "         nan");

    EXPECT_NE(out.find("final solution: 22 offset estimates accepted out of 32 samples\n"),
              std::string::npos)
        << out;
    const std::vector<fcomplex> grid = read_complex_file(culled);
    ASSERT_EQ(grid.size(), 32u);
    for (int k = 0; k < 32; k++) {
        const bool skipped = k < 2 || (k >= 4 && k <= 9) || k == 11 || k == 12;
        EXPECT_EQ(grid[k].re, skipped ? 0.0f : offs[k].re) << k;
        EXPECT_EQ(grid[k].im, skipped ? 0.0f : offs[k].im) << k;
    }
    EXPECT_EQ(grid[10].im, 0.0f); // x = 3: accepted with a zero azimuth offset
    EXPECT_NE(read_file_bytes(listing).find("       3        3      4.500      0.000"),
              std::string::npos);
}

TEST_F(OffsetFitTest, FewMeasurementsAreAllCulledAndFittedWithEqualWeights) {
    // Six measurements on the line y = 0 (the second line holds none): only
    // 1, x and x^2 are seen, so the fit has a residual and the weights matter.
    // The equal-weight least-squares quadratics (exact fractions) are
    // 31/28 + 5/8 x + 1/56 x^2 and 93/56 - 443/560 x + 11/112 x^2, whatever
    // SNRs the samples had.
    set_grid(6, 2, 0, 1, 0, 1, 1.0);
    offs.assign(12, fcomplex{});
    const float ranges[6] = {1, 2, 2, 4, 3, 5}, azimuths[6] = {2, 0, 1, 1, -1, 0.5};
    const float weights[6] = {1, 50, 2, 9, 4, 30};
    snrs.assign(12, 5.0f);
    for (int j = 0; j < 6; j++) {
        offs[j] = {ranges[j], azimuths[j]};
        snrs[j] = weights[j];
    }
    write_inputs();
    ASSERT_TRUE(run());
    const std::string zeros6 = "   0.00000e+00   0.00000e+00   0.00000e+00   0.00000e+00   "
                               "0.00000e+00   0.00000e+00";
    EXPECT_NE(out.find("\ntotal number of culling iterations: 2\n"
                       "final solution: 0 offset estimates accepted out of 12 samples\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\nfinal range offset poly. coeff. errors:  " + zeros6 + "\n"),
              std::string::npos);
    EXPECT_NE(out.find("\nfinal azimuth offset poly. coeff. errors:" + zeros6 + "\n"),
              std::string::npos);
    // The starting scatter is 0, so pass 1 already culls every measurement.
    const std::string none = "solution: 0 offset estimates accepted out of 12 samples\n";
    size_t passesWithNone = 0;
    for (size_t at = out.find(none); at != std::string::npos; at = out.find(none, at + 1))
        passesWithNone++;
    EXPECT_EQ(passesWithNone, 3u); // passes 1 and 2, and the final solution
    EXPECT_EQ(read_file_bytes(listing), "");
    EXPECT_EQ(read_file_bytes(culled), std::string(12 * sizeof(fcomplex), '\0'));

    const stOffsetParInfo result = read_par(dir + "/pair_new.off");
    const double range[6] = {31.0 / 28, 5.0 / 8, 0, 0, 1.0 / 56, 0};
    const double azimuth[6] = {93.0 / 56, -443.0 / 560, 0, 0, 11.0 / 112, 0};
    for (int k = 0; k < 6; k++) { // to the precision of the file's formats
        EXPECT_NEAR(result.range_offset_polynomial[k], range[k], 5e-5 * std::fabs(range[k]) + 1e-12)
            << k;
        EXPECT_NEAR(result.azimuth_offset_polynomial[k], azimuth[k],
                    5e-5 * std::fabs(azimuth[k]) + 1e-12)
            << k;
    }
}

TEST_F(OffsetFitTest, PassesEndWhenTheScatterMovesByAtMostATenth) {
    // Residuals d (-1, 3, -3, 1) along range give a scatter of d sqrt(10) in
    // every pass; the first pass compares it with 100. d = 30: 94.87, within a
    // tenth; d = 28: 88.54, and 11.46 > 8.85 asks for a second pass.
    const double cases[][3] = {{30.0, 30.0, 1}, {28.0, 30.0, 2}, {30.0, 28.0, 2}};
    for (const auto& [dRange, dAzimuth, passes] : cases) {
        make_grid(kRange, kAzimuth, dRange, dAzimuth, 4.0f);
        write_inputs();
        ASSERT_TRUE(run());
        EXPECT_NE(out.find("\ntotal number of culling iterations: " +
                           std::to_string(static_cast<int>(passes)) +
                           "\nfinal solution: 12 offset estimates accepted out of 12 samples\n"),
                  std::string::npos)
            << out;
    }
}

TEST_F(OffsetFitTest, NewFileIsNamedAtTheLastDotOfTheWholePath) {
    make_grid(kRange, kAzimuth, 0.25, 0.5, 4.0f);
    const std::pair<const char*, const char*> cases[] = {
        {"v1.2/pair.x.off", "v1.2/pair.x_new.off"},
        {"scene.a/pair", "scene_new.off"},
        {"plain", "plain_new.off"}, // no "." at all
    };
    for (const auto& [off, expected] : cases) {
        if (dir.find('.') != std::string::npos && std::string(off).find('.') == std::string::npos)
            continue; // the scratch directory's own "." would decide
        fs::create_directories(fs::path(dir + "/" + off).parent_path());
        set_off_path(dir + "/" + off);
        write_inputs();
        ASSERT_TRUE(run()) << off;
        EXPECT_EQ(read_par(dir + "/" + expected).range_offset_polynomial[0], 1.5) << off;
        EXPECT_EQ(read_par(offPath).range_offset_polynomial[0], 9.0) << off;
    }
}

TEST_F(OffsetFitTest, OverwriteModeReplacesTheInputFile) {
    make_grid(kRange, kAzimuth, 0.25, 0.5, 4.0f);
    info.overwriteOffsetPar = true;
    write_inputs();
    ASSERT_TRUE(run());
    EXPECT_FALSE(fs::exists(dir + "/pair_new.off"));
    const stOffsetParInfo result = read_par(offPath);
    EXPECT_EQ(result.range_offset_polynomial[0], 1.5);
    EXPECT_EQ(result.azimuth_offset_polynomial[5], -0.125);
    EXPECT_EQ(result.initial_azimuth_offset, 34);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5);
}

TEST_F(OffsetFitTest, GridPositionsAtTheEndsOfThe32BitRangeLandInTheirOwnCells) {
    // Found by fuzzing: the cell recovered from a wrapped position lay outside
    // the culled grid. Last positions exactly at INT_MIN (with a 32-bit
    // product 3 x spacing overflowing on the way) and INT_MAX.
    make_grid({1.5, 0, 0, 0, 0, 0}, {-2.25, 0, 0, 0, 0, 0}, 0.25, 0.5, 4.0f);
    set_grid(4, 3, 1 << 30, -(1 << 30), INT_MAX - 2, 1, 1.0);
    write_inputs();
    ASSERT_TRUE(run());
    const std::vector<fcomplex> grid = read_complex_file(culled);
    ASSERT_EQ(grid.size(), offs.size());
    int kept = 0;
    for (std::size_t k = 0; k < grid.size(); k++) {
        if (grid[k].re == 0.0f)
            continue;
        kept++;
        EXPECT_EQ(grid[k].re, offs[k].re) << k;
        EXPECT_EQ(grid[k].im, offs[k].im) << k;
    }
    EXPECT_GT(kept, 0);
}

struct FitFailure {
    const char* name;
    void (*spoil)(OffsetFitTest&);
    const char* message;
    const char* out; // the whole standard output, when checked
};

class OffsetFitFailure : public OffsetFitTest, public ::testing::WithParamInterface<FitFailure> {};

// Exactly one report of code 110, the offset parameter file untouched, no
// new one and no stray replacement file.
TEST_P(OffsetFitFailure, Reports110AndKeepsTheOffsetFile) {
    make_grid(kRange, kAzimuth, 0.25, 0.5, 4.0f);
    write_inputs();
    GetParam().spoil(*this);
    ASSERT_TRUE(write_offset_file(offPath, par));
    const std::string before = read_file_bytes(offPath);
    EXPECT_FALSE(run());
    ASSERT_EQ(algo.posted.size(), 1u);
    EXPECT_EQ(algo.posted[0].first, 110);
    EXPECT_EQ(algo.posted[0].second.toStdString(), GetParam().message);
    EXPECT_EQ(read_file_bytes(offPath), before);
    EXPECT_FALSE(fs::is_regular_file(dir + "/pair_new.off"));
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().string().find(".tmp."), std::string::npos) << entry.path();
    if (GetParam().out) {
        EXPECT_EQ(out, GetParam().out);
    }
}

const char* const kTooFew =
    "Number of offset estimates in range and azimuth in the off file must be at least 1 !";
const char* const kZeroSpacing = "Offset estimation spacing in the off file must not be zero !";
const char* const kBeyond32Bits =
    "Offset estimation grid in the off file exceeds the 32-bit position range !";

// A grid the stage cannot use is refused before any measurement is read.
INSTANTIATE_TEST_SUITE_P(
    Stage, OffsetFitFailure,
    ::testing::Values(
        FitFailure{"MissingOffsets", [](OffsetFitTest& t) { t.offsets = t.dir + "/no/offs"; },
                   "Cannot open binary offsets file !", ""},
        FitFailure{"MissingSnr", [](OffsetFitTest& t) { t.snr = t.dir + "/no/snr"; },
                   "Cannot open binary SNR file !", ""},
        FitFailure{"MissingOffFile",
                   [](OffsetFitTest& t) { t.info.offsetParPath = QString("/no/such.off"); },
                   "Failed to open the off file !", ""},
        FitFailure{"CulledUncreatable", [](OffsetFitTest& t) { t.culled = t.dir + "/no/c"; },
                   "Cannot create culled binary form offset file !", kTitle},
        FitFailure{"ListingUncreatable", [](OffsetFitTest& t) { t.listing = t.dir + "/no/l"; },
                   "Cannot create culled offset file (text format) !", kTitle},
        FitFailure{"NoRangeSamples", [](OffsetFitTest& t) { t.set_grid(0, 3, 1, 1, 1, 1, 1); },
                   kTooFew, kTitle},
        FitFailure{"NegativeAzimuthSamples",
                   [](OffsetFitTest& t) { t.set_grid(4, -1, 1, 1, 1, 1, 1); }, kTooFew, kTitle},
        FitFailure{"ZeroRangeSpacing", [](OffsetFitTest& t) { t.set_grid(4, 3, 1, 0, 1, 1, 1); },
                   kZeroSpacing, kTitle},
        FitFailure{"ZeroAzimuthSpacing", [](OffsetFitTest& t) { t.set_grid(4, 3, 1, 1, 1, 0, 1); },
                   kZeroSpacing, kTitle},
        FitFailure{"GridTooLarge",
                   [](OffsetFitTest& t) { t.set_grid(50000, 50000, 1, 1, 1, 1, 1); },
                   "Memory allocation error for offsets and SNR data !", kTitle},
        // Found by fuzzing: a last position past the 32-bit range overflowed.
        FitFailure{"RangeBeyond32Bits",
                   [](OffsetFitTest& t) { t.set_grid(4, 3, INT_MAX - 5, 2, 1, 1, 1); },
                   kBeyond32Bits, kTitle},
        FitFailure{"AzimuthBeyond32Bits",
                   [](OffsetFitTest& t) { t.set_grid(4, 3, 1, 1, INT_MIN + 2, -2, 1); },
                   kBeyond32Bits, kTitle},
        // A non-empty directory where the new file should go cannot be replaced.
        FitFailure{"NewFileBlocked",
                   [](OffsetFitTest& t) { fs::create_directories(t.dir + "/pair_new.off/keep"); },
                   "Failed to write the off file !", nullptr},
        FitFailure{"CulledFileFull", [](OffsetFitTest& t) { t.culled = "/dev/full"; },
                   "error writing to binary culled offsets file !", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
