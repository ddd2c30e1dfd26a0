#include "run_summary.h"

#include "fitting/determined_terms.h"
#include "params/estimation_grid.h"
#include "params/file_error.h"
#include "params/offset_file.h"
#include "params/offset_par.h"
#include "params/sar_image_xml.h"

#include <exception>
#include <memory>

namespace {

// Only the two polynomials, read strictly: a summary must not show a zero
// standing in for a missing term.
bool read_polynomials(const std::string& path, OffsetPolynomials* poly) {
    try {
        *poly = read_offset_file(path).polynomials;
        return true;
    } catch (const FileError&) {
        return false;
    }
}

// The raster size of the master image, or false.
bool read_image_size(const std::string& xmlPath, int* columns, int* rows) {
    try {
        auto info = std::make_unique<stSarImageInfo>();
        if (!read_sar_image_xml(xmlPath, *info) || info->numberOfColumns < 1 ||
            info->numberOfRows < 1)
            return false;
        *columns = info->numberOfColumns;
        *rows = info->numberOfRows;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void print_polynomial(std::FILE* out, const char* label, const double c[6]) {
    // The offset parameter file's own formats.
    std::fprintf(out, "  %-29s%12.5f %12.4e %12.4e %12.4e %12.4e %12.4e\n", label, c[0], c[1], c[2],
                 c[3], c[4], c[5]);
}

void print_model_offsets(std::FILE* out, const OffsetPolynomials& poly, int columns, int rows) {
    const double lastSample = columns - 1;
    const double lastLine = rows - 1;
    const struct {
        const char* where;
        double x;
        double y;
    } points[] = {
        {"first line, first sample", 0.0, 0.0},
        {"first line, last sample", lastSample, 0.0},
        {"last line, first sample", 0.0, lastLine},
        {"last line, last sample", lastSample, lastLine},
        {"centre", lastSample / 2.0, lastLine / 2.0},
    };
    std::fprintf(out, "  model offsets (range samples, azimuth lines) on the %d x %d master:\n",
                 columns, rows);
    for (const auto& p : points)
        std::fprintf(out, "    %-26s(%7.1f, %7.1f): %10.4f %10.4f\n", p.where, p.x, p.y,
                     eval_offset_poly(poly.range, p.x, p.y),
                     eval_offset_poly(poly.azimuth, p.x, p.y));
}

} // namespace

void FitReport::take_line(const std::string& line) {
    float m[3];
    if (std::sscanf(line.c_str(), "offs[i][j].re,offs[i][j].im,snrs[i][j]: %f %f %f", &m[0], &m[1],
                    &m[2]) == 3) {
        measured.insert(measured.end(), m, m + 3);
        return;
    }
    int a = 0;
    int n = 0;
    if (std::sscanf(line.c_str(), "final solution: %d offset estimates accepted out of %d samples",
                    &a, &n) == 2) {
        haveCounts = true;
        accepted = a;
        samples = n;
        return;
    }
    double r = 0.0;
    double z = 0.0;
    if (std::sscanf(line.c_str(), "final model fit std. dev. (samples) range: %lf azimuth: %lf", &r,
                    &z) == 2) {
        haveScatter = true;
        rangeStdDev = r;
        azimuthStdDev = z;
    }
}

void print_summary(std::FILE* out, const std::string& fittedOffsetParPath, const FitReport& fit,
                   const std::string& masterXmlPath) {
    std::fprintf(out, "\nfinecoreg summary\n");
    std::fprintf(out, "  fitted offset parameters:    %s\n", fittedOffsetParPath.c_str());
    OffsetPolynomials poly;
    const bool havePoly = read_polynomials(fittedOffsetParPath, &poly);
    if (havePoly) {
        print_polynomial(out, "range offset polynomial:", poly.range);
        print_polynomial(out, "azimuth offset polynomial:", poly.azimuth);
    } else {
        std::fprintf(out, "  (the polynomials could not be read back)\n");
    }
    if (fit.haveCounts)
        std::fprintf(out, "  accepted offset estimates:   %d of %d\n", fit.accepted, fit.samples);
    if (fit.haveScatter)
        std::fprintf(out, "  model fit std. dev.:         range %.4f samples, azimuth %.4f lines\n",
                     fit.rangeStdDev, fit.azimuthStdDev);
    if (!fit.heldTerms.empty())
        std::fprintf(out,
                     "  held at zero, not determined: %s (the kept estimates span too few "
                     "lines or samples)\n",
                     fit.heldTerms.c_str());
    int columns = 0;
    int rows = 0;
    if (havePoly && read_image_size(masterXmlPath, &columns, &rows))
        print_model_offsets(out, poly, columns, rows);
    std::fflush(out);
}

std::string undetermined_terms(const FitReport& fit, const RunRequest& request,
                               const std::string& masterXmlPath) {
    int columns = 0;
    int rows = 0;
    if (!read_image_size(masterXmlPath, &columns, &rows))
        return {};
    // Stage 1's grid for this request (reading it back from the offset file
    // would print the reader's diagnostics after the transcript).
    const EstimationGrid g =
        lay_out_grid(columns, rows, request.rangeSamples, request.azimuthSamples,
                     request.windowWidth, request.windowHeight);
    if (g.rangeSamples < 1 || fit.measured.size() != 3 * g.positions())
        return {};
    WeightedPositions p;
    for (std::size_t k = 0; k < fit.measured.size() / 3; k++) {
        const float* m = &fit.measured[3 * k];
        if (m[0] == 0.0f || !(m[2] > request.snrThreshold))
            continue;
        p.x.push_back(static_cast<double>(g.range_position(static_cast<int>(k) % g.rangeSamples)));
        p.y.push_back(
            static_cast<double>(g.azimuth_position(static_cast<int>(k) / g.rangeSamples)));
        p.weight.push_back(m[2]);
    }
    return term_names(kAllOffsetTerms & ~determined_terms(p, columns, rows));
}
