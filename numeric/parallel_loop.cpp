#include "numeric/parallel_loop.h"

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <string>

const char* thread_count_range() {
    static_assert(kMaxThreads == 1024, "the words name the limit");
    return "from 1 to 1024";
}

const char* thread_count_problem(long long threads) {
    return threads < 1 || threads > kMaxThreads ? thread_count_range() : nullptr;
}

ThreadTeam::ThreadTeam(int threads) {
    if (const char* problem = thread_count_problem(threads))
        throw std::invalid_argument(std::string("the number of threads must be ") + problem);
    members_.reserve(static_cast<std::size_t>(threads - 1));
    try {
        for (int t = 1; t < threads; t++)
            members_.emplace_back([this, t] { member(t); });
    } catch (...) { // fewer threads than asked for: the ones started do the work
    }
}

ThreadTeam::~ThreadTeam() {
    {
        std::unique_lock<std::mutex> hold(lock_);
        done_.wait(hold, [this] { return running_ == 0; });
        ending_ = true;
    }
    begin_.notify_all();
    for (std::thread& t : members_)
        t.join();
}

void ThreadTeam::member(int thread) {
    std::uint64_t seen = 0;
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        begin_.wait(hold, [&] { return ending_ || region_ != seen; });
        if (ending_)
            return;
        seen = region_;
        hold.unlock();
        // task_ changes only once every member is done with it.
        std::exception_ptr failure;
        try {
            task_(thread);
        } catch (...) {
            failure = std::current_exception();
        }
        hold.lock();
        if (failure && !failure_)
            failure_ = std::move(failure);
        if (--running_ == 0)
            done_.notify_all();
    }
}

void ThreadTeam::record(std::exception_ptr failure) {
    std::lock_guard<std::mutex> hold(lock_);
    if (!failure_)
        failure_ = std::move(failure);
}

void ThreadTeam::start_others(std::function<void(int)> task) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (open_)
            throw std::logic_error("a thread team runs one region at a time");
        open_ = true;
        failure_ = nullptr;
        task_ = std::move(task);
        running_ = static_cast<int>(members_.size());
        region_++;
    }
    begin_.notify_all();
}

void ThreadTeam::finish_others() {
    std::exception_ptr failure;
    {
        std::unique_lock<std::mutex> hold(lock_);
        done_.wait(hold, [this] { return running_ == 0; });
        open_ = false;
        task_ = nullptr;
        failure = std::move(failure_);
        failure_ = nullptr;
    }
    if (failure)
        std::rethrow_exception(failure);
}

void ThreadTeam::run_on_all(const std::function<void(int)>& task) {
    start_others(task);
    try {
        task(0);
    } catch (...) {
        record(std::current_exception());
    }
    finish_others();
}

void ThreadTeam::for_each(int count, const std::function<void(int, int)>& f, int chunk) {
    if (count <= 0)
        return;
    chunk = std::max(1, chunk);
    if (members_.empty() || count <= chunk) {
        for (int k = 0; k < count; k++)
            f(0, k);
        return;
    }
    // 64 bits: handing out past the end never wraps around.
    std::atomic<std::int64_t> next{0};
    run_on_all([&](int thread) {
        for (;;) {
            const std::int64_t first = next.fetch_add(chunk, std::memory_order_relaxed);
            if (first >= count)
                return;
            const int end = static_cast<int>(std::min<std::int64_t>(count, first + chunk));
            try {
                for (int k = static_cast<int>(first); k < end; k++)
                    f(thread, k);
            } catch (...) {
                next.store(count, std::memory_order_relaxed); // the others stop at their next chunk
                throw;
            }
        }
    });
}
