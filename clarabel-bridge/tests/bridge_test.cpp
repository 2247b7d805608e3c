// Tests of the Clarabel bridge: crate defaults, solves and their statuses, construction
// errors, malformed data and caught panics.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "bridge_abi.h"
#include "clarabel_bridge/clarabel.hpp"

namespace {

using clarabel::CscMatrix;
using clarabel::DefaultSettings;
using clarabel::SolverStatus;
using clarabel::SupportedConeT;

struct Program {
    CscMatrix P;
    std::vector<double> q;
    CscMatrix A;
    std::vector<double> b;
    std::vector<SupportedConeT> cones;
};

DefaultSettings quiet() {
    DefaultSettings settings = DefaultSettings::crate_defaults();
    settings.verbose = false;
    return settings;
}

// min x0 + x1  s.t.  x0 >= 1, x1 >= 2   (rows -x + s = -lower, s >= 0)
Program bounded_lp() {
    return {CscMatrix::spalloc(2, 2, 0), {1.0, 1.0},
            CscMatrix::new_(2, 2, {0, 1, 2}, {0, 1}, {-1.0, -1.0}), {-1.0, -2.0},
            {clarabel::NonnegativeConeT(2)}};
}

// min t  s.t.  x0 + x1 = 1, ||(x0 - 3, x1 - 4)|| <= t: the distance from (3, 4) to the line.
Program distance_socp() {
    return {CscMatrix::spalloc(3, 3, 0), {0.0, 0.0, 1.0},
            CscMatrix::new_(4, 3, {0, 2, 4, 5}, {0, 2, 0, 3, 1}, {1.0, -1.0, 1.0, -1.0, -1.0}),
            {1.0, 0.0, -3.0, -4.0},
            {clarabel::ZeroConeT(1), clarabel::SecondOrderConeT(3)}};
}

// min 0.5 |x|^2 - x0 - x1  s.t.  x <= 0.5
Program capped_qp() {
    return {CscMatrix::new_(2, 2, {0, 1, 2}, {0, 1}, {1.0, 1.0}), {-1.0, -1.0},
            CscMatrix::new_(2, 2, {0, 1, 2}, {0, 1}, {1.0, 1.0}), {0.5, 0.5},
            {clarabel::NonnegativeConeT(2)}};
}

std::variant<clarabel::Solution, clarabel::SolverError, clarabel::Panic> solve(
    const Program& program, const DefaultSettings& settings = quiet()) {
    auto data = clarabel::ProblemData::copy_in(program.P, program.q, program.A, program.b,
                                               program.cones);
    if (auto* panic = std::get_if<clarabel::Panic>(&data)) {
        return *panic;
    }
    return std::get<clarabel::ProblemData>(data).solve(settings);
}

std::string outcome_text(const std::variant<clarabel::Solution, clarabel::SolverError,
                                            clarabel::Panic>& outcome) {
    if (auto* solution = std::get_if<clarabel::Solution>(&outcome)) {
        return std::string(clarabel::status_name(solution->status));
    }
    if (auto* error = std::get_if<clarabel::SolverError>(&outcome)) {
        return "SolverError: " + error->display;
    }
    return "Panic: " + std::get<clarabel::Panic>(outcome).message;
}

TEST(BridgeDefaults, MatchTheSettingsTable) {
    const DefaultSettings s = DefaultSettings::crate_defaults();
    EXPECT_TRUE(s.verbose);
    EXPECT_EQ(s.max_iter, 200u);
    EXPECT_EQ(s.time_limit, std::numeric_limits<double>::infinity());
    EXPECT_EQ(s.max_step_fraction, 0.99);
    for (double tol : {s.tol_gap_abs, s.tol_gap_rel, s.tol_feas, s.tol_infeas_abs,
                       s.tol_infeas_rel}) {
        EXPECT_EQ(tol, 1e-8);
    }
    EXPECT_EQ(s.tol_ktratio, 1e-6);
    EXPECT_EQ(s.reduced_tol_gap_abs, 5e-5);
    EXPECT_EQ(s.reduced_tol_gap_rel, 5e-5);
    EXPECT_EQ(s.reduced_tol_feas, 1e-4);
    EXPECT_EQ(s.reduced_tol_infeas_abs, 5e-12);
    EXPECT_EQ(s.reduced_tol_infeas_rel, 5e-5);
    EXPECT_EQ(s.reduced_tol_ktratio, 1e-4);
    EXPECT_TRUE(s.equilibrate_enable);
    EXPECT_EQ(s.equilibrate_max_iter, 10u);
    EXPECT_EQ(s.equilibrate_min_scaling, 1e-4);
    EXPECT_EQ(s.equilibrate_max_scaling, 1e4);
    EXPECT_EQ(s.linesearch_backtrack_step, 0.8);
    EXPECT_EQ(s.min_switch_step_length, 0.1);
    EXPECT_EQ(s.min_terminate_step_length, 1e-4);
    EXPECT_EQ(s.max_threads, 0u);
    EXPECT_TRUE(s.direct_kkt_solver);
    EXPECT_EQ(s.direct_solve_method, "auto");
    EXPECT_TRUE(s.static_regularization_enable);
    EXPECT_EQ(s.static_regularization_constant, 1e-8);
    EXPECT_EQ(s.static_regularization_proportional, 4.930380657631324e-32);
    EXPECT_EQ(s.static_regularization_proportional, std::ldexp(1.0, -104));
    EXPECT_TRUE(s.dynamic_regularization_enable);
    EXPECT_EQ(s.dynamic_regularization_eps, 1e-13);
    EXPECT_EQ(s.dynamic_regularization_delta, 2e-7);
    EXPECT_TRUE(s.iterative_refinement_enable);
    EXPECT_EQ(s.iterative_refinement_reltol, 1e-13);
    EXPECT_EQ(s.iterative_refinement_abstol, 1e-12);
    EXPECT_EQ(s.iterative_refinement_max_iter, 10u);
    EXPECT_EQ(s.iterative_refinement_stop_ratio, 5.0);
    EXPECT_TRUE(s.presolve_enable);
    EXPECT_FALSE(s.input_sparse_dropzeros);
}

TEST(BridgeSolve, SolvesSmallProgramsSilently) {
    struct Case {
        const char* name;
        Program program;
        std::vector<double> x;
    };
    const std::vector<Case> cases = {
        {"lp", bounded_lp(), {1.0, 2.0}},
        {"socp", distance_socp(), {0.0, 1.0, 3.0 * std::sqrt(2.0)}},
        {"qp", capped_qp(), {0.5, 0.5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const auto outcome = solve(c.program);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        ASSERT_EQ(outcome_text(outcome), "Solved");
        const auto& x = std::get<clarabel::Solution>(outcome).x;
        ASSERT_EQ(x.size(), c.x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            EXPECT_NEAR(x[i], c.x[i], 1e-6) << "x[" << i << "]";
        }
    }
}

TEST(BridgeSolve, ReportsTheCrateStatus) {
    Program infeasible = bounded_lp();  // x0 >= 1 and x0 <= 0
    infeasible.A = CscMatrix::new_(2, 2, {0, 2, 2}, {0, 1}, {-1.0, 1.0});
    infeasible.b = {-1.0, 0.0};
    Program unbounded = bounded_lp();  // min x0 + x1 with x0 <= 1, x1 <= 2
    unbounded.A.nzval = {1.0, 1.0};
    unbounded.b = {1.0, 2.0};
    DefaultSettings one_iteration = quiet();
    one_iteration.max_iter = 1;

    EXPECT_EQ(outcome_text(solve(infeasible)), "PrimalInfeasible");
    EXPECT_EQ(outcome_text(solve(unbounded)), "DualInfeasible");
    EXPECT_EQ(outcome_text(solve(distance_socp(), one_iteration)), "MaxIterations");
}

TEST(BridgeSolve, SolverErrorsCarryTheDisplayText) {
    struct Case {
        const char* name;
        Program program;
        std::string method;
        std::string expected;
    };
    const std::string bad_method =
        "SolverError: Bad settings: Bad value for field \"direct_solve_method\"";
    const std::string bad_data = "SolverError: Bad input data: ";
    Program short_b = bounded_lp();
    short_b.b.pop_back();
    Program long_q = bounded_lp();
    long_q.q.push_back(0.0);
    Program wide_p = bounded_lp();
    wide_p.P = CscMatrix::spalloc(3, 2, 0);
    Program small_cone = bounded_lp();
    small_cone.cones = {clarabel::NonnegativeConeT(1)};
    const std::vector<Case> cases = {
        {"b shorter than A", short_b, "auto", bad_data + "A and b incompatible dimensions"},
        {"q longer than A", long_q, "auto", bad_data + "A and q incompatible dimensions"},
        {"P not square", wide_p, "auto", bad_data + "P not square"},
        {"cones too small", small_cone, "auto",
         bad_data + "Constraint dimensions inconsistent with size of cones"},
        {"qdldl method", bounded_lp(), "qdldl", "Solved"},
        {"unknown method", bounded_lp(), "nonsense", bad_method},
        {"method with a NUL", bounded_lp(), std::string("auto\0", 5), bad_method},
        {"method longer than the record", bounded_lp(), "auto" + std::string(100, ' '),
         bad_method},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DefaultSettings settings = quiet();
        settings.direct_solve_method = c.method;
        EXPECT_EQ(outcome_text(solve(c.program, settings)), c.expected);
    }
}

TEST(BridgeCopyIn, RefusesMalformedDataAsPanic) {
    struct Case {
        const char* name;
        Program program;
        std::string fragment;
    };
    auto with_a = [](std::vector<std::size_t> colptr, std::vector<std::size_t> rowval,
                     std::vector<double> nzval) {
        Program p = bounded_lp();
        p.A = CscMatrix::new_(2, 2, std::move(colptr), std::move(rowval), std::move(nzval));
        return p;
    };
    auto with_cones = [](std::vector<SupportedConeT> cones) {
        Program p = bounded_lp();
        p.cones = std::move(cones);
        return p;
    };
    const std::size_t huge = std::numeric_limits<std::size_t>::max();
    const std::vector<Case> cases = {
        {"colptr too short", with_a({0, 2}, {0, 1}, {1, 1}), "A: colptr has 2 entries"},
        {"colptr not from 0", with_a({1, 1, 2}, {0, 1}, {1, 1}), "A: colptr does not start at 0"},
        {"colptr decreasing", with_a({0, 2, 1}, {0, 1}, {1, 1}), "A: colptr decreases"},
        {"colptr end", with_a({0, 1, 1}, {0, 1}, {1, 1}), "A: colptr ends at 1"},
        {"row out of range", with_a({0, 1, 2}, {0, 2}, {1, 1}), "A: column 1 has a row index"},
        {"rows repeated", with_a({0, 2, 2}, {1, 1}, {1, 1}), "A: column 0 has row indices out"},
        {"rows unordered", with_a({0, 2, 2}, {1, 0}, {1, 1}), "A: column 0 has row indices out"},
        {"values missing", with_a({0, 1, 2}, {0, 1}, {1}), "A: 2 row indices but 1 values"},
        {"unknown cone kind", with_cones({{static_cast<clarabel::ConeKind>(7), 2}}),
         "cone 0 has unknown kind 7"},
        {"cone sizes overflow",
         with_cones({clarabel::ZeroConeT(huge), clarabel::NonnegativeConeT(3)}),
         "cone dimensions add up beyond the address range"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = outcome_text(solve(c.program));
        EXPECT_EQ(text.rfind("Panic: " + c.fragment, 0), 0u) << text;
    }
    Program bad_p = bounded_lp();
    bad_p.P = CscMatrix::new_(2, 2, {0, 1, 1}, {5}, {1.0});
    EXPECT_EQ(outcome_text(solve(bad_p)).rfind("Panic: P: column 0", 0), 0u);
}

TEST(BridgeCopyIn, RefusesNullArraysWithALength) {
    const Program p = bounded_lp();
    const TarvoBridgeCsc P{2, 2, p.P.colptr.data(), 3, nullptr, 0, nullptr, 0};
    const TarvoBridgeCsc A{2, 2, nullptr, 3, p.A.rowval.data(), 2, p.A.nzval.data(), 2};
    const TarvoBridgeCone cone{TARVO_BRIDGE_NONNEGATIVE_CONE, 2};
    struct Case {
        const char* name;
        const TarvoBridgeCsc* A;
        const double* q;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"null q", &P, nullptr, "q: null pointer with length 2"},
        {"null colptr", &A, p.q.data(), "A: null pointer with length 3"},
        {"null matrix", nullptr, p.q.data(), "A: null matrix"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int sentinel = 0;  // the slot must be cleared, not left as it was
        auto* handle = reinterpret_cast<TarvoBridgeProblem*>(&sentinel);
        char* message = nullptr;
        const std::int32_t code = tarvo_bridge_problem_new(&P, c.q, 2, c.A, p.b.data(), 2, &cone,
                                                           1, &handle, &message);
        EXPECT_EQ(code, TARVO_BRIDGE_PANIC);
        EXPECT_EQ(handle, nullptr);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(std::string(message), c.expected);
        tarvo_bridge_message_free(message);
    }
}

TEST(BridgePanics, AreCaughtSilentlyWithTheirText) {
    for (int round = 0; round < 2; ++round) {  // the second panic must not see the first's text
        char* message = nullptr;
        testing::internal::CaptureStderr();
        const std::int32_t code = tarvo_bridge_panic_for_test(&message);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(code, TARVO_BRIDGE_PANIC);
        ASSERT_NE(message, nullptr);
        const std::string text(message);
        tarvo_bridge_message_free(message);
        EXPECT_EQ(text.rfind("deliberate panic for a test (at src/lib.rs:", 0), 0u) << text;
    }
    EXPECT_EQ(tarvo_bridge_panic_for_test(nullptr), TARVO_BRIDGE_PANIC);
    EXPECT_EQ(outcome_text(solve(bounded_lp())), "Solved");
}

TEST(BridgeProblemData, MovesOwnershipOfTheHandle) {
    const Program p = bounded_lp();
    auto copied = clarabel::ProblemData::copy_in(p.P, p.q, p.A, p.b, p.cones);
    auto first = std::get<clarabel::ProblemData>(std::move(copied));
    clarabel::ProblemData second = std::move(first);
    EXPECT_EQ(outcome_text(first.solve(quiet())), "Panic: solve on a moved-from ProblemData");
    EXPECT_EQ(outcome_text(second.solve(quiet())), "Solved");
    EXPECT_EQ(outcome_text(second.solve(quiet())), "Solved");  // the data survives a solve
    first = std::move(second);
    EXPECT_EQ(outcome_text(first.solve(quiet())), "Solved");
}

}  // namespace
