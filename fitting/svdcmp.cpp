// Golub-Reinsch singular value decomposition: Householder reduction to upper
// bidiagonal form, accumulation of the right and then the left transformations,
// and diagonalisation of the bidiagonal form by implicitly shifted QR sweeps.
// All arrays are unit-offset; the superdiagonal lives in e[2..n] (e[1] = 0).

#include "fitting/svd.h"
#include "numeric/alloc.h"
#include "numeric/fatal.h"

#include <cmath>

namespace {

constexpr int kMaxSweepCount = 30;

// |a| with the sign of b; b = 0 counts as positive.
double with_sign_of(double a, double b) {
    return b >= 0.0 ? std::fabs(a) : -std::fabs(a);
}

// sqrt(a^2 + b^2) without destructive overflow or underflow.
double hypotenuse(double a, double b) {
    double abs_a = std::fabs(a);
    double abs_b = std::fabs(b);
    if (abs_a > abs_b) {
        double ratio = abs_b / abs_a;
        return abs_a * std::sqrt(1.0 + ratio * ratio);
    }
    if (abs_b == 0.0)
        return 0.0;
    double ratio = abs_a / abs_b;
    return abs_b * std::sqrt(1.0 + ratio * ratio);
}

// The maximum of the norm estimate is taken in single precision. The rounding
// decides which elements the splitting tests call negligible, so it is part of
// the results and must not be "improved" to double.
double float_max(double running, double candidate) {
    float kept = static_cast<float>(running);
    float next = static_cast<float>(candidate);
    return kept > next ? kept : next;
}

// Householder transformation from the left that zeroes a[i+1..m][i]; leaves
// the scaled reflection vector in column i and returns the new diagonal value.
double reflect_column(double** a, int m, int n, int i) {
    double scale = 0.0;
    for (int k = i; k <= m; k++)
        scale += std::fabs(a[k][i]);
    if (scale == 0.0)
        return 0.0;
    double s = 0.0;
    for (int k = i; k <= m; k++) {
        a[k][i] /= scale;
        s += a[k][i] * a[k][i];
    }
    double f = a[i][i];
    double g = -with_sign_of(std::sqrt(s), f);
    double h = f * g - s;
    a[i][i] = f - g;
    for (int j = i + 1; j <= n; j++) {
        double dot = 0.0;
        for (int k = i; k <= m; k++)
            dot += a[k][i] * a[k][j];
        double factor = dot / h;
        for (int k = i; k <= m; k++)
            a[k][j] += factor * a[k][i];
    }
    for (int k = i; k <= m; k++)
        a[k][i] *= scale;
    return scale * g;
}

// Householder transformation from the right that zeroes a[i][i+2..n]; leaves
// the scaled reflection vector in row i and returns the new superdiagonal
// value. e[i+1..n] serves as scratch until the next step overwrites it.
double reflect_row(double** a, int m, int n, int i, double* e) {
    int l = i + 1;
    double scale = 0.0;
    for (int k = l; k <= n; k++)
        scale += std::fabs(a[i][k]);
    if (scale == 0.0)
        return 0.0;
    double s = 0.0;
    for (int k = l; k <= n; k++) {
        a[i][k] /= scale;
        s += a[i][k] * a[i][k];
    }
    double f = a[i][l];
    double g = -with_sign_of(std::sqrt(s), f);
    double h = f * g - s;
    a[i][l] = f - g;
    for (int k = l; k <= n; k++)
        e[k] = a[i][k] / h;
    for (int j = l; j <= m; j++) {
        double dot = 0.0;
        for (int k = l; k <= n; k++)
            dot += a[j][k] * a[i][k];
        for (int k = l; k <= n; k++)
            a[j][k] += dot * e[k];
    }
    for (int k = l; k <= n; k++)
        a[i][k] *= scale;
    return scale * g;
}

// Reduces a to bidiagonal form (w diagonal, e superdiagonal) and returns the
// norm estimate of the splitting tests.
double bidiagonalise(double** a, int m, int n, double* w, double* e) {
    double anorm = 0.0;
    double superdiagonal = 0.0;
    for (int i = 1; i <= n; i++) {
        e[i] = superdiagonal;
        w[i] = i <= m ? reflect_column(a, m, n, i) : 0.0;
        superdiagonal = (i <= m && i != n) ? reflect_row(a, m, n, i, e) : 0.0;
        anorm = float_max(anorm, std::fabs(w[i]) + std::fabs(e[i]));
    }
    return anorm;
}

// Builds V from the right reflections stored in the rows of a.
void accumulate_right(double** a, int n, const double* e, double** v) {
    v[n][n] = 1.0;
    for (int i = n - 1; i >= 1; i--) {
        int l = i + 1;
        double g = e[l];
        if (g != 0.0) {
            // Double division guards against underflow.
            for (int j = l; j <= n; j++)
                v[j][i] = (a[i][j] / a[i][l]) / g;
            for (int j = l; j <= n; j++) {
                double dot = 0.0;
                for (int k = l; k <= n; k++)
                    dot += a[i][k] * v[k][j];
                for (int k = l; k <= n; k++)
                    v[k][j] += dot * v[k][i];
            }
        }
        for (int j = l; j <= n; j++)
            v[i][j] = v[j][i] = 0.0;
        v[i][i] = 1.0;
    }
}

// Builds U in place from the left reflections stored in the columns of a.
void accumulate_left(double** a, int m, int n, const double* w) {
    int columns = m < n ? m : n;
    for (int i = columns; i >= 1; i--) {
        int l = i + 1;
        for (int j = l; j <= n; j++)
            a[i][j] = 0.0;
        if (w[i] != 0.0) {
            double g = 1.0 / w[i];
            for (int j = l; j <= n; j++) {
                double dot = 0.0;
                for (int k = l; k <= m; k++)
                    dot += a[k][i] * a[k][j];
                double factor = (dot / a[i][i]) * g;
                for (int k = i; k <= m; k++)
                    a[k][j] += factor * a[k][i];
            }
            for (int j = i; j <= m; j++)
                a[j][i] *= g;
        } else {
            for (int j = i; j <= m; j++)
                a[j][i] = 0.0;
        }
        ++a[i][i];
    }
}

// Applies the plane rotation (c, s) to columns p and q of the rows 1..rows.
void rotate_columns(double** x, int rows, int p, int q, double c, double s) {
    for (int r = 1; r <= rows; r++) {
        double xp = x[r][p];
        double xq = x[r][q];
        x[r][p] = xp * c + xq * s;
        x[r][q] = xq * c - xp * s;
    }
}

bool negligible(double value, double anorm) {
    return std::fabs(value) + anorm == anorm;
}

// Start of the active block ending at k: the smallest l such that e[l+1..k]
// are not negligible. Sets split_at_superdiagonal when e[l] is negligible,
// otherwise w[l-1] is negligible and e[l] must be chased out first. e[1] is
// always 0, so the search ends at l = 1 without reading w[0], even when a
// non-finite norm estimate makes no test succeed.
int find_block_start(int k, const double* w, const double* e, double anorm,
                     bool& split_at_superdiagonal) {
    for (int l = k; l >= 2; l--) {
        if (negligible(e[l], anorm)) {
            split_at_superdiagonal = true;
            return l;
        }
        if (negligible(w[l - 1], anorm)) {
            split_at_superdiagonal = false;
            return l;
        }
    }
    split_at_superdiagonal = true;
    return 1;
}

// With w[l-1] negligible, rotations from the left zero e[l..k] so the block
// splits off at l.
void cancel_superdiagonal(double** u, int m, int l, int k, double* w, double* e, double anorm) {
    int nm = l - 1;
    double c = 0.0;
    double s = 1.0;
    for (int i = l; i <= k; i++) {
        double f = s * e[i];
        e[i] = c * e[i];
        if (negligible(f, anorm))
            break;
        double g = w[i];
        double h = hypotenuse(f, g);
        w[i] = h;
        h = 1.0 / h;
        c = g * h;
        s = -f * h;
        rotate_columns(u, m, nm, i, c, s);
    }
}

// One implicitly shifted QR sweep over the block l..k, shift taken from the
// trailing 2 x 2 of the bidiagonal form.
void qr_sweep(double** u, double** v, int m, int n, int l, int k, double* w, double* e) {
    double x = w[l];
    int nm = k - 1;
    double y = w[nm];
    double z = w[k];
    double g = e[nm];
    double h = e[k];
    double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
    g = hypotenuse(f, 1.0);
    f = ((x - z) * (x + z) + h * ((y / (f + with_sign_of(g, f))) - h)) / x;

    double c = 1.0;
    double s = 1.0;
    for (int j = l; j <= nm; j++) {
        int i = j + 1;
        g = e[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = hypotenuse(f, h);
        e[j] = z;
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y *= c;
        rotate_columns(v, n, j, i, c, s);
        z = hypotenuse(f, h);
        w[j] = z;
        // The rotation is arbitrary when z = 0.
        if (z != 0.0) {
            z = 1.0 / z;
            c = f * z;
            s = h * z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        rotate_columns(u, m, j, i, c, s);
    }
    e[l] = 0.0;
    e[k] = f;
    w[k] = x;
}

// Diagonalises the bidiagonal form, one singular value at a time from the
// bottom; a converged negative value is made positive by flipping V's column.
void diagonalise(double** u, double** v, int m, int n, double* w, double* e, double anorm) {
    for (int k = n; k >= 1; k--) {
        for (int sweep = 1;; sweep++) {
            bool split_at_superdiagonal = true;
            int l = find_block_start(k, w, e, anorm, split_at_superdiagonal);
            if (!split_at_superdiagonal)
                cancel_superdiagonal(u, m, l, k, w, e, anorm);
            if (l == k) {
                if (w[k] < 0.0) {
                    w[k] = -w[k];
                    for (int j = 1; j <= n; j++)
                        v[j][k] = -v[j][k];
                }
                break;
            }
            if (sweep == kMaxSweepCount)
                run_time_error("no convergence in 30 svdcmp iterations");
            qr_sweep(u, v, m, n, l, k, w, e);
        }
    }
}

} // namespace

void svdcmp(double** a, int m, int n, double* w, double** v) {
    DVector e(1, n);
    double anorm = bidiagonalise(a, m, n, w, e);
    accumulate_right(a, n, e, v);
    accumulate_left(a, m, n, w);
    diagonalise(a, v, m, n, w, e, anorm);
}
