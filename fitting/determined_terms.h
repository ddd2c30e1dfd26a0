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
// for which its terms count as determined.
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
