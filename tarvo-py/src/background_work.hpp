// Numeric work on threads of its own while the calling Python thread waits for it with the
// interpreter lock released: in short slices, between which it takes the lock back to hand
// on what the work has reported (in order), and to let signal handlers run, so that Ctrl-C
// or a failing callback stops the work within a slice and a solver iteration.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "support.hpp"

namespace tarvo_py {

// How long the calling thread waits with the lock released before it checks for signals.
inline constexpr std::chrono::milliseconds wait_slice{20};

// Events posted by the work, collected by the waiting thread in the order they were posted.
template <class Event>
class Mailbox {
public:
    void post(Event event)
    {
        {
            const std::lock_guard lock(mutex_);
            events_.push_back(std::move(event));
        }
        wake_.notify_one();
    }

    // The work has ended: nothing more is posted.
    void close()
    {
        {
            const std::lock_guard lock(mutex_);
            closed_ = true;
        }
        wake_.notify_one();
    }

    // Waits at most `slice` for an event or the end, then moves every posted event to the
    // back of `out`. True once the work has ended, when `out` then holds the last events.
    bool collect(std::chrono::milliseconds slice, std::deque<Event>& out)
    {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, slice, [this] { return closed_ || !events_.empty(); });
        for (Event& event : events_) {
            out.push_back(std::move(event));
        }
        events_.clear();
        return closed_;
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    bool closed_ = false;
};

// Releases the interpreter lock for one scope; the calling thread must hold it.
class LockReleased {
public:
    LockReleased() noexcept : state_(PyEval_SaveThread()) {}
    ~LockReleased() { PyEval_RestoreThread(state_); }
    LockReleased(const LockReleased&) = delete;
    LockReleased& operator=(const LockReleased&) = delete;

private:
    PyThreadState* state_;
};

// One thread running the work; `on_end` runs after it, also when it throws. The work's
// exception is kept and rethrown by join(). Destroying a running WorkThread sets the cancel
// flag and waits for the thread (with the lock released), so no thread outlives the call.
class WorkThread {
public:
    WorkThread(std::atomic<bool>& cancel, std::function<void()> work,
               std::function<void()> on_end);
    ~WorkThread();
    WorkThread(const WorkThread&) = delete;
    WorkThread& operator=(const WorkThread&) = delete;

    // Waits for the end with the lock released; rethrows the work's exception.
    void join();
    // Sets the cancel flag and waits for the end with the lock released; the work's
    // exception, if any, is dropped (the caller already has one to raise).
    void cancel_and_join() noexcept;

private:
    std::atomic<bool>& cancel_;
    std::exception_ptr error_;
    std::thread thread_;
};

// Runs `work` on a WorkThread and waits for it in the calling thread, which holds the lock.
// Between slices, with the lock held, deliver(event) gets each event the work posted to
// `mailbox`, in order, and signal handlers run. When deliver returns false or a handler
// raises (KeyboardInterrupt on Ctrl-C), the cancel flag is set, the work is awaited and
// false is returned with that Python exception set. Otherwise every event is delivered, an
// exception the work threw is rethrown, and true is returned.
template <class Event, class Deliver>
bool run_while_waiting(Mailbox<Event>& mailbox, std::atomic<bool>& cancel,
                       std::function<void()> work, Deliver&& deliver)
{
    WorkThread thread(cancel, std::move(work), [&mailbox] { mailbox.close(); });
    std::deque<Event> events;
    for (bool ended = false; !ended;) {
        {
            const LockReleased released;
            ended = mailbox.collect(wait_slice, events);
        }
        for (; !events.empty(); events.pop_front()) {
            if (!deliver(events.front())) {
                thread.cancel_and_join();
                return false;
            }
        }
        if (!ended && PyErr_CheckSignals() < 0) {
            thread.cancel_and_join();
            return false;
        }
    }
    thread.join();
    return true;
}

}  // namespace tarvo_py
