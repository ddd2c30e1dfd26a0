#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Most threads a team may be asked for.
constexpr int kMaxThreads = 1024;

// The counts a team may be asked for, in words: "from 1 to 1024".
const char* thread_count_range();
// nullptr when a team may be asked for this many threads; otherwise
// thread_count_range(), for the caller's own message.
const char* thread_count_problem(long long threads);

// A team of threads started once and reused for every loop of a run, the
// calling thread being member 0: the others wait between loops instead of
// being started for each. Results are placed by index by the caller, so
// they do not depend on which member did what, nor on how many there are.
// One caller at a time: a team runs one loop or region at once.
class ThreadTeam {
public:
    // threads counts the calling thread: threads - 1 more are started now.
    // If the system starts fewer, the team is smaller (size()) and the work
    // still gets done. std::invalid_argument for a count
    // thread_count_problem refuses. A team of 1 starts no thread.
    explicit ThreadTeam(int threads);
    // Waits for a region still running, then ends the members.
    ~ThreadTeam();
    ThreadTeam(const ThreadTeam&) = delete;
    ThreadTeam& operator=(const ThreadTeam&) = delete;

    // Members, the calling thread included: at least 1.
    int size() const { return static_cast<int>(members_.size()) + 1; }

    // A parallel region: task(t) once on every member t in [0, size()), the
    // calling thread running task(0). Returns once every member has; the
    // first exception of any then comes out here.
    void run_on_all(const std::function<void(int thread)>& task);

    // f(thread, k) for every k in [0, count): chunks of chunk consecutive
    // indices handed out in order to whichever member is free. Once f
    // throws, no further chunk is started and the first exception comes out
    // here after the others stopped.
    void for_each(int count, const std::function<void(int thread, int k)>& f, int chunk = 1);

    // The region split in two for a caller that works alongside the others
    // in its own way: task(t) starts on members 1 to size() - 1 and this
    // returns at once; finish_others waits for them and rethrows the first
    // exception of any. A task must return by itself: the caller tells it to.
    void start_others(std::function<void(int thread)> task);
    void finish_others();

private:
    void member(int thread);
    void record(std::exception_ptr failure);

    std::vector<std::thread> members_;
    std::mutex lock_;
    std::condition_variable begin_; // a region starts, or the team ends
    std::condition_variable done_;  // the last member finished its task
    std::function<void(int)> task_; // the region's task, set while none runs
    std::uint64_t region_ = 0;      // regions started
    int running_ = 0;               // members still in the region
    bool open_ = false;             // a region started and not yet finished
    bool ending_ = false;
    std::exception_ptr failure_; // the region's first exception
};
