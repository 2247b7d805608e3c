// The access word every Python object of the module carries: 0 when free, n > 0 while n
// readers hold shared access, -1 while one writer holds it.
#pragma once

#include <atomic>
#include <cstddef>

namespace tarvo_py {

class AccessCounter {
public:
    // Raises the word by one unless a writer holds it.
    bool try_acquire_read() noexcept
    {
        std::ptrdiff_t current = state_.load(std::memory_order_relaxed);
        do {
            if (current < 0) {
                return false;
            }
        } while (!state_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                               std::memory_order_relaxed));
        return true;
    }

    void release_read() noexcept { state_.fetch_sub(1, std::memory_order_release); }

    // Takes the word from 0 to -1; fails while anyone holds it.
    bool try_acquire_write() noexcept
    {
        std::ptrdiff_t expected = 0;
        return state_.compare_exchange_strong(expected, -1, std::memory_order_acquire,
                                              std::memory_order_relaxed);
    }

    void release_write() noexcept { state_.store(0, std::memory_order_release); }

private:
    std::atomic<std::ptrdiff_t> state_{0};
};

}  // namespace tarvo_py
