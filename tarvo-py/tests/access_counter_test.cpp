#include "access_counter.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using tarvo_py::AccessCounter;

TEST(AccessCounter, ReadersShareAndExcludeTheWriter)
{
    AccessCounter counter;
    ASSERT_TRUE(counter.try_acquire_read());
    ASSERT_TRUE(counter.try_acquire_read());
    EXPECT_FALSE(counter.try_acquire_write());
    counter.release_read();
    EXPECT_FALSE(counter.try_acquire_write()) << "one reader is still inside";
    counter.release_read();
    ASSERT_TRUE(counter.try_acquire_write());
    EXPECT_FALSE(counter.try_acquire_read());
    EXPECT_FALSE(counter.try_acquire_write());
    counter.release_write();
    EXPECT_TRUE(counter.try_acquire_read());
    counter.release_read();
    EXPECT_TRUE(counter.try_acquire_write());
}

// Readers and writers race on one counter; a writer must never see a reader inside, nor a
// reader a writer, and every acquisition must be given back.
TEST(AccessCounter, RacingReadersAndWritersNeverOverlap)
{
    AccessCounter counter;
    std::atomic<int> readers_inside{0};
    std::atomic<int> writers_inside{0};
    std::atomic<bool> overlap{false};
    auto reader = [&] {
        for (int round = 0; round < 20000; ++round) {
            if (counter.try_acquire_read()) {
                readers_inside.fetch_add(1);
                if (writers_inside.load() != 0) {
                    overlap = true;
                }
                readers_inside.fetch_sub(1);
                counter.release_read();
            }
        }
    };
    auto writer = [&] {
        for (int round = 0; round < 20000; ++round) {
            if (counter.try_acquire_write()) {
                if (writers_inside.fetch_add(1) != 0 || readers_inside.load() != 0) {
                    overlap = true;
                }
                writers_inside.fetch_sub(1);
                counter.release_write();
            }
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(reader);
    threads.emplace_back(reader);
    threads.emplace_back(writer);
    threads.emplace_back(writer);
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(overlap.load());
    EXPECT_TRUE(counter.try_acquire_write()) << "the counter did not return to free";
}

}  // namespace
