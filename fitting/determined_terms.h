#pragma once

#include <string>
#include <vector>

// Which terms of an offset polynomial (1, x, y, x*y, x^2, y^2; bit k for
// term k) a set of weighted positions determines, and a fit of only those.
// Positions are master range samples x and lines y on a width x lines master.

constexpr unsigned kAllOffsetTerms = 0x3Fu;

// The names of the six terms: "1", "x", "y", "x*y", "x^2", "y^2".
extern const char* const kOffsetTermNames[6];

// The smallest ratio of the singular values (smallest over largest) of the
// weighted design matrix, in coordinates scaled to [-1, 1] over the master,
// for which its terms count as determined. Measured on slcsim pairs 512
// samples wide with constant offsets (32 columns, 64 x 64 windows), worst
// error of the fit over the master against that of 1, x, x^2 alone:
//   lines x rows   band (lines)   ratio, six terms   error: six terms / 1, x, x^2
//   80 x 4, 80 x 8       10, 12   0.0073, 0.0087     0.026, 0.022 / 0.010
//   112 x 3, 4, 8      16, 15, 14 0.0096 .. 0.0058   0.050 .. 0.064 / 0.014
//   128 x 3, 4, 8      32, 30, 28 0.029 .. 0.018     0.020 .. 0.015 / 0.015
//   192 x 3 .. 32          93..96 0.11 .. 0.072      0.012 .. 0.018 / 0.005 .. 0.007
// Above 0.01 the six terms cost at most 1.3 times the error of the reduced
// fit; below it 2.2 to 4.5 times. One row, or two rows for y^2, gives < 1e-16.
constexpr double kDeterminedTermsRatio = 0.01;

struct WeightedPositions {
    std::vector<double> x, y, weight; // weight: 1 / sigma of each position
};

// The largest of the nested term sets (all six; without y^2; without x^2;
// 1, x, y, x*y; 1, x, y; 1, x, x^2; 1, y, y^2; 1, x; 1, y; 1) whose weighted
// design matrix meets kDeterminedTermsRatio; 0 when not even the constant is
// determined (no position of positive weight).
unsigned determined_terms(const WeightedPositions& p, int width, int lines);

struct TermFit {
    double coefficients[6] = {}; // in master samples and lines; held terms 0
    double errors[6] = {};       // standard errors; held terms 0
    double stdDev = 0.0;         // unweighted scatter of the residuals
};

// Weighted least squares of values over the terms in mask, the others held
// at zero. The errors are scaled by the scatter, as the full fit's are.
TermFit fit_terms(const WeightedPositions& p, const std::vector<double>& values, int width,
                  int lines, unsigned mask);

// "y, x*y, y^2": the names of the terms in mask, comma-separated.
std::string term_names(unsigned mask);
