#include "background_work.hpp"

namespace tarvo_py {

WorkThread::WorkThread(std::atomic<bool>& cancel, std::function<void()> work,
                       std::function<void()> on_end)
    : cancel_(cancel)
{
    thread_ = std::thread([this, work = std::move(work), on_end = std::move(on_end)] {
        try {
            work();
        } catch (...) {
            error_ = std::current_exception();
        }
        on_end();
    });
}

WorkThread::~WorkThread()
{
    if (thread_.joinable()) {
        cancel_and_join();
    }
}

void WorkThread::join()
{
    if (thread_.joinable()) {
        const LockReleased released;
        thread_.join();
    }
    if (error_) {
        std::rethrow_exception(std::exchange(error_, nullptr));
    }
}

void WorkThread::cancel_and_join() noexcept
{
    cancel_.store(true, std::memory_order_relaxed);
    if (thread_.joinable()) {
        const LockReleased released;
        try {
            thread_.join();
        } catch (...) {
            // join throws only for a thread that is not joinable, ruled out above.
        }
    }
    error_ = nullptr;
}

}  // namespace tarvo_py
