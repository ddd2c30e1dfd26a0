#include "estimation/row_lines.h"

#include <cstddef>
#include <cstring>

void RowLines::read(const SlcLineReader& masterLines, std::int64_t firstMasterLine,
                    const SlcLineReader& slaveLines, std::int64_t firstSlaveLine,
                    std::string& warnings, unsigned char* raw) {
    masterLines.read_lines_at(firstMasterLine, height_, master_line(0), warnings, raw);
    slaveLines.read_lines_at(firstSlaveLine, height_, slave_line(0), warnings, raw);
}

void RowLines::cut_windows(int masterSample, long long slaveSample, WindowWorkspace& ws) const {
    const int w = ws.width();
    // One copy per window line: the lines of a row lie far apart, and whole
    // runs of samples move faster than sample by sample.
    const std::size_t bytes = sizeof(fcomplex) * static_cast<std::size_t>(w);
    for (int r = 0; r < ws.height(); r++) {
        std::memcpy(ws.master_patch()[r], master_line(r) + (masterSample - w / 2), bytes);
        std::memcpy(ws.slave_patch()[r], slave_line(r) + (slaveSample - w / 2), bytes);
    }
}
