#pragma once

#include "resampling/doppler_model.h"
#include "resampling/slave_window.h"

#include <string>
#include <vector>

// How the slave's Doppler centroid is chosen.
struct DopplerChoice {
    enum class Mode { automatic, given, off } mode = Mode::automatic;
    double value = 0.0; // cycles per line, for Mode::given
};

// The centroid the data show along azimuth: up to kDopplerProfileBlocks
// blocks of kDopplerProfileBlockLines lines spread over the image, each
// estimated like estimate_doppler_centroid from all its pairs of lines, at
// the block's middle; unwrapped from block to block (a steered antenna
// sweeps the centroid through more than half the PRF) and smoothed over
// three blocks. Blocks without signal are left out.
constexpr int kDopplerProfileBlockLines = 16;
constexpr int kDopplerProfileBlocks = 256;
struct DopplerProfile {
    std::vector<double> lines, centroids;
    double scatter = 0.0; // of one block's estimate before smoothing
};
DopplerProfile estimate_doppler_profile(SlaveLineSource& slave);

// A profile is followed when its lowest and highest centroids lie more than
// this apart (cycles per line), twice the XML/data disagreement threshold,
// and more than ten times the smoothed blocks' scatter. Measured on
// simulated constant-centroid pairs of 4096 lines at coherence 0.3 and 0.9,
// the smoothed profile spans 0.03 at 256 samples wide, 0.08 at 48 and 0.11
// at 32 (block scatter 0.028): the scatter term keeps narrow images constant.
constexpr double kDopplerVariation = 0.1;

// What the slave's XML says of its centroid: dopplerCentroidCoefficients (Hz;
// the constant term, then per range sample, squared and cubed) and the PRF.
struct XmlDoppler {
    std::string file;
    double coefficients[4] = {0.0, 0.0, 0.0, 0.0};
    double prf = 0.0;
};

struct ChosenDoppler {
    DopplerModel model;
    std::string source;  // "xml", "estimated", "given" or "off"
    double mean = 0.0;   // cycles per line, over the image
    double lowest = 0.0; // and its extent
    double highest = 0.0;
    std::vector<std::string> warnings;
    // "0.0120 cycles/line (xml)", "0.0550 to 0.5530 cycles/line (estimated,
    // following azimuth)" and the like: what every entry point reports.
    std::string description() const;
};

// The centroid to resample with. Given: that value (std::invalid_argument
// outside (-0.5, 0.5)). Off: none. Automatic: the XML's range terms where it
// has them, and along azimuth the data's profile where it varies (with a
// warning when the XML gives one value); else one value, the XML's while it
// agrees with the data's estimate (reconcile_doppler), the data's otherwise
// or without one. FileError naming the XML for a centroid it cannot mean.
ChosenDoppler choose_doppler_model(const DopplerChoice& choice, const XmlDoppler* xml,
                                   SlaveLineSource& slave);
