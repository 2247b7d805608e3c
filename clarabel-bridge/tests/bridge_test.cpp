// Tests of the Clarabel bridge's data path: solves of small programs, construction errors and
// malformed data. The guard that catches panics is tested on the Rust side (guard_test.rs).
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
#include "test_programs.hpp"

namespace {

using namespace bridge_test;

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
        const auto& x = std::get<clarabel_bridge::Solution>(outcome).x;
        ASSERT_EQ(x.size(), c.x.size());
        for (std::size_t i = 0; i < x.size(); ++i) {
            EXPECT_NEAR(x[i], c.x[i], 1e-6) << "x[" << i << "]";
        }
    }
}

TEST(BridgeSolve, SolverErrorsCarryTheDisplayText) {
    struct Case {
        const char* name;
        Program program;
        std::string expected;
    };
    const std::string bad_data = "SolverError: Bad input data: ";
    Program short_b = bounded_lp();
    short_b.b.pop_back();
    Program long_q = bounded_lp();
    long_q.q.push_back(0.0);
    Program wide_p = bounded_lp();
    wide_p.P = CscMatrix::spalloc(3, 2, 0);
    Program small_cone = bounded_lp();
    small_cone.cones = {clarabel_bridge::NonnegativeConeT(1)};
    const std::vector<Case> cases = {
        {"b shorter than A", short_b, bad_data + "A and b incompatible dimensions"},
        {"q longer than A", long_q, bad_data + "A and q incompatible dimensions"},
        {"P not square", wide_p, bad_data + "P not square"},
        {"cones too small", small_cone,
         bad_data + "Constraint dimensions inconsistent with size of cones"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(outcome_text(solve(c.program)), c.expected);
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
        {"unknown cone kind", with_cones({{static_cast<clarabel_bridge::ConeKind>(7), 2}}),
         "cone 0 has unknown kind 7"},
        {"cone sizes overflow",
         with_cones({clarabel_bridge::ZeroConeT(huge), clarabel_bridge::NonnegativeConeT(3)}),
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

TEST(BridgeProblemData, MovesOwnershipOfTheHandle) {
    const Program p = bounded_lp();
    auto copied = clarabel_bridge::ProblemData::copy_in(p.P, p.q, p.A, p.b, p.cones);
    auto first = std::get<clarabel_bridge::ProblemData>(std::move(copied));
    clarabel_bridge::ProblemData second = std::move(first);
    EXPECT_EQ(outcome_text(first.solve()), "Panic: solve on a moved-from ProblemData");
    EXPECT_EQ(outcome_text(second.solve()), "Solved");
    EXPECT_EQ(outcome_text(second.solve()), "Solved");  // the data survives a solve
    first = std::move(second);
    EXPECT_EQ(outcome_text(first.solve()), "Solved");
}

}  // namespace
