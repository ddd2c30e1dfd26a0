#pragma once

// The 1-sigma uncertainty of a window's offsets (samples in range, lines in
// azimuth) from its normalised correlation peak and its size.
struct WindowSigma {
    double range, azimuth;
};
WindowSigma window_sigma(double normalisedPeak, int width, int height);
