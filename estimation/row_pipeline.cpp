#include "estimation/row_pipeline.h"

#include "numeric/fatal.h"

#include <algorithm>
#include <cstdio>
#include <utility>

struct RowPipeline::Slot {
    Slot(int masterWidth, int slaveWidth, int height, int positions)
        : lines(masterWidth, slaveWidth, height), outcomes(static_cast<std::size_t>(positions)) {}
    RowLines lines;
    std::vector<PositionOutcome> outcomes;
    std::string warnings; // the reads' end-of-file warnings, held until the row is taken
    int remaining = 0;    // positions not measured yet
};

RowPipeline::RowPipeline(int threads, std::vector<RowToMeasure> rows, int positionsPerRow,
                         SlcLineReader& masterLines, SlcLineReader& slaveLines, int masterWidth,
                         int slaveWidth, WindowWorkspace& callerWorkspace, Measure measure)
    : rows_(std::move(rows)), positionsPerRow_(positionsPerRow), masterLines_(masterLines),
      slaveLines_(slaveLines), measure_(std::move(measure)), callerWorkspace_(callerWorkspace) {
    // The row being finished, the next one ready, one being read, and as
    // many more as it takes to give every thread a position: memory grows
    // with the threads, never with the image's length.
    const std::size_t wanted = 3 + static_cast<std::size_t>((threads - 1) / positionsPerRow);
    slots_.resize(std::max<std::size_t>(1, std::min(rows_.size(), wanted)));
    slotShape_ = {masterWidth, slaveWidth, callerWorkspace.height()};
    // The calling thread is one of the threads: it measures while it waits
    // for its next row, so N threads keep N cores busy without a further
    // thread waking between them for every row. Each worker builds its own
    // workspace, and the reader each row buffer as it first fills it: the
    // allocations happen on the cores, alongside the measuring.
    try {
        for (int t = 1; t < threads; t++)
            workers_.emplace_back([this, filter = callerWorkspace.filter()] { work(filter); });
    } catch (...) {
        stop_workers();
        throw;
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
    for (std::thread& t : workers_)
        if (t.joinable())
            t.join();
}

bool RowPipeline::can_read() const {
    return !reading_ && !readFailed_ && read_ < rows_.size() && read_ - taken_ < slots_.size();
}

bool RowPipeline::work_available() const {
    return started_ && !stopping_ && !failed_ &&
           (can_read() || (claimRow_ < rows_.size() && claimRow_ < read_));
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
    // waits for lines; the reads stay in row order, one at a time, as the
    // files are shared.
    if (can_read()) {
        read_next(hold);
        return;
    }
    const std::size_t row = claimRow_;
    Slot& slot = *slots_[row % slots_.size()];
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
    slot.remaining--;
    // Every position handed out so far lies before this one in grid
    // order: they are still measured, none after it is.
    failed_ = failed_ || failure;
    if (slot.remaining == 0 || (failed_ && inFlight_ == 0))
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
    reading_ = true;
    std::unique_ptr<Slot>& slot = slots_[read_ % slots_.size()];
    const RowToMeasure& r = rows_[read_];
    hold.unlock();

    std::exception_ptr failure;
    try {
        if (!slot)
            slot = std::make_unique<Slot>(slotShape_.masterWidth, slotShape_.slaveWidth,
                                          slotShape_.height, positionsPerRow_);
        std::fill(slot->outcomes.begin(), slot->outcomes.end(), PositionOutcome{});
        slot->warnings.clear();
        masterLines_.hold_warnings_in(&slot->warnings);
        slaveLines_.hold_warnings_in(&slot->warnings);
        slot->lines.read(masterLines_, r.firstMasterLine, slaveLines_, r.firstSlaveLine);
    } catch (...) {
        failure = std::current_exception();
    }
    masterLines_.hold_warnings_in(nullptr);
    slaveLines_.hold_warnings_in(nullptr);

    hold.lock();
    reading_ = false;
    if (failure) { // the rows before it are still measured; no row after it is read
        readFailed_ = true;
        fail_pool(failure);
        return;
    }
    slot->remaining = positionsPerRow_;
    read_++;
    workReady_.notify_all();
    rowDone_.notify_one(); // the calling thread may be waiting for work
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
    const auto complete = [this] {
        return taken_ < read_ && slots_[taken_ % slots_.size()]->remaining == 0;
    };
    const auto finished = [&] {
        return complete() || (failed_ && inFlight_ == 0) || (poolFailure_ && taken_ >= read_);
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
    // A failure outside the positions (a buffer not built, a row not read)
    // comes after every row that is complete.
    if (poolFailure_ && !complete()) {
        const std::exception_ptr failure = poolFailure_;
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
