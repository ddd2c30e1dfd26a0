#include "params/estimation_grid.h"

EstimationGrid lay_out_grid(int width, int lines, int rangeSamples, int azimuthSamples,
                            int windowWidth, int windowHeight) {
    EstimationGrid g;
    g.rangeSamples = rangeSamples;
    g.rangeStart = kGridMargin;
    g.rangeEnd = width - kGridMargin;
    g.rangeSpacing =
        rangeSamples > 1 ? (width - 2 * kGridMargin) / (rangeSamples - 1) : windowWidth;
    g.azimuthSamples = azimuthSamples;
    g.azimuthStart = kGridMargin;
    g.azimuthEnd = lines - kGridMargin;
    g.azimuthSpacing =
        azimuthSamples > 1 ? (lines - 2 * kGridMargin) / (azimuthSamples - 1) : windowHeight;
    return g;
}

void store_grid(const EstimationGrid& g, stOffsetParInfo& par) {
    par.offset_estimation_starting_range = g.rangeStart;
    par.offset_estimation_ending_range = g.rangeEnd;
    par.offset_estimation_range_samples = g.rangeSamples;
    par.offset_estimation_range_spacing = g.rangeSpacing;
    par.offset_estimation_starting_azimuth = g.azimuthStart;
    par.offset_estimation_ending_azimuth = g.azimuthEnd;
    par.offset_estimation_azimuth_samples = g.azimuthSamples;
    par.offset_estimation_azimuth_spacing = g.azimuthSpacing;
}

EstimationGrid grid_of(const stOffsetParInfo& par) {
    EstimationGrid g;
    g.rangeStart = par.offset_estimation_starting_range;
    g.rangeEnd = par.offset_estimation_ending_range;
    g.rangeSamples = par.offset_estimation_range_samples;
    g.rangeSpacing = par.offset_estimation_range_spacing;
    g.azimuthStart = par.offset_estimation_starting_azimuth;
    g.azimuthEnd = par.offset_estimation_ending_azimuth;
    g.azimuthSamples = par.offset_estimation_azimuth_samples;
    g.azimuthSpacing = par.offset_estimation_azimuth_spacing;
    return g;
}
