#include "estimation/row_pipeline.h"

#include "numeric/fatal.h"

#include <algorithm>
#include <cstdio>
#include <utility>

// A row buffer and what was measured in it. Outside the lock it is touched
// by the one thread reading it, then, once it is marked read, by the
// threads measuring it and the caller taking it back.
struct RowPipeline::Slot {
    Slot(int masterWidth, int slaveWidth, int height, int positions)
        : lines(masterWidth, slaveWidth, height), outcomes(static_cast<std::size_t>(positions)),
          raw(static_cast<std::size_t>(std::max(masterWidth, slaveWidth)) * 8) {}
    RowLines lines;
    std::vector<PositionOutcome> outcomes;
    std::string warnings;       // the reads' end-of-file warnings, held until the row is taken
    Block1D<unsigned char> raw; // one raw line of either image
};

RowPipeline::RowPipeline(ThreadTeam& team, std::vector<RowToMeasure> rows, int positionsPerRow,
                         const SlcLineReader& masterLines, const SlcLineReader& slaveLines,
                         int masterWidth, int slaveWidth, WindowWorkspace& callerWorkspace,
                         Measure measure)
    : rows_(std::move(rows)), positionsPerRow_(positionsPerRow), masterLines_(masterLines),
      slaveLines_(slaveLines), measure_(std::move(measure)), callerWorkspace_(callerWorkspace),
      team_(team) {
    const int threads = team.size();
    // The row being finished, the next one ready, one being read, and as
    // many more as it takes to give every thread a position: memory grows
    // with the threads, never with the image's length.
    const std::size_t wanted = 3 + static_cast<std::size_t>((threads - 1) / positionsPerRow);
    const std::size_t slots = std::max<std::size_t>(1, std::min(rows_.size(), wanted));
    slots_.resize(slots);
    states_.resize(slots);
    slotShape_ = {masterWidth, slaveWidth, callerWorkspace.height()};
    // The calling thread is one of the threads: it measures while it waits
    // for its next row, so N threads keep N cores busy without a further
    // thread waking between them for every row. Each worker builds its own
    // workspace, and the reader each row buffer as it first fills it: the
    // allocations happen on the cores, alongside the measuring.
    if (threads > 1) {
        team_.start_others([this, filter = callerWorkspace.filter()](int) { work(filter); });
        working_ = true;
    }
}

RowPipeline::~RowPipeline() {
    stop_workers();
}

void RowPipeline::stop_workers() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    workReady_.notify_all();
    if (working_) {
        working_ = false;
        team_.finish_others(); // work() lets no exception out
    }
}

bool RowPipeline::can_read() const {
    return !readFailed_ && readNext_ < rows_.size() && readNext_ - taken_ < slots_.size();
}

bool RowPipeline::can_claim() const {
    if (claimRow_ >= readNext_)
        return false;
    const SlotState& state = states_[claimRow_ % states_.size()];
    return state.read && !state.readFailure;
}

bool RowPipeline::work_available() const {
    return started_ && !stopping_ && !failed_ && (can_read() || can_claim());
}

void RowPipeline::work(const std::shared_ptr<const OversamplingFilter>& filter) {
    // A fatal error here must reach the calling thread, which replays it in
    // its place in the output.
    FatalDeferral deferral;
    std::unique_ptr<WindowWorkspace> own;
    try {
        own = std::make_unique<WindowWorkspace>(filter);
    } catch (...) {
        std::lock_guard<std::mutex> hold(lock_);
        fail_pool(std::current_exception());
        failed_ = true; // no worker may be left to finish a row
        return;
    }
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        workReady_.wait(hold, [this] {
            return stopping_ || failed_ || claimRow_ >= rows_.size() || work_available();
        });
        if (stopping_ || failed_ || claimRow_ >= rows_.size())
            return;
        do_work(hold, *own);
    }
}

void RowPipeline::do_work(std::unique_lock<std::mutex>& hold, WindowWorkspace& workspace) {
    // Reading comes first while a row buffer is free, so that no thread
    // waits for lines; the reads are handed out in row order and run side
    // by side, each by position in the files.
    if (can_read()) {
        read_next(hold);
        return;
    }
    const std::size_t row = claimRow_;
    Slot& slot = *slots_[row % slots_.size()];
    SlotState& state = states_[row % states_.size()];
    const int position = claimPosition_++;
    if (claimPosition_ == positionsPerRow_) {
        claimRow_++;
        claimPosition_ = 0;
    }
    inFlight_++;
    hold.unlock();

    PositionOutcome outcome;
    try {
        outcome = measure_(slot.lines, rows_[row].row, position, workspace);
    } catch (...) {
        outcome.failure = std::current_exception();
    }
    const bool failure = static_cast<bool>(outcome.failure);
    slot.outcomes[position] = std::move(outcome);

    hold.lock();
    inFlight_--;
    state.remaining--;
    // Every position handed out so far lies before this one in grid
    // order: they are still measured, none after it is.
    failed_ = failed_ || failure;
    if (state.remaining == 0 || (failed_ && inFlight_ == 0))
        rowDone_.notify_one();
    if (failure)
        workReady_.notify_all();
}

void RowPipeline::fail_pool(std::exception_ptr failure) {
    if (!poolFailure_)
        poolFailure_ = std::move(failure);
    rowDone_.notify_one();
    workReady_.notify_all();
}

void RowPipeline::read_next(std::unique_lock<std::mutex>& hold) {
    const std::size_t index = readNext_++;
    // The buffer's row before was taken back: it is this read's alone.
    std::unique_ptr<Slot>& slot = slots_[index % slots_.size()];
    SlotState& state = states_[index % states_.size()];
    state = SlotState{};
    const RowToMeasure& r = rows_[index];
    hold.unlock();

    std::exception_ptr failure;
    try {
        if (!slot)
            slot = std::make_unique<Slot>(slotShape_.masterWidth, slotShape_.slaveWidth,
                                          slotShape_.height, positionsPerRow_);
        std::fill(slot->outcomes.begin(), slot->outcomes.end(), PositionOutcome{});
        slot->warnings.clear();
        slot->lines.read(masterLines_, r.firstMasterLine, slaveLines_, r.firstSlaveLine,
                         slot->warnings, slot->raw.get());
    } catch (...) {
        failure = std::current_exception();
    }

    hold.lock();
    // The rows before it are still measured; no row after it is read.
    readFailed_ = readFailed_ || failure;
    state.readFailure = failure;
    state.remaining = positionsPerRow_;
    state.read = true;
    workReady_.notify_all();
    rowDone_.notify_one(); // the calling thread may wait for work, or for this row
}

const std::vector<PositionOutcome>& RowPipeline::next_row() {
    std::unique_lock<std::mutex> hold(lock_);
    if (!started_) {
        started_ = true;
        workReady_.notify_all();
    }
    if (holding_) { // the caller is done with the row before: its buffer is free
        taken_++;
        holding_ = false;
        workReady_.notify_all();
    }
    const SlotState& state = states_[taken_ % states_.size()];
    const auto read = [&] { return taken_ < readNext_ && state.read; };
    const auto complete = [&] { return read() && !state.readFailure && state.remaining == 0; };
    const auto finished = [&] {
        return complete() || (read() && state.readFailure) || (failed_ && inFlight_ == 0);
    };
    {
        // Measured here or on a worker, a position's fatal error is replayed
        // in its place.
        FatalDeferral deferral;
        while (!finished())
            if (work_available())
                do_work(hold, callerWorkspace_);
            else
                rowDone_.wait(hold, [&] { return finished() || work_available(); });
    }
    // A failure outside the positions (a row not read, a buffer not built)
    // comes after every row before it.
    const std::exception_ptr failure = read() && state.readFailure ? state.readFailure
                                       : !complete()               ? poolFailure_
                                                                   : nullptr;
    if (failure) {
        hold.unlock();
        raise(failure);
    }
    holding_ = true;
    Slot& slot = *slots_[taken_ % slots_.size()];
    hold.unlock();
    std::fputs(slot.warnings.c_str(), stdout);
    return slot.outcomes;
}

void RowPipeline::raise(const std::exception_ptr& failure) {
    stop_workers();
    try {
        std::rethrow_exception(failure);
    } catch (const DeferredFatal& fatal) {
        replay_fatal(fatal);
    }
}
