#pragma once

#include "estimation/measure_window.h"
#include "estimation/slc_lines.h"
#include "numeric/fcomplex.h"
#include "numeric/huge_page_block.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The master and slave lines of one grid row, full width, H lines each: the
// master's lines, then the slave's, so that each image's lines arrive in one
// read. Every line a row measures is read in whole before use (the end of a
// file reads as zeros), so nothing needs clearing between rows.
class RowLines {
public:
    RowLines(int masterWidth, int slaveWidth, int height)
        : block_(sizeof(fcomplex) * (static_cast<std::size_t>(masterWidth) + slaveWidth) *
                 static_cast<std::size_t>(height)),
          masterWidth_(masterWidth), slaveWidth_(slaveWidth), height_(height) {}

    // Reads the row's lines from the first master and first slave line on,
    // appending the end-of-file warnings to warnings; raw holds one raw line
    // of either image (nullptr: each reader's own buffer, for one thread).
    // Any number of threads may read rows of the same readers at once.
    void read(const SlcLineReader& masterLines, std::int64_t firstMasterLine,
              const SlcLineReader& slaveLines, std::int64_t firstSlaveLine, std::string& warnings,
              unsigned char* raw = nullptr);

    // Copies the windows centred on masterSample and slaveSample into the
    // workspace's patches.
    void cut_windows(int masterSample, long long slaveSample, WindowWorkspace& ws) const;

private:
    fcomplex* master_line(int r) const {
        return static_cast<fcomplex*>(block_.get()) + static_cast<std::size_t>(r) * masterWidth_;
    }
    fcomplex* slave_line(int r) const {
        return master_line(height_) + static_cast<std::size_t>(r) * slaveWidth_;
    }

    HugePageBlock block_;
    int masterWidth_, slaveWidth_, height_;
};
