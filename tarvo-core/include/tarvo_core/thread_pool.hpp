// A fixed set of worker threads for running independent solves at once: the trials of one
// search, or the landings of a batch.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

namespace tarvo_core {

class ThreadPool {
public:
    // `threads` workers; 0 means one per hardware thread (at least one).
    explicit ThreadPool(std::size_t threads = 0);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    std::size_t size() const { return workers_.size(); }

    // Runs body(0) ... body(count - 1) on the workers and the calling thread, and returns
    // when all have run. The first exception a body throws is rethrown here, after the
    // others have finished; bodies not yet started when it is thrown still run.
    void parallel_for(std::size_t count, const std::function<void(std::size_t)>& body);

private:
    void work();
    void stop();

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::queue<std::function<void()>> tasks_;
    bool stopping_ = false;
};

}  // namespace tarvo_core
