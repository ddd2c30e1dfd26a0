// The one parallel loop: every index once, results placed by index, the
// team's threads reused, and the first failure brought to the caller.
#include "numeric/parallel_loop.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

TEST(ThreadCount, AcceptsOneToTheLimitOnly) {
    EXPECT_EQ(thread_count_problem(1), nullptr);
    EXPECT_EQ(thread_count_problem(kMaxThreads), nullptr);
    EXPECT_STREQ(thread_count_problem(0), "from 1 to 1024");
    EXPECT_STREQ(thread_count_problem(kMaxThreads + 1LL), "from 1 to 1024");
    EXPECT_THROW(ThreadTeam(0), std::invalid_argument);
}

TEST(ThreadTeam, ForEachRunsEveryIndexOnceInAnyChunking) {
    ThreadTeam team(3);
    for (int chunk : {1, 4, 1000}) {
        std::vector<int> runs(257, 0);
        team.for_each(
            257, [&](int, int k) { runs[k]++; }, chunk);
        EXPECT_EQ(runs, std::vector<int>(257, 1)) << chunk;
    }
}

TEST(ThreadTeam, RegionsRunOnTheCallerAndTheSameThreadsEachTime) {
    ThreadTeam team(4);
    ASSERT_EQ(team.size(), 4);
    const auto ids = [&] {
        std::vector<std::thread::id> seen(4);
        team.run_on_all([&](int t) { seen[t] = std::this_thread::get_id(); });
        return seen;
    };
    const std::vector<std::thread::id> first = ids();
    EXPECT_EQ(first[0], std::this_thread::get_id());
    EXPECT_EQ(std::set<std::thread::id>(first.begin(), first.end()).size(), 4u);
    EXPECT_EQ(ids(), first);
}

TEST(ThreadTeam, FirstFailureReachesTheCallerAndStopsTheLoop) {
    ThreadTeam team(3);
    std::atomic<int> after{0};
    std::atomic<bool> thrown{false};
    EXPECT_THROW(team.for_each(100000,
                               [&](int, int k) {
                                   if (thrown) { // slow from now on: 1000 would take 2 s
                                       after++;
                                       std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                   }
                                   if (k == 10) {
                                       thrown = true;
                                       throw std::runtime_error("planted");
                                   }
                               }),
                 std::runtime_error);
    EXPECT_LT(after.load(), 1000); // at most a chunk or so per member after the throw
    // The team is still whole afterwards.
    std::atomic<int> done{0};
    team.for_each(50, [&](int, int) { done++; });
    EXPECT_EQ(done.load(), 50);
}

TEST(ThreadTeam, OthersWorkWhileTheCallerGoesOn) {
    ThreadTeam team(3);
    std::atomic<int> started{0};
    std::atomic<bool> stop{false};
    team.start_others([&](int) {
        started++;
        while (!stop)
            std::this_thread::yield();
    });
    while (started < 2)
        std::this_thread::yield(); // the caller is free: start_others returned
    stop = true;
    team.finish_others();
    EXPECT_EQ(started.load(), 2);
    team.start_others([](int t) {
        if (t == 2)
            throw std::logic_error("member 2");
    });
    EXPECT_THROW(team.finish_others(), std::logic_error);
}

} // namespace
