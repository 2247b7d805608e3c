#include "tarvo_core/thread_pool.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <new>
#include <utility>

namespace tarvo_core {
namespace {

// The shared state of one parallel_for: the next index to claim, how many have finished,
// and the first exception.
struct Loop {
    Loop(std::size_t total, const std::function<void(std::size_t)>& each)
        : count(total), body(each) {}

    // Claims and runs indices until none is left.
    void drain() {
        for (std::size_t i = next.fetch_add(1); i < count; i = next.fetch_add(1)) {
            try {
                body(i);
            } catch (...) {
                const std::lock_guard lock(mutex);
                if (!error) {
                    error = std::current_exception();
                }
            }
            const std::lock_guard lock(mutex);
            if (++finished == count) {
                done.notify_all();
            }
        }
    }

    const std::size_t count;
    const std::function<void(std::size_t)>& body;
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable done;
    std::size_t finished = 0;
    std::exception_ptr error;
};

}  // namespace

ThreadPool::ThreadPool(std::size_t threads) {
    if (threads == 0) {
        threads = std::max<std::size_t>(std::thread::hardware_concurrency(), 1);
    }
    workers_.reserve(threads);
    try {
        for (std::size_t i = 0; i < threads; ++i) {
            workers_.emplace_back([this] { work(); });
        }
    } catch (...) {
        stop();  // the workers already started
        throw;
    }
}

ThreadPool::~ThreadPool() { stop(); }

void ThreadPool::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) {
        if (worker.joinable()) {
            worker.join();
        }
    }
}

void ThreadPool::work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) {
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop();
        }
        task();
    }
}

void ThreadPool::parallel_for(std::size_t count, const std::function<void(std::size_t)>& body) {
    if (count == 0) {
        return;
    }
    // The loop outlives this call if a helper task starts late, so it is shared.
    const auto loop = std::make_shared<Loop>(count, body);
    const std::size_t helpers = std::min(count - 1, workers_.size());
    {
        const std::lock_guard lock(mutex_);
        try {
            for (std::size_t i = 0; i < helpers; ++i) {
                tasks_.push([loop] { loop->drain(); });
            }
        } catch (const std::bad_alloc&) {
            // Run with the helpers queued so far. Leaving now would let a queued helper
            // call `body` after it is gone.
        }
    }
    wake_.notify_all();
    loop->drain();  // the caller works too, so nested loops cannot starve
    std::unique_lock lock(loop->mutex);
    loop->done.wait(lock, [&] { return loop->finished == count; });
    if (loop->error) {
        std::rethrow_exception(loop->error);
    }
}

}  // namespace tarvo_core
