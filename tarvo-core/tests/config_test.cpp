#include <bit>
#include <cstdint>

#include <gtest/gtest.h>

#include "tarvo_core/config.hpp"

namespace {

using tarvo_core::config::Config;
using tarvo_core::config::Vec3;

TEST(ConfigRecords, DefaultsAreTheDocumentedValues) {
    const Config c;
    EXPECT_EQ(c.spacecraft.initial_position, (Vec3{450.0, -330.0, 2400.0}));
    EXPECT_EQ(c.spacecraft.initial_velocity, (Vec3{-40.0, 10.0, -10.0}));
    EXPECT_EQ(c.spacecraft.min_thrust_pct, 0.2);  // a fraction, not a percentage
    EXPECT_EQ(c.spacecraft.max_thrust_pct, 0.8);
    EXPECT_EQ(c.solver.n, 100u);
    EXPECT_FALSE(c.solver.time_of_flight || c.solver.tof_min || c.solver.tof_max);
    // The inexact decimals 0.0005 and -3.71 are held as their nearest doubles.
    EXPECT_EQ(std::bit_cast<std::uint64_t>(c.spacecraft.fuel_consumption), 0x3F40624DD2F1A9FCu);
    EXPECT_EQ(std::bit_cast<std::uint64_t>(c.environment.gravity[2]), 0xC00DAE147AE147AEu);
}

}  // namespace
