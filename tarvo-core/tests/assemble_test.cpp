// Assembly of the cone program: node-count limits, sizes and cone order, the coefficients of
// every row group bit for bit (in their fixed order of operations), and what the planning
// layer's formulation adds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "formulation.hpp"
#include "reference_profile.hpp"
#include "test_support.hpp"

namespace {

using test_support::row_of;
using test_support::Terms;
using namespace tarvo_core;
using assemble::Formulation;
using assemble::Problem;
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

assemble::Horizon horizon_of(const config::Config& config) {
    return assemble::Horizon::of(config.solver.n, config.solver.time_of_flight.value()).value();
}

Problem build(const config::Config& config, const Formulation& formulation = {}) {
    return assemble::build_problem(config, horizon_of(config), formulation);
}

Cones cones_of(const Problem& problem) {
    Cones cones;
    for (const auto& cone : problem.cones) cones.emplace_back(cone.kind, cone.dim);
    return cones;
}

assemble::ReferenceProfile profile_of(const config::Config& config) {
    const auto& sc = config.spacecraft;
    return assemble::reference_profile(sc, assemble::thrust_bounds(sc), horizon_of(config));
}

struct ExpectedRow {
    std::size_t row;
    Terms terms;
    double rhs;
};

void expect_rows(const Problem& p, const std::vector<ExpectedRow>& rows) {
    for (const auto& r : rows) {
        EXPECT_EQ(row_of(p.A, r.row), r.terms) << "row " << r.row;
        EXPECT_EQ(p.b[r.row], r.rhs) << "row " << r.row;
    }
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
        EXPECT_TRUE(!error || error->find(c.reason) != std::string::npos) << *error;
    }
    EXPECT_EQ(assemble::Horizon::of(0, 1.0).error().text, *assemble::node_count_error(0));
}

TEST(AssembleShape, SizesConesAndObjectiveFollowTheNodeCount) {
    for (std::uint64_t n : {1u, 2u, 7u, 100u}) {
        for (std::uint64_t glide : {0u, 1u}) {  // glide-slope blocks add 3 rows, 1 cone a node
            const Problem p = build(landing(n, 40.0, 10.0 * double(glide)));
            EXPECT_EQ(p.cones[0].dim, 7 * n + 6);
            EXPECT_EQ(p.A.m, (20 + 3 * glide) * n + 7);
            EXPECT_EQ(p.cones.size(), (3 + glide) * n + 2);
            EXPECT_EQ(p.A.nnz(), (46 + 3 * glide) * n - 17);
            EXPECT_EQ(p.P.m, 11 * n);
            EXPECT_EQ(p.P.colptr, std::vector<std::size_t>(11 * n + 1, 0));
            std::vector<double> q(11 * n, 0.0);
            q.back() = -1.0;
            EXPECT_EQ(p.q, q);
        }
    }
    EXPECT_EQ(cones_of(build(landing(2, 2.0))),
              (Cones{{zero, 20}, {nonneg, 5}, {soc, 4}, {soc, 4}, {soc, 4}, {soc, 4}, {soc, 3},
                     {soc, 3}}));
    // Glide-slope cones come after the thrust-magnitude cones, before the lower-thrust ones.
    EXPECT_EQ(cones_of(build(landing(2, 2.0, 10.0))),
              (Cones{{zero, 20}, {nonneg, 3}, {soc, 4}, {soc, 4}, {soc, 4}, {soc, 4}, {soc, 4},
                     {soc, 4}, {soc, 3}, {soc, 3}}));
}

// Columns for N = 2: r 0..2/6..8, v 3..5/9..11, u 12..17, sigma 18..19, z 20..21.
TEST(AssembleCoefficients, InequalityRowsForTwoNodes) {
    const double z0 = std::log(2000.0);
    const double z1 = std::log(2000.0 - 0.0005 * 1.0 * 19200.0);
    const double d1 = 1.0 / (4800.0 * std::exp(-z1)) * -2.0;
    expect_rows(build(landing(2, 2.0)),
                {{20, {{2, -1.0}}, 0.0},  // altitude rows
                 {21, {{8, -1.0}}, 0.0},
                 {22, {{18, 0.10416666666666666}, {20, 1.0}}, 1.0 + z0},  // upper thrust, node 0
                 {24, {{21, -1.0}}, -std::log(300.0)},                   // dry mass
                 {25, {}, 1000.0},                                        // velocity heads
                 {29, {}, 1000.0},
                 {28, {{5, -1.0}}, 0.0},
                 {33, {{18, -1.0}}, 0.0},  // thrust magnitude
                 {40, {{17, -1.0}}, 0.0},
                 {41, {{18, -0.8333333333333333}, {20, -2.0}}, -16.201804919084164},  // lower
                 {42, {{20, -2.0}}, -15.201804919084164},
                 {45, {{21, -2.0}}, z1 * -2.0},
                 {46, {{19, d1}, {21, -2.0}}, z1 * -2.0 + -3.0}});
    // A non-zero sine gives glide-slope cones instead of altitude rows; at 180 degrees the
    // sine of the product is tiny, not 0.0.
    for (const auto& [angle, sine] : {std::pair{10.0, 0.17364817766693033},
                                      std::pair{180.0, 1.2246467991473532e-16}}) {
        expect_rows(build(landing(2, 2.0, angle)),
                    {{39, {{2, -1.0}}, 0.0},  // after the velocity and magnitude blocks
                     {40, {{0, -sine}}, 0.0},
                     {41, {{1, -sine}}, 0.0},
                     {46, {{8, -sine}}, 0.0},
                     {47, {{18, -0.8333333333333333}, {20, -2.0}}, -16.201804919084164}});
    }
}

TEST(AssembleCoefficients, EqualityRowsRoundInTheirFixedOrder) {
    auto config = landing(2, 2.0);
    config.environment.gravity = {1.5, -2.0, -3.71};
    config.spacecraft.target_position = {1.0, 2.0, 3.0};
    config.spacecraft.target_velocity = {4.0, 5.0, 6.0};
    const double half_alpha = 0.0005 * 0.5;
    expect_rows(build(config),
                {{3, {{3, 1.0}}, -40.0},
                 {7, {{0, -1.0}, {3, -1.0}, {6, 1.0}, {12, 1.0 / -3.0}, {15, 1.0 / -6.0}}, 0.75},
                 {9, {{2, -1.0}, {5, -1.0}, {8, 1.0}, {14, 1.0 / -3.0}, {17, 1.0 / -6.0}}, -1.855},
                 {11, {{4, -1.0}, {10, 1.0}, {13, -0.5}, {16, -0.5}}, -2.0},
                 {13, {{18, half_alpha}, {19, half_alpha}, {20, -1.0}, {21, 1.0}}, 0.0},
                 {16, {{8, 1.0}}, 3.0},
                 {19, {{11, 1.0}}, 6.0}});
    // One node: no dynamics; the terminal rows fix the same state as the initial ones.
    expect_rows(build(landing(1, 3.0)), {{12, {{5, 1.0}}, 0.0}});
    // Time steps at which another association of the same products rounds differently.
    for (const auto& [tof, u_start, u_end, rhs] :
         {std::tuple{0.3, -0.0075, -0.00375, -0.0417375},
          std::tuple{3.3, -0.9074999999999999, -0.45374999999999993, -5.0502375}}) {
        expect_rows(build(landing(2, tof)),  // position, axis 2
                    {{9, {{2, -1.0}, {5, -tof / 2}, {8, 1.0}, {14, u_start}, {17, u_end}}, rhs}});
    }
    EXPECT_EQ(profile_of(landing(2, 89.4)).z0[1], 7.359391250869687);
}

TEST(AssembleCoefficients, ZeroAndNonFiniteValuesAreKeptNotDropped) {
    auto config = landing(3, 3.0);
    config.spacecraft.min_thrust_pct = 0.0;    // every d_k is +inf
    config.spacecraft.fuel_consumption = 0.0;  // zero log-mass coefficients
    const Problem p = build(config);
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

// The fixed program (what solve_fixed solves) has no pointing limit, whatever the angle.
TEST(AssembleCoefficients, TheFixedProgramIgnoresThePointingLimit) {
    auto config = landing(5, 20.0, 30.0);
    const Problem reference = build(config);
    for (double angle : {0.0, 45.0, -1e300}) {
        config.environment.max_angle_deg = angle;
        const Problem p = build(config);
        EXPECT_TRUE(p.A.nzval == reference.A.nzval && p.b == reference.b) << angle;
        EXPECT_TRUE(p.A.rowval == reference.A.rowval && cones_of(p) == cones_of(reference));
    }
}

TEST(Formulation, PointingRowsFormTheirOwnNonnegativeConeAtTheEnd) {
    const config::Config config = landing(4, 20.0);
    Formulation pointing;
    pointing.pointing = assemble::ThrustPointing{{0.6, 0.0, 0.8}, 0.5};
    const Problem fixed = build(config);
    const Problem problem = build(config, pointing);
    ASSERT_EQ(cones_of(problem).size(), fixed.cones.size() + 1);
    EXPECT_EQ(cones_of(problem).back(), std::pair(nonneg, std::size_t{4}));
    ASSERT_EQ(problem.b.size(), fixed.b.size() + 4);
    const assemble::VariableLayout at{4};
    for (std::size_t k = 0; k < 4; ++k) {  // 0.5 sigma_k - axis . u_k <= 0
        const std::size_t u = at.thrust_acceleration(k, 0);
        expect_rows(problem, {{fixed.b.size() + k,
                               {{u, -0.6}, {u + 1, -0.0}, {u + 2, -0.8}, {at.acceleration_bound(k), 0.5}},
                               0.0}});
    }
}

TEST(Formulation, TerminalPlaneFreesThePositionWithinTheDistanceBlock) {
    config::Config config = landing(3, 20.0);
    config.spacecraft.target_position = {30.0, -40.0, 5.0};
    const assemble::VariableLayout at{3};
    const std::size_t plane_row = 7 * 3;  // where the three terminal-position rows were
    for (const std::optional<double> max_distance : {std::optional<double>(), std::optional(7.5)}) {
        Formulation formulation;
        formulation.terminal_plane = assemble::TerminalPlane{{0.0, 0.6, 0.8}, max_distance};
        formulation.mass_weight = 4.0;
        const Problem problem = build(config, formulation);
        const bool nearest = !max_distance;
        std::vector<double> q(33 + (nearest ? 1 : 0), 0.0);
        q[nearest ? 33 : at.log_mass(2)] = nearest ? 1.0 : -4.0;
        EXPECT_EQ(problem.q, q);
        EXPECT_EQ(problem.cones.front().dim, 7u * 3 + 4);  // the zero cone lost two rows
        EXPECT_EQ(row_of(problem.A, plane_row),
                  (Terms{{at.position(2, 0), 0.0}, {at.position(2, 1), 0.6}, {at.position(2, 2), 0.8}}));
        EXPECT_DOUBLE_EQ(problem.b[plane_row], 0.6 * -40.0 + 0.8 * 5.0);
        expect_rows(problem, {{plane_row + 1, {{at.velocity(2, 0), 1.0}}, 0.0}});

        const std::size_t head = problem.b.size() - 4;  // ||target - r_{N-1}|| <= head
        EXPECT_EQ(cones_of(problem).back(), std::pair(soc, std::size_t{4}));
        expect_rows(problem, {{head, nearest ? Terms{{33, -1.0}} : Terms{}, nearest ? 0.0 : 7.5},
                              {head + 1, {{at.position(2, 0), 1.0}}, 30.0},
                              {head + 2, {{at.position(2, 1), 1.0}}, -40.0},
                              {head + 3, {{at.position(2, 2), 1.0}}, 5.0}});
    }
}

}  // namespace
