// Stage 1's pool on a team of threads: it hands each row's outcomes back in grid order
// and carries a failure of a worker to the calling thread, in its place. (The
// same bytes on any number of threads: the golden tests; the same progress
// and diagnostics: the Python package's tests.)
#include "estimation/row_pipeline.h"
#include "numeric/fatal.h"
#include "params/file_handle.h"
#include "tests/support/scratch.h"

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace {

using namespace scratch;

// Line L of each test image holds L in every real part, the sample index in
// every imaginary part; the slave's lines are those of the master plus 1000.
class Pool : public ::testing::Test {
protected:
    static constexpr int kWidth = 16, kLines = 64, kHeight = 4, kPositions = 5;

    void SetUp() override {
        const std::string dir = fresh_test_dir();
        for (const auto& [path, base] : {std::pair{dir + "/m.slc", 0}, {dir + "/s.slc", 1000}}) {
            std::vector<fcomplex> image;
            for (int line = 0; line < kLines; line++)
                for (int x = 0; x < kWidth; x++)
                    image.push_back({static_cast<float>(base + line), static_cast<float>(x)});
            write_values(path, image);
        }
        master_ = open_file(dir + "/m.slc", "rb");
        slave_ = open_file(dir + "/s.slc", "rb");
        for (int i = 0; i < 9; i++)
            rows_.push_back({i, 3 + 5 * i, 7 + 6 * i});
        ::testing::internal::CaptureStdout(); // the filter's design lines
        first_ = std::make_unique<WindowWorkspace>(kHeight, kHeight);
        ::testing::internal::GetCapturedStdout();
    }

    // Runs the rows through the pool; what position j of row i measures is
    // the first line of its windows in both images and its own place.
    std::vector<std::vector<PositionOutcome>> run(int threads, RowPipeline::Measure measure = {}) {
        if (!measure)
            measure = [](const RowLines& lines, int, int j, WindowWorkspace& ws) {
                lines.cut_windows(2 + j, 2 + j, ws);
                PositionOutcome o;
                o.measured = true;
                o.measurement = {ws.master_patch()[0][0].im, ws.master_patch()[0][0].re,
                                 ws.slave_patch()[0][0].re};
                return o;
            };
        Block1D<unsigned char> buffer(kWidth * 8);
        SlcLineReader m(master_.get(), kWidth, SampleFormat::fcomplex, buffer.get(), "");
        SlcLineReader s(slave_.get(), kWidth, SampleFormat::fcomplex, buffer.get(), "");
        ThreadTeam team(threads);
        RowPipeline pool(team, rows_, kPositions, m, s, kWidth, kWidth, *first_, measure);
        std::vector<std::vector<PositionOutcome>> taken;
        for (std::size_t r = 0; r < rows_.size(); r++) {
            taken.push_back(pool.next_row());
            for (const PositionOutcome& o : taken.back())
                if (o.failure)
                    pool.raise(o.failure);
            std::fprintf(stderr, "taken %zu\n", r);
        }
        return taken;
    }

    FileHandle master_, slave_;
    std::vector<RowToMeasure> rows_;
    std::unique_ptr<WindowWorkspace> first_;
};

TEST_F(Pool, HandsBackEveryPositionOfEveryRowInOrder) {
    for (int threads : {1, 2, 7}) {
        const auto taken = run(threads);
        ASSERT_EQ(taken.size(), rows_.size());
        for (std::size_t r = 0; r < rows_.size(); r++)
            for (int j = 0; j < kPositions; j++) {
                const WindowMeasurement& m = taken[r][j].measurement;
                ASSERT_TRUE(taken[r][j].measured) << r << " " << j;
                // Cut at sample 2 + j, centred: the window starts at j.
                EXPECT_EQ(m.snr, j);
                EXPECT_EQ(m.rangeShift, rows_[r].firstMasterLine);
                EXPECT_EQ(m.azimuthShift, 1000 + rows_[r].firstSlaveLine);
            }
    }
}

// A fatal error at row 2, position 3, and a later one at row 4: the first in
// grid order is replayed on the calling thread after every position before it.
RowPipeline::Measure failing_at(int* measuredBeforeFailure) {
    return [measuredBeforeFailure](const RowLines&, int i, int j, WindowWorkspace&) {
        if (i == 2 && j == 3)
            fatal_error("\nERROR: planted at row %d position %d\n", i, j);
        if (i == 4)
            run_time_error("ERROR: a later one");
        if (i < 2 || (i == 2 && j < 3))
            __atomic_add_fetch(measuredBeforeFailure, 1, __ATOMIC_RELAXED);
        return PositionOutcome{};
    };
}

TEST_F(Pool, ReplaysAWorkersFatalErrorOnTheCallingThreadInItsPlace) {
    int before = 0;
    EXPECT_EXIT(
        {
            run(3, failing_at(&before));
            std::exit(0);
        },
        ::testing::ExitedWithCode(255), "taken 1\n\nERROR: planted at row 2 position 3");
}

// The calling thread measures too: while a slow worker holds a position of
// an early row, it runs ahead into the failing one, whose error must still
// wait for the rows before it.
TEST_F(Pool, ReplaysTheCallingThreadsOwnFatalErrorInItsPlace) {
    const std::thread::id caller = std::this_thread::get_id();
    int before = 0;
    const RowPipeline::Measure fail = failing_at(&before);
    EXPECT_EXIT(
        {
            run(2, [&](const RowLines& lines, int i, int j, WindowWorkspace& ws) {
                const bool onCaller = std::this_thread::get_id() == caller;
                std::this_thread::sleep_for(std::chrono::milliseconds(onCaller ? 1 : 60));
                return fail(lines, i, j, ws);
            });
            std::exit(0);
        },
        ::testing::ExitedWithCode(255), "taken 0\ntaken 1\n\nERROR: planted at row 2 position 3");
}

[[noreturn]] void throw_message(const char* message) {
    throw std::runtime_error(message);
}

TEST_F(Pool, ThrowsAWorkersFatalErrorFromTheHandlerAfterTheFormerPositions) {
    set_fatal_handler(throw_message);
    int before = 0;
    try {
        run(3, failing_at(&before));
        ADD_FAILURE() << "no failure raised";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "\nERROR: planted at row 2 position 3\n");
    }
    set_fatal_handler(nullptr);
    EXPECT_EQ(before, 2 * kPositions + 3);
}

TEST_F(Pool, RethrowsAnyOtherExceptionOfAWorker) {
    EXPECT_THROW(run(2,
                     [](const RowLines&, int i, int, WindowWorkspace&) -> PositionOutcome {
                         if (i == 5)
                             throw std::bad_alloc();
                         return {};
                     }),
                 std::bad_alloc);
}

} // namespace
