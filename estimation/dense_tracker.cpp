// The dense offset tracker's measuring pass: the one correlation chain
// (measure_window) at every window of a regular grid.

#include "estimation/dense_tracker.h"

#include "estimation/measure_window.h"
#include "estimation/slc_lines.h"
#include "estimation/window_sigma.h"
#include "numeric/fcomplex.h"
#include "params/file_error.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kMinWindowSide = 8;
constexpr int kMaxWindowSide = 4096;
constexpr double kClipFactor = 5.0; // intensities clipped at 5 x the image average, as stage 1
constexpr int kReadChunk = 8;       // lines per read job of a row
constexpr int kBatchWindows = 64;   // windows handed out at once, rows batched up to
constexpr int kMaxBatchRows = 4;    // rows held at once at most

bool power_of_two(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

long long round_to_sample(double v) {
    if (!(std::fabs(v) < 1e15))
        return v > 0 ? LLONG_MAX / 4 : LLONG_MIN / 4; // NaN and beyond: outside any image
    return std::llround(v);
}

// Where the two windows of one grid cell lie.
struct WindowPlace {
    int masterSample;
    long long slaveSample, slaveLine; // centres
    double grossRange, grossAzimuth;  // the whole-sample shift applied
    bool inside;
};

// The lines of one grid row: the master's under its windows, the slave's
// from the first to the last line any of its slave windows needs.
struct RowBuffer {
    std::vector<fcomplex> master, slave;
    long long firstSlaveLine = 0;
};

class TrackingPass {
public:
    TrackingPass(const SlcImageFile& master, const SlcImageFile& slave, const GrossOffset& gross,
                 const TrackerWindows& windows)
        : master_(master), slave_(slave), gross_(gross), w_(windows),
          raw_(static_cast<std::size_t>(std::max(master.width, slave.width)) *
               bytes_per_sample(master.format)),
          masterReader_(master.file.get(), master.width, master.format, raw_.data(), ""),
          slaveReader_(slave.file.get(), slave.width, slave.format, raw_.data(), "") {
        masterClip_ = clip_of(masterReader_, master);
        slaveClip_ = clip_of(slaveReader_, slave);
    }

    std::vector<WindowPlace> place_row(const OffsetField& grid, int row) const {
        std::vector<WindowPlace> places(static_cast<std::size_t>(grid.columns));
        const double line = grid.firstAzimuth + row * grid.stepAzimuth;
        for (int c = 0; c < grid.columns; c++) {
            const double sample = grid.firstRange + c * grid.stepRange;
            const GrossOffset::Offset g = gross_.at(sample, line);
            WindowPlace& p = places[static_cast<std::size_t>(c)];
            p.masterSample = static_cast<int>(sample);
            const long long dr = round_to_sample(g.range), da = round_to_sample(g.azimuth);
            p.slaveSample = p.masterSample + dr;
            p.slaveLine = static_cast<long long>(line) + da;
            p.grossRange = static_cast<double>(dr);
            p.grossAzimuth = static_cast<double>(da);
            p.inside =
                p.slaveSample - w_.width / 2 >= 0 && p.slaveSample + w_.width / 2 <= slave_.width &&
                p.slaveLine - w_.height / 2 >= 0 && p.slaveLine + w_.height / 2 <= slave_.lines;
        }
        return places;
    }

    // The master lines of a row of windows and the slave lines its windows
    // reach, read in chunks of lines shared among the team (the reads go by
    // position, each thread through a raw line of its own), so that reading
    // does not leave the other threads waiting.
    void read_row(int masterLine, const std::vector<WindowPlace>& places, RowBuffer& b,
                  ThreadTeam& team) const {
        const int h = w_.height;
        b.master.resize(static_cast<std::size_t>(h) * master_.width);
        long long first = LLONG_MAX, last = LLONG_MIN;
        for (const WindowPlace& p : places)
            if (p.inside) {
                first = std::min(first, p.slaveLine - h / 2);
                last = std::max(last, p.slaveLine + h / 2);
            }
        b.firstSlaveLine = first;
        const int slaveCount = first > last ? 0 : static_cast<int>(last - first);
        b.slave.resize(static_cast<std::size_t>(slaveCount) * slave_.width);
        const int masterChunks = (h + kReadChunk - 1) / kReadChunk;
        const int chunks = masterChunks + (slaveCount + kReadChunk - 1) / kReadChunk;
        const std::size_t rawBytes =
            8 * static_cast<std::size_t>(std::max(master_.width, slave_.width));
        if (rawLines_.size() != static_cast<std::size_t>(team.size()))
            rawLines_.assign(static_cast<std::size_t>(team.size()),
                             std::vector<unsigned char>(rawBytes));
        std::vector<std::string> warnings(static_cast<std::size_t>(chunks));
        team.for_each(chunks, [&](int thread, int chunk) {
            const bool isMaster = chunk < masterChunks;
            const int k = (isMaster ? chunk : chunk - masterChunks) * kReadChunk;
            const int count = std::min(kReadChunk, (isMaster ? h : slaveCount) - k);
            unsigned char* raw = rawLines_[static_cast<std::size_t>(thread)].data();
            std::string& said = warnings[static_cast<std::size_t>(chunk)];
            if (isMaster)
                masterReader_.read_lines_at(masterLine - h / 2 + k, count,
                                            &b.master[static_cast<std::size_t>(k) * master_.width],
                                            said, raw);
            else
                slaveReader_.read_lines_at(first + k, count,
                                           &b.slave[static_cast<std::size_t>(k) * slave_.width],
                                           said, raw);
        });
    }

    // Measures one window into cell of out.
    void measure(const RowBuffer& b, const WindowPlace& p, WindowWorkspace& ws, DenseOffsets& out,
                 std::size_t cell) const {
        if (!p.inside)
            return;
        cut(b, p, ws);
        if (mostly_no_data(ws.master_patch(), ws.width(), ws.height()) ||
            mostly_no_data(ws.slave_patch(), ws.width(), ws.height()))
            return;
        const WindowMeasurement m = measure_window(ws, masterClip_, slaveClip_);
        const double peak = normalised_peak(ws);
        out.snr[cell] = static_cast<float>(m.snr);
        out.peak[cell] = static_cast<float>(peak);
        if (m.snr == 0.0) {
            out.mask[cell] = static_cast<unsigned char>(WindowState::no_peak);
            return;
        }
        const WindowSigma sigma = window_sigma(peak, ws.width(), ws.height());
        out.offsets.range[cell] = static_cast<float>(m.rangeShift + p.grossRange);
        out.offsets.azimuth[cell] = static_cast<float>(m.azimuthShift + p.grossAzimuth);
        out.rangeSigma[cell] = static_cast<float>(sigma.range);
        out.azimuthSigma[cell] = static_cast<float>(sigma.azimuth);
        out.mask[cell] = static_cast<unsigned char>(WindowState::good);
    }

private:
    static double clip_of(SlcLineReader& reader, const SlcImageFile& image) {
        double average = 0.0;
        if (!average_intensity(reader, image.format, image.width, image.lines, &average))
            throw FileError(image.path, "holds no sample to correlate (all zero)");
        return kClipFactor * average;
    }

    void cut(const RowBuffer& b, const WindowPlace& p, WindowWorkspace& ws) const {
        const int w = ws.width(), h = ws.height();
        const std::size_t bytes = sizeof(fcomplex) * static_cast<std::size_t>(w);
        const std::size_t slaveRow0 =
            static_cast<std::size_t>(p.slaveLine - h / 2 - b.firstSlaveLine);
        for (int r = 0; r < h; r++) {
            std::memcpy(
                ws.master_patch()[r],
                &b.master[static_cast<std::size_t>(r) * master_.width + p.masterSample - w / 2],
                bytes);
            std::memcpy(ws.slave_patch()[r],
                        &b.slave[(slaveRow0 + r) * slave_.width +
                                 static_cast<std::size_t>(p.slaveSample - w / 2)],
                        bytes);
        }
    }

    const SlcImageFile& master_;
    const SlcImageFile& slave_;
    const GrossOffset& gross_;
    TrackerWindows w_;
    std::vector<unsigned char> raw_;
    SlcLineReader masterReader_, slaveReader_;
    mutable std::vector<std::vector<unsigned char>> rawLines_; // one raw line per thread
    double masterClip_ = 0.0, slaveClip_ = 0.0;
};

} // namespace

void check_tracker_windows(const TrackerWindows& w) {
    for (const int side : {w.width, w.height})
        if (!power_of_two(side) || side < kMinWindowSide || side > kMaxWindowSide)
            throw std::invalid_argument("window sides must be powers of two from 8 to 4096, not " +
                                        std::to_string(side));
    // The oversampling filter's taps (W/4 + 1) must fit the oversampled height.
    if (w.width >= 8 * w.height)
        throw std::invalid_argument("the window width must be less than eight times its height");
    if (w.stepRange < 1 || w.stepAzimuth < 1)
        throw std::invalid_argument("grid steps must be at least 1");
    if (w.margin < 0)
        throw std::invalid_argument("the margin must not be negative");
}

OffsetField lay_out_tracking_grid(const TrackerWindows& w, int width, int lines) {
    OffsetField grid;
    grid.firstRange = w.margin + w.width / 2;
    grid.firstAzimuth = w.margin + w.height / 2;
    grid.stepRange = w.stepRange;
    grid.stepAzimuth = w.stepAzimuth;
    const long long spanRange = static_cast<long long>(width) - 2LL * w.margin - w.width;
    const long long spanAzimuth = static_cast<long long>(lines) - 2LL * w.margin - w.height;
    grid.columns = spanRange < 0 ? 0 : static_cast<int>(spanRange / w.stepRange + 1);
    grid.rows = spanAzimuth < 0 ? 0 : static_cast<int>(spanAzimuth / w.stepAzimuth + 1);
    return grid;
}

DenseOffsets track_windows(const SlcImageFile& master, const SlcImageFile& slave,
                           const GrossOffset& gross, const TrackerWindows& windows,
                           const OffsetField& grid, ThreadTeam& team, Progress* progress) {
    DenseOffsets out;
    out.offsets = grid;
    out.resize_to_grid();
    TrackingPass pass(master, slave, gross, windows);
    const auto filter =
        std::make_shared<const OversamplingFilter>(windows.width, windows.height, 2, false);
    std::vector<std::unique_ptr<WindowWorkspace>> workspaces;
    for (int t = 0; t < team.size(); t++)
        workspaces.push_back(std::make_unique<WindowWorkspace>(filter));
    // Rows are measured in batches of at least kBatchWindows windows, handed
    // out together, so a short row does not leave a thread idle at its end.
    const int batchRows = std::max(
        1, std::min(kMaxBatchRows, (kBatchWindows + grid.columns - 1) / std::max(1, grid.columns)));
    std::vector<RowBuffer> buffers(static_cast<std::size_t>(batchRows));
    std::vector<std::vector<WindowPlace>> places(static_cast<std::size_t>(batchRows));
    for (int batch = 0; batch < grid.rows; batch += batchRows) {
        if (progress != nullptr) {
            progress->progress(100.0 * batch / grid.rows);
            if (progress->cancelled())
                throw Cancelled();
        }
        const int rows = std::min(batchRows, grid.rows - batch);
        for (int k = 0; k < rows; k++) {
            const std::size_t i = static_cast<std::size_t>(k);
            places[i] = pass.place_row(grid, batch + k);
            pass.read_row(static_cast<int>(grid.firstAzimuth + (batch + k) * grid.stepAzimuth),
                          places[i], buffers[i], team);
        }
        team.for_each(rows * grid.columns, [&](int thread, int item) {
            const int k = item / grid.columns, column = item % grid.columns;
            const std::size_t i = static_cast<std::size_t>(k);
            pass.measure(buffers[i], places[i][static_cast<std::size_t>(column)],
                         *workspaces[static_cast<std::size_t>(thread)], out,
                         out.offsets.index(batch + k, column));
        });
    }
    if (progress != nullptr)
        progress->progress(100.0);
    return out;
}
