#pragma once

#include "estimation/gross_offset.h"
#include "estimation/slc_image_file.h"
#include "numeric/parallel_loop.h"
#include "params/dense_offsets.h"
#include "params/progress.h"

// The windows of one tracking pass: their size (what measure_window takes:
// powers of two from 8 to 4096, the width less than eight times the height),
// the grid step between their centres, and a margin of master samples and
// lines kept clear of the image edges besides half a window.
struct TrackerWindows {
    int width = 64, height = 64;
    int stepRange = 16, stepAzimuth = 16;
    int margin = 0;
};

// std::invalid_argument naming the setting that measure_window or the grid
// cannot take.
void check_tracker_windows(const TrackerWindows& windows);

// The grid of window centres on a master of width x lines: the first centre
// margin + half a window inside, then every step while the window stays
// margin inside the far edge. Zero columns or rows when no window fits.
OffsetField lay_out_tracking_grid(const TrackerWindows& windows, int width, int lines);

// Measures every window of the grid (which has at least one cell): the
// master window at the grid position, the slave window at master + gross
// offset (rounded). Gives offsets (gross included), SNR, normalised peak,
// sigmas and the states good, no data or no peak; nothing is culled.
// Reads only the lines each row of windows needs; positions are measured on
// the team, the results placed by grid index, so they are the same for any
// team size. Progress runs from 0 to 100 over the rows; Cancelled when the
// caller cancels (asked before each row).
DenseOffsets track_windows(const SlcImageFile& master, const SlcImageFile& slave,
                           const GrossOffset& gross, const TrackerWindows& windows,
                           const OffsetField& grid, ThreadTeam& team, Progress* progress);
