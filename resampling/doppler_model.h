#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <vector>

// The slave's Doppler centroid over the image in cycles per line: a part
// that varies along azimuth (given at line positions, linear between them
// and along the end segments beyond), plus a part that varies along range
// (a polynomial in the slave's range sample, zero at sample 0). The
// resampler demodulates each slave sample by the phase the centroid
// accumulates down its column (the centroid's integral over lines) and
// remodulates each interpolated value by the phase at its position, so a
// spectrum that moves along the image (the antenna steering of burst-mode
// sensors) is brought to base band wherever it lies.
class DopplerModel {
public:
    DopplerModel() = default;      // none: zero everywhere
    DopplerModel(double constant); // one centroid everywhere (NOLINT: a constant is a model)
    // nodeLines increasing, nodeCentroids of the same size (at least one);
    // rangeTerms: cycles per line per sample, per sample squared and cubed.
    DopplerModel(std::vector<double> nodeLines, std::vector<double> nodeCentroids,
                 std::array<double, 3> rangeTerms);

    bool is_none() const { return constant_ && constantValue_ == 0.0 && !has_range_terms(); }
    // One centroid for the whole image (no azimuth nodes, no range terms).
    bool is_constant() const { return constant_ && !has_range_terms(); }
    double constant_value() const { return constantValue_; }
    bool has_range_terms() const;
    bool varies_in_azimuth() const { return !constant_; }

    double centroid(double x, double y) const;
    // The centroid's integral along azimuth from line 0 to y, in cycles.
    double phase_cycles(double x, double y) const;
    // Multiplies a slave line (width samples from column 0) by exp(-i 2 pi phase).
    void demodulate_line(std::complex<float>* samples, int line, int width) const;

    // The lowest and highest centroid over an image of width x lines.
    void extent(int width, int lines, double* lowest, double* highest) const;

private:
    struct Segment {
        std::size_t node; // the piece from this node to the next
        double slope;     // cycles per line per line
    };
    Segment segment(double y) const; // nodes only
    double azimuth_centroid(double y) const;
    double azimuth_phase(double y) const;
    double range_centroid(double x) const;

    bool constant_ = true;
    double constantValue_ = 0.0;
    std::vector<double> nodeLines_, nodeCentroids_, nodePhases_;
    std::array<double, 3> rangeTerms_{0.0, 0.0, 0.0};
};

// exp(i 2 pi cycles), looked up at 1/4096 cycle: at most 1/8192 cycle off,
// an error power below -65 dB.
std::complex<float> unit_phasor(double cycles);
