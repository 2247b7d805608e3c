#include <atomic>
#include <cstddef>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "tarvo_core/thread_pool.hpp"

namespace {

using tarvo_core::ThreadPool;

TEST(ThreadPool, RunsEveryIndexOnceForAnyCount) {
    ThreadPool pool(3);
    EXPECT_EQ(pool.size(), 3u);
    for (const std::size_t count : {0u, 1u, 2u, 3u, 4u, 1000u}) {
        std::vector<std::atomic<int>> runs(count);
        pool.parallel_for(count, [&](std::size_t i) { runs[i].fetch_add(1); });
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(runs[i].load(), 1) << count << " " << i;
        }
    }
    EXPECT_GE(ThreadPool().size(), 1u);
}

TEST(ThreadPool, RethrowsTheFirstErrorAfterEveryBodyHasRun) {
    ThreadPool pool(2);
    std::atomic<int> finished{0};
    EXPECT_THROW(pool.parallel_for(50,
                                   [&](std::size_t i) {
                                       if (i % 7 == 3) throw std::runtime_error("trial failed");
                                       finished.fetch_add(1);
                                   }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 50 - 7);
    pool.parallel_for(4, [&](std::size_t) { finished.fetch_add(1); });  // still usable
    EXPECT_EQ(finished.load(), 47);
}

TEST(ThreadPool, NestedLoopsOnTheSamePoolFinish) {
    ThreadPool pool(2);
    std::atomic<int> inner{0};
    pool.parallel_for(8, [&](std::size_t) {
        pool.parallel_for(8, [&](std::size_t) { inner.fetch_add(1); });
    });
    EXPECT_EQ(inner.load(), 64);
}

}  // namespace
