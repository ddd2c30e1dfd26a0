#pragma once

#include "params/file_naming.h"
#include "slc_file.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

constexpr double kSimulatedPrf = 1000.0;

// A Gaussian bump of the offsets along one axis: amplitude * exp(-r^2 / (2
// width^2)), r the distance from the centre. Amplitude 0: none.
struct BumpOptions {
    double amplitude = 0.0; // samples in range, lines in azimuth
    double width = 1.0;     // standard deviation, samples
    double x0 = NAN;        // centre; NaN: the image's centre
    double y0 = NAN;
};

// Offsets no polynomial describes, added to the polynomials at every master
// position (tools/slcsim/offset_field.h has their shapes). Zero: none.
struct OffsetFieldOptions {
    std::string raster_path; // an offset raster file (offset_raster.h); empty: none
    BumpOptions range_bump;
    BumpOptions azimuth_bump;
    double range_step = 0.0;   // across the diagonal, on the side of later lines
    double azimuth_step = 0.0; // the same, in lines
    double flow = 0.0;         // vortex reaching this at a quarter of the smaller side
};

// A simulated SLC pair with known offsets, for testing co-registration.
struct SlcSimOptions {
    int width = 1024; // samples per line, both images
    int lines = 1024;
    SampleFormat format = SampleFormat::fcomplex;
    // slave position = master position + offset, c0..c5 of 1, x, y, x*y, x^2,
    // y^2 at master range sample x and master line y.
    double range_offset_polynomial[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    double azimuth_offset_polynomial[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    double coherence = 1.0; // gamma in (0, 1]
    // Fraction of the band the spectrum fills in range and in azimuth, in
    // (0, 1]; the slave keeps better than 1/1000 sample positional accuracy
    // up to 0.95.
    double occupancy = 0.8;
    // Doppler centroid, cycles per line in (-0.5, 0.5): both images' azimuth
    // spectra centred there (master line y times exp(i 2 pi f y)); the XML
    // files state it in Hz at a PRF of kSimulatedPrf. 0 leaves the bytes of
    // a simulation without it.
    double doppler = 0.0;
    // Given: the centroid changes linearly from doppler at the first line to
    // this at the last (phase its integral); the XML files state the mean.
    std::optional<double> doppler_at_last_line;
    OffsetFieldOptions fields;
    // Acquisition starts (ISO 8601) the XML files state as rawDataStartTime;
    // empty leaves the writer's "UNKNOWN".
    std::string master_start, slave_start;
    std::uint64_t seed = 1;
    // Coarse offsets written to the offset parameter file.
    int initial_range_offset = 0;
    int initial_azimuth_offset = 0;
    std::string master_path;
    std::string slave_path;
    std::string offset_par_path;
    std::string truth_path;
    // Optional: the total true offsets at every master sample, an offset raster file.
    std::string truth_field_path;
};

// Writes the master and slave images, an XML image parameter file beside
// each (image path up to its last "." + ".xml"), the offset parameter file
// (coarse offsets, zero polynomials) and the truth file (the true
// polynomials in the offset parameter file layout). The polynomials are
// first rounded to what that layout holds (c0 to 5 decimals, c1..c5 to 5
// significant digits), so the truth file states the simulated offsets
// exactly. Offset fields add to the polynomials; the truth file holds the
// polynomials only, the truth field file (when asked for) the sum. The master is band-limited
// circular complex Gaussian speckle of E|z|^2 = 50 (parts of standard deviation 5, i.e. 5000
// SCOMPLEX counts); the slave is the same field at the offset positions, mixed with independent
// speckle of the same spectrum to the given coherence: slave(x + dr(x, y), y + da(x, y)) = gamma *
// master(x, y) + sqrt(1 - gamma^2) * noise. Deterministic for a seed. False with a message on
// invalid options or an I/O failure.
bool simulate_slc_pair(const SlcSimOptions& options, std::string* error);

// Options of a side x side pair in dir (master.slc, slave.slc, pair.off,
// truth.off) whose offsets are the two polynomials; the rest defaults.
SlcSimOptions square_pair_in(const std::string& dir, int side, const double range[6],
                             const double azimuth[6]);
