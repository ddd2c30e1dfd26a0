#pragma once

#include "estimation/measure_window.h"
#include "estimation/row_lines.h"
#include "estimation/slc_lines.h"
#include "numeric/parallel_loop.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// What measuring one grid position gave.
struct PositionOutcome {
    bool measured = false; // correlated: inside both images, with data enough
    WindowMeasurement measurement{};
    std::exception_ptr failure; // what measuring it threw, on a worker thread
};

// A grid row whose windows lie inside both images: where its lines start.
struct RowToMeasure {
    int row;
    std::int64_t firstMasterLine;
    std::int64_t firstSlaveLine;
};

// Stage 1's rows measured on a team of threads, the calling thread among
// them. The threads read the rows' lines ahead into a few row buffers
// whenever one is free (the reads handed out in row order and run side by
// side), and otherwise take the positions of the rows read, in grid order,
// each with a workspace of its own sharing the one oversampling filter; the
// calling thread takes the rows back one by one in the same order.
// Positions are measured exactly as on one thread, so what the caller
// writes from them is the same bytes.
class RowPipeline {
public:
    using Measure = std::function<PositionOutcome(const RowLines& lines, int row, int position,
                                                  WindowWorkspace& workspace)>;

    // The team's other members work for the pipeline until it is
    // destroyed (or raises); the calling thread measures with
    // callerWorkspace inside next_row (the workers share its filter). The
    // workers build their workspaces at once but read nothing before the
    // first next_row, so the caller may still read the files through the
    // readers' streams until then; the pool reads them by position. The
    // reads' warnings are held per row and printed when the row is taken
    // back.
    RowPipeline(ThreadTeam& team, std::vector<RowToMeasure> rows, int positionsPerRow,
                const SlcLineReader& masterLines, const SlcLineReader& slaveLines, int masterWidth,
                int slaveWidth, WindowWorkspace& callerWorkspace, Measure measure);
    // Stops handing out positions and waits for every worker.
    ~RowPipeline();
    RowPipeline(const RowPipeline&) = delete;
    RowPipeline& operator=(const RowPipeline&) = delete;

    // The outcomes of the next row (in the order of the rows given), once
    // every one of its positions is measured, or up to the first that failed;
    // the row's read warnings are printed first. Until then the calling
    // thread reads and measures like the workers. Valid until the next call.
    const std::vector<PositionOutcome>& next_row();

    // Waits for the workers, then raises the failure of a position on this
    // thread: a deferred fatal error as it would have ended a single-thread
    // run, anything else rethrown.
    [[noreturn]] void raise(const std::exception_ptr& failure);

private:
    struct Slot;
    // A row buffer's progress, kept under the lock.
    struct SlotState {
        bool read = false;              // its row's lines are in (or failed to come)
        std::exception_ptr readFailure; // what reading them threw
        int remaining = 0;              // positions not measured yet
    };
    void work(const std::shared_ptr<const OversamplingFilter>& filter);
    bool can_read() const;
    bool can_claim() const;
    bool work_available() const;
    // Reads the next row or measures the next position, the lock released
    // meanwhile.
    void do_work(std::unique_lock<std::mutex>& hold, WindowWorkspace& workspace);
    void read_next(std::unique_lock<std::mutex>& hold);
    void fail_pool(std::exception_ptr failure);
    void stop_workers();

    std::vector<RowToMeasure> rows_;
    int positionsPerRow_;
    const SlcLineReader& masterLines_;
    const SlcLineReader& slaveLines_;
    Measure measure_;
    WindowWorkspace& callerWorkspace_;
    std::vector<std::unique_ptr<Slot>> slots_;
    struct SlotShape {
        int masterWidth, slaveWidth, height;
    } slotShape_{};
    ThreadTeam& team_;
    bool working_ = false; // the team's other members run work()

    std::mutex lock_;
    std::condition_variable workReady_; // a row was read or taken back, or the pool stops
    std::condition_variable rowDone_;   // a row is complete, or one was read
    std::vector<SlotState> states_;     // one per row buffer
    std::size_t readNext_ = 0;          // rows whose reads were handed out
    bool readFailed_ = false;           // reading a row failed: read no more
    std::exception_ptr poolFailure_;    // a worker without a workspace: raised in row order
    std::size_t taken_ = 0;             // rows the caller is done with
    bool holding_ = false;              // the caller holds row taken_
    std::size_t claimRow_ = 0;          // the row whose positions are handed out
    int claimPosition_ = 0;             // its next position
    int inFlight_ = 0;                  // positions being measured
    bool failed_ = false;               // a position failed: hand out no more
    bool stopping_ = false;
    bool started_ = false; // the first row was asked for: the readers are the pool's
};
