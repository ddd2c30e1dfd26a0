#pragma once

// Integer shift between two amplitude images, on plain arrays: a global search
// by normalized cross-correlation through FFTs, and a local search at full
// resolution. Shift d means slave(x + d) matches master(x).

#include "ingest/ingest.h"

#include <vector>

namespace ingest {

struct AmplitudeImage {
    int width = 0;
    int lines = 0;
    std::vector<float> values; // row-major, width * lines

    float at(int x, int y) const { return values[static_cast<std::size_t>(y) * width + x]; }
};

struct ShiftMatch {
    IntegerOffset shift;
    double correlation = -2.0; // below any correlation: nothing matched
    // best_shift_global only: the highest local maximum of the correlation
    // surface more than kPeakRadius shifts from the peak (-2 when none).
    double next_peak = -2.0;
};

// Shifts within this many of the peak belong to the peak itself.
constexpr int kPeakRadius = 2;

// The shift with the highest normalized cross-correlation over all shifts
// whose overlap holds at least min_overlap samples (masked correlation
// computed with zero-padded FFTs, so no shift wraps around), and the next
// peak of that correlation surface.
ShiftMatch best_shift_global(const AmplitudeImage& master, const AmplitudeImage& slave,
                             long min_overlap);

// The shift with the highest normalized cross-correlation among
// first .. first + (slave size - master size): master is the patch, slave the
// region that holds it at every candidate shift (slave(0,0) lies at shift first).
ShiftMatch best_shift_local(const AmplitudeImage& master, const AmplitudeImage& slave,
                            IntegerOffset first);

} // namespace ingest
