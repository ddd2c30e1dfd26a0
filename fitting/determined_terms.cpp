// Which offset polynomial terms the accepted positions determine, judged from
// the singular values of the weighted design matrix, and a fit of only those.

#include "fitting/determined_terms.h"

#include "fitting/svd.h"
#include "numeric/alloc.h"
#include "params/offset_par.h"

#include <algorithm>
#include <cmath>

const char* const kOffsetTermNames[6] = {"1", "x", "y", "x*y", "x^2", "y^2"};

namespace {

constexpr int kTerms = 6;

// Nested term sets, largest first; among sets of one size those keeping the
// range terms come first (a short image limits the lines, not the samples).
constexpr unsigned kTermSets[] = {0x3F, 0x1F, 0x2F, 0x0F, 0x07, 0x13, 0x25, 0x03, 0x05, 0x01};

// u = a x + b maps 0 .. size - 1 onto [-1, 1].
struct Scale {
    explicit Scale(int size) : a(2.0 / std::max(size - 1, 1)) {}
    double a;
    double b = -1.0;
};

int count_terms(unsigned mask) {
    int n = 0;
    for (int k = 0; k < kTerms; k++)
        n += (mask >> k) & 1u;
    return n;
}

// The weighted design matrix of the terms in mask, decomposed: u (m x n)
// holds U, w the singular values, v the right singular vectors.
struct Decomposition {
    Decomposition(const WeightedPositions& p, int width, int lines, unsigned mask)
        : m(static_cast<int>(p.x.size())), n(count_terms(mask)), u(1, m, 1, n), v(1, n, 1, n),
          w(1, n) {
        const Scale sx(width), sy(lines);
        double basis[kTerms + 1];
        for (int i = 1; i <= m; i++) {
            offset_poly_basis(sx.a * p.x[i - 1] + sx.b, sy.a * p.y[i - 1] + sy.b, basis);
            int col = 1;
            for (int k = 0; k < kTerms; k++)
                if ((mask >> k) & 1u)
                    u[i][col++] = basis[k + 1] * p.weight[i - 1];
        }
        svdcmp(u, m, n, w, v);
    }
    double ratio() const {
        double lo = w[1], hi = w[1];
        for (int j = 2; j <= n; j++) {
            lo = std::min(lo, w[j]);
            hi = std::max(hi, w[j]);
        }
        return hi > 0.0 ? lo / hi : 0.0;
    }

    int m, n;
    DMatrix u, v;
    DVector w;
};

} // namespace

unsigned determined_terms(const WeightedPositions& p, int width, int lines) {
    for (unsigned mask : kTermSets) {
        if (static_cast<int>(p.x.size()) < count_terms(mask))
            continue;
        if (Decomposition(p, width, lines, mask).ratio() >= kDeterminedTermsRatio)
            return mask;
    }
    return 0;
}

TermFit fit_terms(const WeightedPositions& p, const std::vector<double>& values, int width,
                  int lines, unsigned mask) {
    TermFit fit;
    const Decomposition d(p, width, lines, mask);
    DVector b(1, d.m), solved(1, d.n);
    for (int i = 1; i <= d.m; i++)
        b[i] = values[i - 1] * p.weight[i - 1];
    svd_backsub(d.u, d.w, d.v, d.m, d.n, b, solved);

    // Scaled coefficients and their covariance, held terms zero.
    int index[kTerms];
    double s[kTerms] = {};
    double cov[kTerms][kTerms] = {};
    for (int k = 0, col = 1; k < kTerms; k++)
        index[k] = ((mask >> k) & 1u) ? col++ : 0;
    for (int i = 0; i < kTerms; i++) {
        if (index[i] == 0)
            continue;
        s[i] = solved[index[i]];
        for (int j = 0; j < kTerms; j++) {
            if (index[j] == 0)
                continue;
            for (int l = 1; l <= d.n; l++)
                cov[i][j] += d.v[index[i]][l] * d.v[index[j]][l] / (d.w[l] * d.w[l]);
        }
    }

    // Back to master samples and lines: raw = T s.
    const Scale sx(width), sy(lines);
    const double a = sx.a, bx = sx.b, c = sy.a, by = sy.b;
    const double t[kTerms][kTerms] = {
        {1.0, bx, by, bx * by, bx * bx, by * by}, {0.0, a, 0.0, a * by, 2.0 * a * bx, 0.0},
        {0.0, 0.0, c, bx * c, 0.0, 2.0 * c * by}, {0.0, 0.0, 0.0, a * c, 0.0, 0.0},
        {0.0, 0.0, 0.0, 0.0, a * a, 0.0},         {0.0, 0.0, 0.0, 0.0, 0.0, c * c}};
    for (int i = 0; i < kTerms; i++)
        for (int j = 0; j < kTerms; j++)
            fit.coefficients[i] += t[i][j] * s[j];

    double ss = 0.0;
    for (int i = 0; i < d.m; i++) {
        const double r = values[i] - eval_offset_poly(fit.coefficients, p.x[i], p.y[i]);
        ss += r * r;
    }
    fit.stdDev = d.m > d.n ? std::sqrt(ss / (d.m - d.n)) : 0.0;
    for (int i = 0; i < kTerms; i++) {
        double var = 0.0;
        for (int j = 0; j < kTerms; j++)
            for (int l = 0; l < kTerms; l++)
                var += t[i][j] * cov[j][l] * t[i][l];
        fit.errors[i] = std::sqrt(var) * fit.stdDev;
    }
    return fit;
}

std::string term_names(unsigned mask) {
    std::string names;
    for (int k = 0; k < kTerms; k++)
        if ((mask >> k) & 1u)
            names += (names.empty() ? "" : ", ") + std::string(kOffsetTermNames[k]);
    return names;
}
