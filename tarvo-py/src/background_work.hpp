// Numeric work on threads of its own while the calling Python thread waits for it with the
// interpreter lock released: in short slices, between which it takes the lock back to hand
// on what the work has reported (in order), and to let signal handlers run, so that Ctrl-C
// or a failing callback ends the wait within a slice.
//
// The work owns what it uses (shared with the caller, never on the caller's stack), so a
// caller can leave work that does not stop at once (a large solver setup is not
// interruptible) to end on its own, and a waiting thread that the finalising interpreter
// halts (see halt_thread) leaves nothing the work still uses.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "support.hpp"

namespace tarvo_py {

// How long the calling thread waits with the lock released before it checks for signals.
inline constexpr std::chrono::milliseconds wait_slice{20};
// How long an interrupted call waits for its work to stop before it leaves the work to end
// on its own: long enough for a solver iteration of an ordinary problem, so that usually no
// thread outlives the call.
inline constexpr std::chrono::milliseconds stop_grace{100};

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

    // Waits at most `limit` for the end; true once the work has ended.
    bool wait_closed(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(mutex_);
        return wake_.wait_for(lock, limit, [this] { return closed_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> events_;
    bool closed_ = false;
};

// What the work shares with the caller waiting for it: its events, its cancel flag and its
// exception. The work's thread holds it too, so it outlives a caller that left.
template <class Event>
struct WorkChannel {
    Mailbox<Event> mailbox;
    std::atomic<bool> cancel{false};
    std::exception_ptr error;  // the work's exception, stored before the mailbox closes
};

// Releases the interpreter lock for one scope; the calling thread must hold it. When the
// finalising interpreter ends this thread as it takes the lock back, `cancel` is set (the
// work stops on its own) and the thread halts there.
class LockReleased {
public:
    explicit LockReleased(std::atomic<bool>& cancel) noexcept
        : state_(PyEval_SaveThread()), cancel_(cancel)
    {
    }
    ~LockReleased();
    LockReleased(const LockReleased&) = delete;
    LockReleased& operator=(const LockReleased&) = delete;

private:
    PyThreadState* state_;
    std::atomic<bool>& cancel_;
};

// Runs `call`, which enters the interpreter and may give up its lock and wait for it (a
// Python callback, or any code that runs one). When the finalising interpreter ends this
// thread inside it, `cancel` is set and the thread halts there (see ThreadEnd); the frames
// within `call` have been unwound, dropping no reference (see DropReference).
template <class Call>
TARVO_CATCHES_THREAD_END decltype(auto) calling_python(std::atomic<bool>& cancel, Call&& call)
{
    try {
        return std::forward<Call>(call)();
    } catch (ThreadEnd&) {
        cancel.store(true, std::memory_order_relaxed);
        halt_thread();
    }
}

// The thread that runs one work. `work` owns what it uses; the thread holds it and the
// channel until it ends, so an abandoned work ends on its own and frees both. Destroying a
// WorkThread whose work runs cancels it and leaves it to end on its own.
template <class Event>
class WorkThread {
public:
    using Channel = WorkChannel<Event>;

    WorkThread(std::shared_ptr<Channel> channel, std::function<void()> work)
        : channel_(std::move(channel))
    {
        thread_ = std::thread([channel = channel_, work = std::move(work)] {
            try {
                work();
            } catch (...) {
                channel->error = std::current_exception();
            }
            channel->mailbox.close();
        });
    }
    ~WorkThread()
    {
        if (thread_.joinable()) {
            cancel();
        }
    }
    WorkThread(const WorkThread&) = delete;
    WorkThread& operator=(const WorkThread&) = delete;

    // After the mailbox closed: waits for the thread with the lock released and rethrows
    // the work's exception.
    void join()
    {
        {
            const LockReleased released(channel_->cancel);
            thread_.join();
        }
        if (channel_->error) {
            std::rethrow_exception(std::exchange(channel_->error, nullptr));
        }
    }

    // Sets the cancel flag and waits, with the lock released, at most stop_grace for the
    // work to end; work that is still running then ends on its own. Its exception, if
    // any, is dropped: the caller already has one to raise.
    void cancel() noexcept
    {
        channel_->cancel.store(true, std::memory_order_relaxed);
        bool ended = false;
        {
            const LockReleased released(channel_->cancel);
            try {
                ended = channel_->mailbox.wait_closed(stop_grace);
                if (ended) {
                    thread_.join();
                }
            } catch (...) {
                ended = false;  // a failed wait leaves the work to end on its own
            }
        }
        if (!ended) {
            thread_.detach();
        }
    }

private:
    std::shared_ptr<Channel> channel_;
    std::thread thread_;
};

// Runs `work` on a WorkThread and waits for it in the calling thread, which holds the lock.
// Between slices, with the lock held, deliver(event) gets each event the work posted to
// the channel's mailbox, in order, and signal handlers run. When deliver returns false or
// a handler raises (KeyboardInterrupt on Ctrl-C), the work is cancelled (see
// WorkThread::cancel) and false is returned with that Python exception set. Otherwise every
// event is delivered, an exception the work threw is rethrown, and true is returned.
template <class Event, class Deliver>
bool run_while_waiting(const std::shared_ptr<WorkChannel<Event>>& channel,
                       std::function<void()> work, Deliver&& deliver)
{
    WorkThread<Event> thread(channel, std::move(work));
    std::deque<Event> events;
    for (bool ended = false; !ended;) {
        {
            const LockReleased released(channel->cancel);
            ended = channel->mailbox.collect(wait_slice, events);
        }
        for (; !events.empty(); events.pop_front()) {
            if (!calling_python(channel->cancel, [&] { return deliver(events.front()); })) {
                thread.cancel();
                return false;
            }
        }
        if (!ended && PyErr_CheckSignals() < 0) {
            thread.cancel();
            return false;
        }
    }
    thread.join();
    return true;
}

}  // namespace tarvo_py
