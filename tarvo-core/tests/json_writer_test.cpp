// The written document: exact layout, number formatting, and bit-exact round trips.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tarvo_core/config.hpp"

namespace tarvo_core::config {
namespace {

const char* const default_document = R"({
  "spacecraft": {
    "wet_mass": 2000.0,
    "fuel": 1700.0,
    "real_max_thrust": 24000.0,
    "min_thrust_pct": 0.2,
    "max_thrust_pct": 0.8,
    "max_velocity": 1000.0,
    "initial_position": [
      450.0,
      -330.0,
      2400.0
    ],
    "initial_velocity": [
      -40.0,
      10.0,
      -10.0
    ],
    "target_velocity": [
      0.0,
      0.0,
      0.0
    ],
    "target_position": [
      0.0,
      0.0,
      0.0
    ],
    "fuel_consumption": 0.0005
  },
  "environment": {
    "gravity": [
      0.0,
      0.0,
      -3.71
    ],
    "glide_slope_angle_deg": 0.0,
    "max_angle_deg": 90.0
  },
  "solver": {
    "n": 100,
    "time_of_flight": null,
    "tof_min": null,
    "tof_max": null
  }
})";

// Every double of a configuration, the optional ones where set.
std::vector<double*> every_double(Config& c) {
    Spacecraft& s = c.spacecraft;
    std::vector<double*> fields = {&s.wet_mass, &s.fuel, &s.real_max_thrust, &s.min_thrust_pct,
                                   &s.max_thrust_pct, &s.max_velocity, &s.fuel_consumption,
                                   &c.environment.glide_slope_angle_deg,
                                   &c.environment.max_angle_deg};
    for (Vec3* v : {&s.initial_position, &s.initial_velocity, &s.target_velocity,
                    &s.target_position, &c.environment.gravity})
        for (double& x : *v) fields.push_back(&x);
    for (std::optional<double>* o : {&c.solver.time_of_flight, &c.solver.tof_min, &c.solver.tof_max})
        if (o->has_value()) fields.push_back(&o->value());
    return fields;
}

TEST(JsonWriter, DefaultDocumentIsExact) {
    EXPECT_EQ(to_json(Config{}), default_document);
}

TEST(JsonWriter, FormatsDoubles) {
    struct Case {
        double value;
        const char* text;
    } const cases[] = {
        {0.0, "0.0"}, {-0.0, "-0.0"}, {100.0, "100.0"}, {2000.0, "2000.0"}, {3.71, "3.71"},
        {-3.71, "-3.71"}, {123.456, "123.456"}, {0.2, "0.2"}, {0.0005, "0.0005"},
        {1e-5, "0.00001"}, {1.5e-5, "0.000015"}, {1e-6, "1e-6"}, {1.5e-7, "1.5e-7"},
        {1e15, "1000000000000000.0"}, {1.5e15, "1500000000000000.0"}, {1e16, "1e+16"},
        {-1.25e16, "-1.25e+16"}, {DBL_MAX, "1.7976931348623157e+308"}, {5e-324, "5e-324"},
        {DBL_MIN, "2.2250738585072014e-308"}, {0.1 + 0.2, "0.30000000000000004"},
        {123456789012345.6, "123456789012345.6"}, {std::nan(""), "null"}, {INFINITY, "null"},
        {-INFINITY, "null"},
    };
    for (const Case& c : cases) EXPECT_EQ(format_double(c.value), c.text) << c.text;
}

// Random finite bit patterns in every field come back bit for bit.
TEST(JsonWriter, RoundTripIsBitExact) {
    std::mt19937_64 random(20240601);
    for (int trial = 0; trial < 2000; ++trial) {
        Config written;
        written.solver.time_of_flight = written.solver.tof_min = written.solver.tof_max = 0.0;
        for (double* field : every_double(written)) {
            double value = NAN;
            while (!std::isfinite(value)) value = std::bit_cast<double>(random());
            *field = value;
        }
        written.solver.n = random();
        if (trial % 3 == 0) written.solver.tof_min.reset();
        const auto read = from_json(to_json(written));
        ASSERT_TRUE(read.ok()) << read.error().description;
        Config copy = read.value();
        EXPECT_EQ(copy.solver.n, written.solver.n);
        const std::vector<double*> expected = every_double(written);
        const std::vector<double*> actual = every_double(copy);
        ASSERT_EQ(actual.size(), expected.size());
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(std::bit_cast<std::uint64_t>(*actual[i]), std::bit_cast<std::uint64_t>(*expected[i]))
                << "field " << i << " written as " << format_double(*expected[i]);
    }
}

}  // namespace
}  // namespace tarvo_core::config
