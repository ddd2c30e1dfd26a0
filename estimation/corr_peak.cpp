#include "estimation/corr_peak.h"

#include "estimation/lfit.h"
#include "numeric/alloc.h"
#include "numeric/fatal.h"

#include <cmath>
#include <memory>

namespace {

constexpr int kParameters = 5;

// Static owner: replaced by every set-up, freed when the library is unloaded.
std::unique_ptr<PeakFit> g_fit;

int wrap(int index, int size) {
    if (index < 0)
        index += size;
    if (index >= size)
        index -= size;
    return index;
}

} // namespace

PeakFit::PeakFit(int nw)
    : nw_(nw), x_(nw * nw + 1), y_(nw * nw + 1), z_(nw * nw + 1), sig_(nw * nw + 1),
      a_(kParameters + 1), mask_(kParameters + 1), covar_(kParameters + 1, kParameters + 1) {
    for (int j = 1; j <= kParameters; j++)
        mask_[j] = 1;
}

double PeakFit::search(fcomplex** cc, int nx, int ny, double* xoff, double* yoff) {
    if (ny <= 0) {
        *xoff = 0.0;
        *yoff = 0.0;
        return 0.0;
    }

    double background = 0.0;
    float peak = 0.0f;
    int pr = 0, pc = 0;
    for (int r = 0; r < ny; r++) {
        for (int c = 0; c < nx; c++) {
            const float v = cc[r][c].re;
            background += std::fabs(v);
            if (v > peak) {
                peak = v;
                pr = r;
                pc = c;
            }
        }
    }
    if (peak == 0.0f) {
        *xoff = 0.0;
        *yoff = 0.0;
        return 0.0;
    }

    const int h = nw_ / 2;
    int count = 0;
    for (int i = -h; i <= h; i++) {
        const int r = wrap(pr + i, ny);
        for (int j = -h; j <= h; j++) {
            const float v = cc[r][wrap(pc + j, nx)].re;
            if (v > 0.0f) {
                count++;
                x_[count] = j;
                y_[count] = i;
                z_[count] = v;
                sig_[count] = 1.0;
                background -= v;
            }
        }
    }
    if (count < kParameters)
        return 0.0;

    double* a = a_.get();
    lfit(x_.get(), y_.get(), z_.get(), sig_.get(), count, a, mask_.get(), kParameters, covar_.get(),
         &chisq_, quad_basis_2d);

    const double dx = -a[2] / (2.0 * a[4]);
    const double dy = -a[3] / (2.0 * a[5]);
    const double height = a[1] + a[2] * dx + a[3] * dy + a[4] * dx * dx + a[5] * dy * dy;

    // Upper halves of the periodic surface are negative shifts.
    *xoff = pc + dx;
    if (pc >= nx / 2)
        *xoff -= nx;
    *yoff = pr + dy;
    if (pr >= ny / 2)
        *yoff -= ny;

    return height / (background / (nx * ny - count));
}

double corr_peak(fcomplex** cc, int nx, int ny, int nw, double* xoff, double* yoff, int mode) {
    if (mode != 1) {
        if (!g_fit)
            fatal_error("\nERROR: corr_peak: peak search requested before the fit set-up\n");
        if (nw != g_fit->neighbourhood())
            fatal_error("\nERROR: corr_peak: neighbourhood size %d differs from the set-up's %d\n",
                        nw, g_fit->neighbourhood());
        return g_fit->search(cc, nx, ny, xoff, yoff);
    }

    // An even size would centre nothing and overrun the nw*nw data vectors.
    if (nw < 1 || nw % 2 == 0)
        fatal_error("\nERROR: corr_peak: neighbourhood size must be a positive odd number: %d\n",
                    nw);
    g_fit = std::make_unique<PeakFit>(nw);
    return 0.0;
}

void release_corr_peak() {
    g_fit.reset();
}

void quad_basis_2d(double x, double y, double* afunc) {
    afunc[1] = 1.0;
    afunc[2] = x;
    afunc[3] = y;
    afunc[4] = x * x;
    afunc[5] = y * y;
}
