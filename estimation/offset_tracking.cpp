#include "estimation/offset_tracking.h"

#include "params/file_error.h"

#include <algorithm>
#include <string>

namespace {

constexpr double kCoarseShare = 20.0; // percent of the progress the coarse pass takes

// A stretch [from, from + span] of the caller's progress.
class PartProgress : public Progress {
public:
    PartProgress(Progress* whole, double from, double span)
        : whole_(whole), from_(from), span_(span) {}
    void progress(double percent) override {
        if (whole_ != nullptr)
            whole_->progress(from_ + span_ * percent / 100.0);
    }
    bool cancelled() override { return whole_ != nullptr && whole_->cancelled(); }

private:
    Progress* whole_;
    double from_, span_;
};

bool any_good(const DenseOffsets& f) {
    return std::any_of(f.mask.begin(), f.mask.end(), [](unsigned char m) {
        return m == static_cast<unsigned char>(WindowState::good);
    });
}

OffsetField grid_for(const TrackerWindows& w, const SlcImageFile& master) {
    const OffsetField grid = lay_out_tracking_grid(w, master.width, master.lines);
    if (grid.columns < 1 || grid.rows < 1)
        throw FileError(master.path, "a window of " + std::to_string(w.width) + " x " +
                                         std::to_string(w.height) + " with a margin of " +
                                         std::to_string(w.margin) + " does not fit in the " +
                                         std::to_string(master.width) + " x " +
                                         std::to_string(master.lines) + " image");
    return grid;
}

// The coarse pass's windows: twice the fine ones (as far as the master
// holds them), four times the step.
TrackerWindows coarse_windows(const TrackerWindows& fine, const SlcImageFile& master) {
    TrackerWindows w = fine;
    w.width = std::min(2 * fine.width, 4096);
    w.height = std::min(2 * fine.height, 4096);
    while (w.width > fine.width && w.width + 2 * w.margin > master.width)
        w.width /= 2;
    while (w.height > fine.height && w.height + 2 * w.margin > master.lines)
        w.height /= 2;
    w.stepRange = 4 * fine.stepRange;
    w.stepAzimuth = 4 * fine.stepAzimuth;
    return w;
}

GrossOffset coarse_gross(const SlcImageFile& master, const SlcImageFile& slave,
                         const TrackingRequest& request, ThreadTeam& team, Progress* progress) {
    const TrackerWindows w = coarse_windows(request.windows, master);
    PartProgress part(progress, 0.0, kCoarseShare);
    DenseOffsets coarse =
        track_windows(master, slave, request.gross, w, grid_for(w, master), team, &part);
    cull_windows(coarse, request.cull);
    if (!fill_rejected(coarse, true))
        throw FileError(master.path, "the coarse pass measured no offset in any window");
    return GrossOffset::field(std::move(coarse.offsets));
}

} // namespace

DenseOffsets track_offsets(const SlcImageFile& master, const SlcImageFile& slave,
                           const TrackingRequest& request, Progress* progress) {
    check_tracker_windows(request.windows);
    const OffsetField grid = grid_for(request.windows, master);
    ThreadTeam team(request.threads);
    const GrossOffset gross =
        request.coarsePass ? coarse_gross(master, slave, request, team, progress) : request.gross;
    const double from = request.coarsePass ? kCoarseShare : 0.0;
    PartProgress part(progress, from, 100.0 - from);
    DenseOffsets field = track_windows(master, slave, gross, request.windows, grid, team, &part);
    cull_windows(field, request.cull);
    if (!any_good(field))
        throw FileError(master.path, "no window gave an offset (none measured, or all rejected)");
    if (request.fill)
        fill_rejected(field, false);
    return field;
}

TrackingSummary summarise(const DenseOffsets& field) {
    TrackingSummary s;
    for (const unsigned char m : field.mask)
        s.windows[std::min<std::size_t>(m, s.windows.size() - 1)]++;
    const auto [range, azimuth] = median_good_sigma(field);
    s.medianRangeSigma = range;
    s.medianAzimuthSigma = azimuth;
    return s;
}
