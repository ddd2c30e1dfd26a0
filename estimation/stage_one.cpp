// Stage 1: the slave's offset at every position of the estimation grid, by
// oversampled intensity cross-correlation of a master and a slave window.

#include "estimation/stage_one.h"

#include "estimation/image_size_check.h"
#include "estimation/interp_patch.h"
#include "estimation/measure_window.h"
#include "estimation/row_lines.h"
#include "estimation/row_pipeline.h"
#include "estimation/slc_lines.h"
#include "numeric/alloc.h"
#include "params/file_handle.h"
#include "params/offset_par.h"
#include "params/offset_par_file.h"
#include "params/sar_image_xml.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// Nearest integer, halves away from zero. A value beyond the 32-bit range, or
// NaN, from a garbled offset parameter file saturates (NaN to the lowest):
// the slave window then lies outside the slave instead of the conversion
// being undefined.
int round_offset(double v) {
    if (!(v > INT_MIN))
        return INT_MIN;
    if (!(v < INT_MAX))
        return INT_MAX;
    return v >= 0.0 ? static_cast<int>(v + 0.5) : static_cast<int>(v - 0.5);
}

bool fail(StageReporter& reporter, const char* message) {
    reporter.failure(message);
    return false;
}

struct Raster {
    int width;
    int lines;
};

// The files of the stage, opened (or created) in the order their failures
// are reported, and the offset parameter record read from its file.
struct StageFiles {
    FileHandle master, slave, offsets, snr, listing;
    Raster masterSize{}, slaveSize{};
    SampleFormat format = SampleFormat::fcomplex;
    stOffsetParInfo par{};
};

const char* open_stage_files(const RunRequest& request, const WorkFiles& work, StageFiles& f) {
    f.master = open_file(request.masterPath, "rb");
    if (!f.master)
        return "Failed to open the master image !";
    f.slave = open_file(request.slavePath, "rb");
    if (!f.slave)
        return "Failed to open the slave image !";

    auto masterInfo = std::make_unique<stSarImageInfo>();
    auto slaveInfo = std::make_unique<stSarImageInfo>();
    if (!read_sar_image_xml(image_xml_path(request.masterPath), *masterInfo) ||
        !read_sar_image_xml(image_xml_path(request.slavePath), *slaveInfo))
        return "Open xml parameter file error!";

    FileHandle offParIn = open_file(request.offsetParPath, "r");
    if (!offParIn)
        return "Failed to open the off file !";
    f.offsets = open_file(work.offsets, "wb");
    if (!f.offsets)
        return "Failed to create the offsets file !";
    f.snr = open_file(work.snr, "wb");
    if (!f.snr)
        return "Failed to create the snr file !";
    read_offset_par(offParIn.get(), &f.par);
    offParIn.reset();
    f.listing = open_file(work.listing, "w");
    if (!f.listing)
        return "Cannot open text offsets listing file!";

    f.masterSize = {masterInfo->numberOfColumns, masterInfo->numberOfRows};
    f.slaveSize = {slaveInfo->numberOfColumns, slaveInfo->numberOfRows};
    f.format = sample_format_of(masterInfo->imageDataType);
    // A raster size below one sample would reach the allocators as a huge
    // unsigned count, and one the file cannot hold would allocate or read
    // for nothing: both are refused before any line buffer exists.
    const int bytes = bytes_per_sample(f.format);
    for (const auto& [size, file] :
         {std::pair{f.masterSize, f.master.get()}, std::pair{f.slaveSize, f.slave.get()}})
        if (size.width < 1 || size.lines < 1 ||
            !plausible_image_size(file, size.width, size.lines, bytes))
            return "Invalid image size in xml parameter file !";
    return nullptr;
}

// The run's settings and the grid go into the record that is written back
// at the end; a record without a polynomial starts from its initial offsets.
EstimationGrid prepare_offset_par(const RunRequest& request, const Raster& master,
                                  stOffsetParInfo& par) {
    par.offset_estimation_window_width = request.windowWidth;
    par.offset_estimation_window_height = request.windowHeight;
    par.offset_estimation_threshhold = request.snrThreshold;
    if (par.range_offset_polynomial[0] == 0.0 && par.azimuth_offset_polynomial[0] == 0.0) {
        par.range_offset_polynomial[0] = par.initial_range_offset;
        par.azimuth_offset_polynomial[0] = par.initial_azimuth_offset;
    }
    const EstimationGrid grid =
        lay_out_grid(master.width, master.lines, request.rangeSamples, request.azimuthSamples,
                     request.windowWidth, request.windowHeight);
    store_grid(grid, par);
    return grid;
}

// One row of the grid as it goes to the work files.
struct GridRow {
    explicit GridRow(int positions)
        : offsets(positions), snr(positions), isAccepted(positions), count(positions) {}
    void clear() {
        zero_1d(offsets.get(), count, sizeof(fcomplex));
        zero_1d(snr.get(), count, sizeof(float));
        std::fill(isAccepted.begin(), isAccepted.end(), 0);
        accepted = 0;
    }
    Block1D<fcomplex> offsets;
    Block1D<float> snr;
    std::vector<unsigned char> isAccepted;
    int count;
    int accepted = 0;
};

// Writes one grid row to the binary work files; the failure message or
// nullptr.
const char* write_row(const GridRow& row, StageFiles& f) {
    std::fwrite(row.offsets.get(), sizeof(fcomplex), row.count, f.offsets.get());
    std::fwrite(row.snr.get(), sizeof(float), row.count, f.snr.get());
    if (std::ferror(f.offsets.get()))
        return "Failed to write to output offsets file !";
    if (std::ferror(f.snr.get()))
        return "Failed to write to output snr file !";
    return nullptr;
}

void keep_row(const GridRow& row, int i, OffsetMeasurements* out) {
    if (out == nullptr)
        return;
    for (int j = 0; j < row.count; j++) {
        const std::size_t k = static_cast<std::size_t>(i) * row.count + j;
        out->rangeOffset[k] = row.offsets[j].re;
        out->azimuthOffset[k] = row.offsets[j].im;
        out->snr[k] = row.snr[j];
        out->accepted[k] = row.isAccepted[j];
    }
    out->acceptedCount += row.accepted;
}

void start_measurements(const EstimationGrid& grid, const Raster& master, OffsetMeasurements* out) {
    if (out == nullptr)
        return;
    *out = OffsetMeasurements{};
    out->grid = grid;
    out->masterWidth = master.width;
    out->masterLines = master.lines;
    out->rangeOffset.assign(grid.positions(), 0.0f);
    out->azimuthOffset.assign(grid.positions(), 0.0f);
    out->snr.assign(grid.positions(), 0.0f);
    out->accepted.assign(grid.positions(), 0);
}

// Where the windows of grid row i lie: the row's master line and the
// azimuth offset every position of the row uses. Slave positions are 64-bit:
// a huge coarse offset must fail the bounds test, not overflow.
struct RowPlace {
    int masterLine;
    int azimuthOffset;
    long long slaveLine;
    bool inside; // the windows' lines lie inside both images
};

// Where the windows of one position lie.
struct PositionPlace {
    int masterSample;
    int rangeOffset;
    long long slaveSample;
    bool inside;
};

// What the positions of the grid need to know, read-only while the stage
// measures (on any number of threads).
struct GridPlan {
    EstimationGrid grid;
    const stOffsetParInfo& par;
    Raster master, slave;
    int halfWidth, halfHeight;
    double masterClip, slaveClip;

    RowPlace place_row(int i) const {
        const int masterLine = static_cast<int>(grid.azimuth_position(i));
        const int azimuthOffset = round_offset(
            eval_offset_poly(par.azimuth_offset_polynomial, (master.width - 1) * 0.5, masterLine));
        const long long slaveLine = static_cast<long long>(masterLine) + azimuthOffset;
        const bool inside = masterLine + halfHeight < master.lines &&
                            slaveLine + halfHeight < slave.lines && masterLine - halfHeight >= 0 &&
                            slaveLine - halfHeight >= 0;
        return {masterLine, azimuthOffset, slaveLine, inside};
    }

    PositionPlace place_position(const RowPlace& row, int j) const {
        const int masterSample = static_cast<int>(grid.range_position(j));
        const int rangeOffset = round_offset(
            eval_offset_poly(par.range_offset_polynomial, masterSample, row.masterLine));
        const long long slaveSample = static_cast<long long>(masterSample) + rangeOffset;
        const bool inside = masterSample + halfWidth < master.width &&
                            slaveSample + halfWidth < slave.width && slaveSample - halfWidth >= 0 &&
                            masterSample - halfWidth >= 0;
        return {masterSample, rangeOffset, slaveSample, inside};
    }

    // Cuts and measures the windows of one position from its row's lines.
    PositionOutcome measure(const RowLines& lines, const PositionPlace& p,
                            WindowWorkspace& ws) const {
        PositionOutcome outcome;
        if (!p.inside)
            return outcome;
        lines.cut_windows(p.masterSample, p.slaveSample, ws);
        if (mostly_no_data(ws.master_patch(), ws.width(), ws.height()) ||
            mostly_no_data(ws.slave_patch(), ws.width(), ws.height()))
            return outcome;
        outcome.measured = true;
        outcome.measurement = measure_window(ws, masterClip, slaveClip);
        return outcome;
    }
};

// Enters a measured position into its row and the listing.
void take_position(const WindowMeasurement& m, const RowPlace& rowPlace, const PositionPlace& p,
                   double threshold, int j, GridRow& row, std::FILE* listing) {
    row.snr[j] = static_cast<float>(m.snr);
    // A peak search that failed (SNR 0, shifts not written) is never
    // accepted, even under a negative threshold.
    if (static_cast<double>(row.snr[j]) > threshold && m.snr != 0.0) {
        row.offsets[j].re = static_cast<float>(m.rangeShift + p.rangeOffset);
        row.offsets[j].im = static_cast<float>(m.azimuthShift + rowPlace.azimuthOffset);
        row.isAccepted[j] = 1;
        row.accepted++;
        std::fprintf(listing, "%5d %5d %12.4f %12.4f %10.3f\n", p.masterSample, rowPlace.masterLine,
                     row.offsets[j].re, row.offsets[j].im, row.snr[j]);
    }
}

// One thread's read of a row: its end-of-file warnings come out at once.
void read_row(RowLines& lines, const SlcLineReader& masterLines, const SlcLineReader& slaveLines,
              const RowPlace& r, int halfHeight) {
    std::string warnings;
    lines.read(masterLines, r.masterLine - halfHeight, slaveLines, r.slaveLine - halfHeight,
               warnings);
    std::fputs(warnings.c_str(), stdout);
}

// With more than one thread, the rows inside both images go to the team.
std::unique_ptr<RowPipeline> start_pipeline(ThreadTeam& team, const GridPlan& plan,
                                            SlcLineReader& masterLines, SlcLineReader& slaveLines,
                                            WindowWorkspace& callerWorkspace) {
    if (team.size() <= 1)
        return nullptr;
    std::vector<RowToMeasure> rows;
    for (int i = 0; i < plan.grid.azimuthSamples; i++) {
        const RowPlace r = plan.place_row(i);
        if (r.inside)
            rows.push_back({i, r.masterLine - plan.halfHeight, r.slaveLine - plan.halfHeight});
    }
    return std::make_unique<RowPipeline>(
        team, std::move(rows), plan.grid.rangeSamples, masterLines, slaveLines, plan.master.width,
        plan.slave.width, callerWorkspace,
        [&plan](const RowLines& lines, int i, int j, WindowWorkspace& ws) {
            return plan.measure(lines, plan.place_position(plan.place_row(i), j), ws);
        });
}

} // namespace

bool estimate_offsets(const RunRequest& request, const WorkFiles& work, StageReporter& reporter,
                      OffsetMeasurements* measurements) {
    StageFiles f;
    if (const char* problem = open_stage_files(request, work, f))
        return fail(reporter, problem);

    const int windowWidth = request.windowWidth;
    const int windowHeight = request.windowHeight;
    const Raster& masterSize = f.masterSize;
    const Raster& slaveSize = f.slaveSize;
    stOffsetParInfo& par = f.par;
    const EstimationGrid grid = prepare_offset_par(request, masterSize, par);
    // More positions than samples (or lines) between the margins give a
    // spacing of 0: all of them would be measured at one place, and stage 2
    // could not tell them apart. Refused before the offset file is rewritten.
    if ((grid.rangeSamples > 1 && grid.rangeSpacing == 0) ||
        (grid.azimuthSamples > 1 && grid.azimuthSpacing == 0))
        return fail(reporter,
                    "Number of offset estimates in range or azimuth exceeds the image size !");

    Block1D<unsigned char> readBuffer(
        static_cast<std::size_t>(std::max(masterSize.width, slaveSize.width)) *
        bytes_per_sample(f.format));
    RowLines rowLines(masterSize.width, slaveSize.width, windowHeight);
    WindowWorkspace workspace(windowWidth, windowHeight);
    GridRow row(grid.rangeSamples);
    start_measurements(grid, masterSize, measurements);

    SlcLineReader masterLines(f.master.get(), masterSize.width, f.format, readBuffer.get(),
                              "WARNING: attempt to read beyond end of SLC-1 file\n\n");
    SlcLineReader slaveLines(f.slave.get(), slaveSize.width, f.format, readBuffer.get(),
                             "\nWARNING: attempt to read beyond end of SLC-2 file\n\n");

    // The clips are known once the averages are: the pool's workers build
    // their workspaces meanwhile, and measure nothing before the first row
    // is asked for.
    GridPlan plan{grid, par, masterSize, slaveSize, windowWidth / 2, windowHeight / 2, 0.0, 0.0};
    ThreadTeam team(request.threads); // one thread (the plug-in's runs) starts none
    const std::unique_ptr<RowPipeline> pipeline =
        start_pipeline(team, plan, masterLines, slaveLines, workspace);

    double masterAverage = 0.0;
    if (!average_intensity(masterLines, f.format, masterSize.width, masterSize.lines,
                           &masterAverage))
        return fail(reporter, "No points available for determining average intensity !");
    plan.masterClip = 5.0 * masterAverage;
    std::printf("average image 1 intensity: %10.3e  clip1: %10.3e\n", masterAverage,
                plan.masterClip);
    // The slave's case is reported like the master's instead of ending the
    // host's process.
    double slaveAverage = 0.0;
    if (!average_intensity(slaveLines, f.format, slaveSize.width, slaveSize.lines, &slaveAverage))
        return fail(reporter, "No points available for determining average intensity !");
    plan.slaveClip = 5.0 * slaveAverage;

    const int positions = grid.rangeSamples * grid.azimuthSamples;
    long long total = 0;

    for (int i = 0; i < grid.azimuthSamples; i++) {
        row.clear();
        const RowPlace rowPlace = plan.place_row(i);
        if (rowPlace.inside) {
            const std::vector<PositionOutcome>* measured = nullptr;
            if (pipeline)
                measured = &pipeline->next_row();
            else
                read_row(rowLines, masterLines, slaveLines, rowPlace, plan.halfHeight);

            for (int j = 0; j < grid.rangeSamples; j++) {
                const int k = i * grid.rangeSamples + j;
                reporter.progress((static_cast<double>(k) / positions + 0.001) * 100.0);
                if (reporter.cancelled())
                    return fail(reporter, "Run cancelled !");
                const PositionPlace place = plan.place_position(rowPlace, j);
                const PositionOutcome outcome =
                    measured ? (*measured)[j] : plan.measure(rowLines, place, workspace);
                if (outcome.failure)
                    pipeline->raise(outcome.failure);
                if (outcome.measured)
                    take_position(outcome.measurement, rowPlace, place, request.snrThreshold, j,
                                  row, f.listing.get());
            }
        }

        if (const char* problem = write_row(row, f))
            return fail(reporter, problem);
        keep_row(row, i, measurements);
        total += row.accepted;
    }

    if (total == 0)
        return fail(reporter, "No offsets found above SNR threshold !");

    // Buffered rows reach the disk only when flushed: a full disk must be
    // reported here, not found by stage 2 as missing rows.
    if (std::fflush(f.offsets.get()) != 0 || std::ferror(f.offsets.get()))
        return fail(reporter, "Failed to write to output offsets file !");
    if (std::fflush(f.snr.get()) != 0 || std::ferror(f.snr.get()))
        return fail(reporter, "Failed to write to output snr file !");
    std::fflush(f.listing.get());

    if (!write_offset_par_file(request.offsetParPath, par))
        return fail(reporter, "Cannot open output ISP offset parameter file !");
    return true;
}
