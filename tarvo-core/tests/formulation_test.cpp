// The planning layer's additions to the cone program: a pointing cone, the terminal plane
// with its distance block, and the weight of the final log-mass.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "formulation.hpp"
#include "test_support.hpp"

namespace {

using test_support::row_of;
using test_support::Terms;
using namespace tarvo_core;
using assemble::Formulation;
using assemble::Problem;

config::Config landing(std::uint64_t n) {
    config::Config config;
    config.solver.n = n;
    config.spacecraft.target_position = {30.0, -40.0, 5.0};
    return config;
}

Problem build(const config::Config& config, const Formulation& formulation) {
    return assemble::build_problem(
        config, assemble::Horizon::of(config.solver.n, 20.0).value(), formulation);
}

TEST(Formulation, PointingRowsFormTheirOwnNonnegativeConeAtTheEnd) {
    const config::Config config = landing(4);
    Formulation pointing;
    pointing.pointing = assemble::ThrustPointing{{0.6, 0.0, 0.8}, 0.5};
    const Problem fixed = build(config, Formulation{});
    const Problem problem = build(config, pointing);
    ASSERT_EQ(problem.cones.size(), fixed.cones.size() + 1);
    EXPECT_EQ(problem.cones.back().kind, clarabel_bridge::ConeKind::NonnegativeConeT);
    EXPECT_EQ(problem.cones.back().dim, 4u);
    ASSERT_EQ(problem.b.size(), fixed.b.size() + 4);
    const assemble::VariableLayout at{4};
    for (std::size_t k = 0; k < 4; ++k) {  // 0.5 sigma_k - axis . u_k <= 0
        const std::size_t u = at.thrust_acceleration(k, 0);
        EXPECT_EQ(row_of(problem.A, fixed.b.size() + k),
                  (Terms{{u, -0.6}, {u + 1, -0.0}, {u + 2, -0.8}, {at.acceleration_bound(k), 0.5}}));
        EXPECT_EQ(problem.b[fixed.b.size() + k], 0.0);
    }
}

TEST(Formulation, TerminalPlaneFreesThePositionWithinTheDistanceBlock) {
    const config::Config config = landing(3);
    const assemble::VariableLayout at{3};
    const config::Vec3 up{0.0, 0.6, 0.8};
    const std::size_t plane_row = 7 * 3;  // where the three terminal-position rows were
    for (const std::optional<double> max_distance : {std::optional<double>(), std::optional(7.5)}) {
        Formulation formulation;
        formulation.terminal_plane = assemble::TerminalPlane{up, max_distance};
        formulation.mass_weight = 4.0;
        const Problem problem = build(config, formulation);
        const bool nearest = !max_distance;
        const std::size_t variables = 33 + (nearest ? 1 : 0);
        ASSERT_EQ(problem.q.size(), variables);
        std::vector<double> q(variables, 0.0);
        q[nearest ? 33 : at.log_mass(2)] = nearest ? 1.0 : -4.0;
        EXPECT_EQ(problem.q, q);
        EXPECT_EQ(problem.cones.front().dim, 7u * 3 + 4);  // the zero cone lost two rows
        EXPECT_EQ(row_of(problem.A, plane_row),
                  (Terms{{at.position(2, 0), 0.0}, {at.position(2, 1), 0.6}, {at.position(2, 2), 0.8}}));
        EXPECT_DOUBLE_EQ(problem.b[plane_row], 0.6 * -40.0 + 0.8 * 5.0);
        EXPECT_EQ(row_of(problem.A, plane_row + 1), (Terms{{at.velocity(2, 0), 1.0}}));

        const std::size_t head = problem.b.size() - 4;  // ||target - r_{N-1}|| <= head
        EXPECT_EQ(problem.cones.back().kind, clarabel_bridge::ConeKind::SecondOrderConeT);
        EXPECT_EQ(problem.cones.back().dim, 4u);
        const Terms head_terms = nearest ? Terms{{33, -1.0}} : Terms{};
        EXPECT_EQ(row_of(problem.A, head), head_terms);
        EXPECT_EQ(problem.b[head], nearest ? 0.0 : 7.5);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(row_of(problem.A, head + 1 + i), (Terms{{at.position(2, i), 1.0}}));
            EXPECT_EQ(problem.b[head + 1 + i], config.spacecraft.target_position[i]);
        }
    }
}

}  // namespace
