#include <bit>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "tarvo_core/config.hpp"
#include "tarvo_core/fault.hpp"

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

TEST(ConfigRecords, TimeStepIsTimeOfFlightOverNodeCount) {
    const struct {
        double tof;
        std::uint64_t n;
        double dt;
    } cases[] = {{50.0, 100, 0.5},
                 {1.0, 3, 1.0 / 3.0},  // over n, not n - 1
                 {5.0, 0, std::numeric_limits<double>::infinity()}};
    for (const auto& c : cases) {
        Config config;
        config.solver.time_of_flight = c.tof;
        config.solver.n = c.n;
        EXPECT_EQ(config.dt(), c.dt) << c.tof << " / " << c.n;
    }
    try {
        (void)Config{}.dt();
        FAIL() << "dt() returned without a time of flight";
    } catch (const tarvo_core::InternalFault& fault) {
        EXPECT_STREQ(fault.what(), "time_of_flight must be set before dt()");
    }
}

}  // namespace
