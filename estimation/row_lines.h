#pragma once

#include "estimation/measure_window.h"
#include "estimation/slc_lines.h"
#include "numeric/alloc.h"
#include "numeric/fcomplex.h"

#include <cstdint>

// The master and slave lines of one grid row, full width, H lines each, one
// block per image so that a row's lines arrive in one read. Every line a row
// measures is read in whole before use (the end of a file reads as zeros),
// so nothing needs clearing between rows.
class RowLines {
public:
    RowLines(int masterWidth, int slaveWidth, int height)
        : master_(masterWidth, height), slave_(slaveWidth, height), height_(height) {}

    // Reads the row's lines from the first master and first slave line on.
    void read(SlcLineReader& masterLines, std::int64_t firstMasterLine, SlcLineReader& slaveLines,
              std::int64_t firstSlaveLine);

    // Copies the windows centred on masterSample and slaveSample into the
    // workspace's patches.
    void cut_windows(int masterSample, long long slaveSample, WindowWorkspace& ws) const;

private:
    Array2D<fcomplex> master_, slave_;
    int height_;
};
