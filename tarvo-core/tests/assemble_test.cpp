// Assembly of the cone program: node-count limits, sizes, row and cone map, coefficients and
// their rounding, and the column-wise form of A.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include "assemble.hpp"
#include "cone_rows.hpp"
#include "reference_profile.hpp"
#include "test_support.hpp"

namespace {

using test_support::row_of;
using test_support::Terms;
using namespace tarvo_core;
using Cones = std::vector<std::pair<clarabel_bridge::ConeKind, std::size_t>>;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr auto zero = clarabel_bridge::ConeKind::ZeroConeT;
constexpr auto nonneg = clarabel_bridge::ConeKind::NonnegativeConeT;
constexpr auto soc = clarabel_bridge::ConeKind::SecondOrderConeT;

config::Config landing(std::uint64_t n, double tof, double glide_deg = 0.0) {
    config::Config config;
    config.solver.n = n;
    config.solver.time_of_flight = tof;
    config.environment.glide_slope_angle_deg = glide_deg;
    return config;
}

// The horizon of the configuration's node count and time of flight.
assemble::Horizon horizon_of(const config::Config& config) {
    return assemble::Horizon::of(config.solver.n, config.solver.time_of_flight.value()).value();
}

assemble::Problem build(const config::Config& config) {
    return assemble::build_problem(config, horizon_of(config));
}

std::vector<assemble::Row> equalities(const config::Config& config) {
    return assemble::equality_rows(config, horizon_of(config));
}

bool rows_ascend_in_every_column(const clarabel_bridge::CscMatrix& a) {
    for (std::size_t j = 0; j < a.n; ++j) {
        for (std::size_t p = a.colptr[j]; p + 1 < a.colptr[j + 1]; ++p) {
            if (a.rowval[p] >= a.rowval[p + 1]) return false;
        }
    }
    return true;
}

Cones cones_of(const assemble::Problem& problem) {
    Cones cones;
    for (const auto& cone : problem.cones) cones.emplace_back(cone.kind, cone.dim);
    return cones;
}

assemble::ReferenceProfile profile_of(const config::Config& config) {
    const auto& sc = config.spacecraft;
    return assemble::reference_profile(sc, assemble::thrust_bounds(sc), horizon_of(config));
}

TEST(AssembleNodeCount, AcceptsOneToTheCeilingAndRejectsTheRestWithAReason) {
    const std::uint64_t size_max = std::numeric_limits<std::size_t>::max();
    const std::uint64_t last_fitting = size_max / (49 * 16);  // A's entries: index + value
    const struct { std::uint64_t n; const char* reason; } cases[] = {
        {1, nullptr}, {assemble::max_node_count, nullptr}, {0, "at least 1"},
        {assemble::max_node_count + 1, "at most 100000"}, {last_fitting, "at most"},
        {last_fitting + 1, "overflow"}, {size_max / 11 + 1, "overflow"}, {~0ull, "overflow"}};
    for (const auto& c : cases) {
        const auto error = assemble::node_count_error(c.n);
        ASSERT_EQ(error.has_value(), c.reason != nullptr) << c.n;
        if (error) {
            EXPECT_NE(error->find(c.reason), std::string::npos) << *error;
        }
    }
    const auto no_horizon = assemble::Horizon::of(0, 1.0);
    ASSERT_FALSE(no_horizon.ok());
    EXPECT_EQ(no_horizon.error().text, *assemble::node_count_error(0));
}

TEST(AssembleShape, SizesObjectiveAndColumnOrderFollowTheNodeCount) {
    for (std::uint64_t n : {1u, 2u, 7u, 100u}) {
        for (std::uint64_t glide : {0u, 1u}) {  // glide-slope blocks add 3 rows, 1 cone a node
            const auto p = build(landing(n, 40.0, 10.0 * double(glide)));
            EXPECT_EQ(p.cones[0].dim, 7 * n + 6);
            EXPECT_EQ(p.A.m, (20 + 3 * glide) * n + 7);
            EXPECT_EQ(p.cones.size(), (3 + glide) * n + 2);
            EXPECT_EQ(p.A.nnz(), (46 + 3 * glide) * n - 17);
            EXPECT_EQ(p.A.colptr.size(), 11 * n + 1);
            EXPECT_EQ(p.A.colptr.back(), p.A.nzval.size());
            EXPECT_TRUE(rows_ascend_in_every_column(p.A));
            EXPECT_EQ(p.b.size(), p.A.m);
            EXPECT_EQ(p.P.m, 11 * n);
            EXPECT_EQ(p.P.colptr, std::vector<std::size_t>(11 * n + 1, 0));
            std::vector<double> q(11 * n, 0.0);
            q.back() = -1.0;
            EXPECT_EQ(p.q, q);
        }
    }
}

TEST(AssembleShape, ConeListForOneAndTwoNodes) {
    EXPECT_EQ(cones_of(build(landing(1, 5.0))),
              (Cones{{zero, 13}, {nonneg, 3}, {soc, 4}, {soc, 4}, {soc, 3}}));
    EXPECT_EQ(cones_of(build(landing(2, 2.0))),
              (Cones{{zero, 20}, {nonneg, 5}, {soc, 4}, {soc, 4}, {soc, 4}, {soc, 4}, {soc, 3},
                     {soc, 3}}));
    // Glide-slope cones come after the thrust-magnitude cones, before the lower-thrust ones.
    EXPECT_EQ(cones_of(build(landing(2, 2.0, 10.0))),
              (Cones{{zero, 20}, {nonneg, 3}, {soc, 4}, {soc, 4}, {soc, 4}, {soc, 4}, {soc, 4},
                     {soc, 4}, {soc, 3}, {soc, 3}}));
}

TEST(AssembleShape, RowMapForTwoNodes) {
    // Columns for N = 2: r 0..2/6..8, v 3..5/9..11, u 12..17, sigma 18..19, z 20..21.
    const auto p = build(landing(2, 2.0));
    const double z0 = std::log(2000.0);
    const double z1 = std::log(2000.0 - 0.0005 * 1.0 * 19200.0);
    const double d1 = 1.0 / (4800.0 * std::exp(-z1)) * -2.0;
    const struct { std::size_t row; Terms terms; double rhs; } rows[] = {
        {6, {{20, 1.0}}, z0},
        {20, {{2, -1.0}}, 0.0},  // altitude rows
        {21, {{8, -1.0}}, 0.0},
        {22, {{18, 0.10416666666666666}, {20, 1.0}}, 1.0 + z0},  // upper thrust, node 0
        {24, {{21, -1.0}}, -std::log(300.0)},                   // dry mass
        {25, {}, 1000.0},                                        // velocity heads
        {29, {}, 1000.0},
        {28, {{5, -1.0}}, 0.0},
        {33, {{18, -1.0}}, 0.0},  // thrust magnitude
        {40, {{17, -1.0}}, 0.0},
        {41, {{18, -0.8333333333333333}, {20, -2.0}}, -16.201804919084164},  // lower thrust
        {42, {{20, -2.0}}, -15.201804919084164},
        {45, {{21, -2.0}}, z1 * -2.0},
        {46, {{19, d1}, {21, -2.0}}, z1 * -2.0 + -3.0},
    };
    ASSERT_EQ(p.A.m, 47u);
    for (const auto& r : rows) {
        EXPECT_EQ(row_of(p.A, r.row), r.terms) << "row " << r.row;
        EXPECT_EQ(p.b[r.row], r.rhs) << "row " << r.row;
    }
}

TEST(AssembleShape, NonZeroGlideSlopeSineGivesConesInsteadOfAltitudeRows) {
    // Angle 0 is covered above. 180 degrees: the sine of the product is tiny, not 0.0.
    const struct { double angle; double sine; } cases[] = {
        {10.0, 0.17364817766693033}, {180.0, 1.2246467991473532e-16}};
    for (const auto& c : cases) {
        const auto p = build(landing(2, 2.0, c.angle));
        EXPECT_EQ(row_of(p.A, 39), (Terms{{2, -1.0}}));  // after velocity and magnitude blocks
        EXPECT_EQ(row_of(p.A, 40), (Terms{{0, -c.sine}}));
        EXPECT_EQ(row_of(p.A, 41), (Terms{{1, -c.sine}}));
        EXPECT_EQ(row_of(p.A, 46), (Terms{{8, -c.sine}}));
        EXPECT_EQ(row_of(p.A, 47), (Terms{{18, -0.8333333333333333}, {20, -2.0}}));
    }
}

TEST(AssembleCoefficients, DefaultVehicleRowsKeepTheirTermOrder) {
    const auto config = landing(100, 50.0);
    const assemble::VariableLayout at{100};
    const auto profile = profile_of(config);
    const auto upper = assemble::upper_thrust_and_dry_mass_rows(at, profile, config.spacecraft);
    EXPECT_EQ(upper[0].terms, (Terms{{1000, 1.0}, {900, 0.10416666666666666}}));
    EXPECT_EQ(upper[0].rhs, 8.600902459542082);
    EXPECT_EQ(upper[100].terms, (Terms{{1099, -1.0}}));
    EXPECT_EQ(upper[100].rhs, -5.703782474656201);
    const auto lower = assemble::lower_thrust_blocks(at, profile);
    EXPECT_EQ(lower[0].rows[2].terms, (Terms{{900, -0.8333333333333333}, {1000, -2.0}}));
    EXPECT_EQ(lower[0].rows[2].rhs, -18.201804919084164);
}

TEST(AssembleCoefficients, EqualityRowsForTwoNodesOfOneSecond) {
    auto config = landing(2, 2.0);
    config.environment.gravity = {1.5, -2.0, -3.71};
    config.spacecraft.target_position = {1.0, 2.0, 3.0};
    config.spacecraft.target_velocity = {4.0, 5.0, 6.0};
    const auto rows = equalities(config);
    const double half_alpha = 0.0005 * 0.5;
    const struct { std::size_t row; Terms terms; double rhs; } expected[] = {
        {3, {{3, 1.0}}, -40.0},
        {7, {{6, 1.0}, {0, -1.0}, {3, -1.0}, {12, 1.0 / -3.0}, {15, 1.0 / -6.0}}, 0.75},
        {9, {{8, 1.0}, {2, -1.0}, {5, -1.0}, {14, 1.0 / -3.0}, {17, 1.0 / -6.0}}, -1.855},
        {11, {{10, 1.0}, {4, -1.0}, {13, -0.5}, {16, -0.5}}, -2.0},
        {13, {{21, 1.0}, {20, -1.0}, {18, half_alpha}, {19, half_alpha}}, 0.0},
        {16, {{8, 1.0}}, 3.0},
        {19, {{11, 1.0}}, 6.0},
    };
    ASSERT_EQ(rows.size(), 20u);
    for (const auto& e : expected) {
        EXPECT_EQ(rows[e.row].terms, e.terms) << "row " << e.row;
        EXPECT_EQ(rows[e.row].rhs, e.rhs) << "row " << e.row;
    }
    // One node: no dynamics; the terminal rows fix the same state as the initial ones.
    EXPECT_EQ(equalities(landing(1, 3.0))[12].terms, (Terms{{5, 1.0}}));
}

TEST(AssembleCoefficients, RoundingFollowsTheFixedOrderOfOperations) {
    // Time steps at which another association of the same products rounds differently.
    const struct { double tof; double u_start, u_end, rhs; } steps[] = {
        {0.3, -0.0075, -0.00375, -0.0417375},
        {3.3, -0.9074999999999999, -0.45374999999999993, -5.0502375}};
    for (const auto& s : steps) {
        const auto row = equalities(landing(2, s.tof))[9];  // position, axis 2
        EXPECT_EQ(row.terms[3].second, s.u_start) << s.tof;
        EXPECT_EQ(row.terms[4].second, s.u_end) << s.tof;
        EXPECT_EQ(row.rhs, s.rhs) << s.tof;
    }
    EXPECT_EQ(profile_of(landing(2, 89.4)).z0[1], 7.359391250869687);
}

TEST(AssembleCoefficients, ZeroAndNonFiniteValuesAreKeptNotDropped) {
    auto config = landing(3, 3.0);
    config.spacecraft.min_thrust_pct = 0.0;    // every d_k is +inf
    config.spacecraft.fuel_consumption = 0.0;  // zero log-mass coefficients
    const auto p = build(config);
    EXPECT_EQ(p.A.nnz(), 46u * 3 - 17);
    EXPECT_EQ(row_of(p.A, 58), (Terms{{27, -inf}, {30, -2.0}}));  // first lower-thrust row
    EXPECT_EQ(row_of(p.A, 13), (Terms{{27, 0.0}, {28, 0.0}, {30, -1.0}, {31, 1.0}}));

    // A reference mass that reaches zero, then goes negative, is passed on unguarded.
    config.spacecraft = {};
    config.spacecraft.wet_mass = 25.0;
    config.spacecraft.fuel_consumption = 0.5;  // burns 0.5 * 1 s * 50 N = 25 a node
    config.spacecraft.real_max_thrust = 100.0;
    config.spacecraft.max_thrust_pct = 0.5;
    const auto profile = profile_of(config);  // 3 nodes over 3 s
    EXPECT_EQ(profile.z0[1], -inf);
    EXPECT_TRUE(std::isnan(profile.z0[2]) && std::isnan(profile.d[2]));
    config.spacecraft.min_thrust_pct = 0.0;  // +inf without dividing, whatever z0 is
    EXPECT_EQ(profile_of(config).d, (std::vector<double>{inf, inf, inf}));
}

TEST(AssembleCoefficients, MaxAngleChangesNothing) {
    auto config = landing(5, 20.0, 30.0);
    const auto reference = build(config);
    for (double angle : {0.0, 45.0, -1e300}) {
        config.environment.max_angle_deg = angle;
        const auto p = build(config);
        EXPECT_EQ(p.A.rowval, reference.A.rowval);
        EXPECT_EQ(p.A.nzval, reference.A.nzval);
        EXPECT_EQ(p.b, reference.b);
        EXPECT_EQ(cones_of(p), cones_of(reference));
    }
}

}  // namespace
