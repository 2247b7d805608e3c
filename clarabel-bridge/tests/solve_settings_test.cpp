// Tests of what a solve takes and gives besides the data: the statuses, the settings record
// reaching the crate, the stop hook and the solver's final figures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "bridge_abi.h"
#include "test_programs.hpp"

namespace {

using namespace bridge_test;
using clarabel_bridge::SolverFigures;
using clarabel_bridge::SolverStatus;
using clarabel_bridge::Solution;

constexpr double inf = std::numeric_limits<double>::infinity();

Solution solution_of(Outcome outcome) { return std::get<Solution>(std::move(outcome)); }

// A stop hook that answers "stop" from its (stop_after + 1)-th call on, counting its calls.
Settings stopping_after(std::uint32_t stop_after, std::uint32_t& calls) {
    Settings settings;
    settings.should_stop = [stop_after, &calls] { return calls++ >= stop_after; };
    return settings;
}

// Settings that cap the iterations at `cap`.
Settings capped_at(std::uint32_t cap) {
    Settings settings;
    settings.max_iter = cap;
    return settings;
}

TEST(BridgeStatus, SolvesReportTheCratesStatus) {
    Program infeasible = bounded_lp();  // x0 >= 1 and x0 <= 0
    infeasible.A = CscMatrix::new_(2, 2, {0, 2, 2}, {0, 1}, {-1.0, 1.0});
    infeasible.b = {-1.0, 0.0};
    Program unbounded = bounded_lp();  // min x0 + x1 with x0 <= 1, x1 <= 2
    unbounded.A.nzval = {1.0, 1.0};
    unbounded.b = {1.0, 2.0};
    // A cap one or two iterations short of the end leaves the reduced-accuracy statuses.
    const struct {
        const char* name;
        Program program;
        Settings settings;
        SolverStatus status;
    } cases[] = {
        {"Solved", distance_socp(), {}, SolverStatus::Solved},
        {"AlmostSolved", distance_socp(), capped_at(3), SolverStatus::AlmostSolved},
        {"PrimalInfeasible", infeasible, {}, SolverStatus::PrimalInfeasible},
        {"AlmostPrimalInfeasible", infeasible, capped_at(5), SolverStatus::AlmostPrimalInfeasible},
        {"DualInfeasible", unbounded, {}, SolverStatus::DualInfeasible},
        {"AlmostDualInfeasible", unbounded, capped_at(4), SolverStatus::AlmostDualInfeasible},
        {"MaxIterations", distance_socp(), capped_at(1), SolverStatus::MaxIterations},
    };
    for (const auto& c : cases) {
        const Outcome outcome = solve(c.program, c.settings);
        EXPECT_EQ(outcome_text(outcome), c.name);
        ASSERT_TRUE(std::holds_alternative<Solution>(outcome)) << c.name;
        EXPECT_EQ(std::get<Solution>(outcome).status, c.status) << c.name;
    }
    EXPECT_EQ(clarabel_bridge::status_name(static_cast<SolverStatus>(12)), "");
}

TEST(BridgeSettings, IterationCapAndTolerancesReachTheCrate) {
    const SolverFigures base = solution_of(solve(distance_socp())).figures;
    ASSERT_GT(base.iterations, 3u);
    for (std::uint32_t cap : {1u, 2u, 3u}) {
        EXPECT_EQ(solution_of(solve(distance_socp(), capped_at(cap))).figures.iterations, cap);
    }
    Settings loose;
    loose.tol_gap_abs = loose.tol_gap_rel = loose.tol_feas = 1e-2;
    Settings tight;
    tight.tol_gap_abs = tight.tol_gap_rel = tight.tol_feas = 1e-14;
    tight.max_iter = 500;
    const Solution& loose_solution = solution_of(solve(distance_socp(), loose));
    const Solution& tight_solution = solution_of(solve(distance_socp(), tight));
    EXPECT_EQ(loose_solution.status, SolverStatus::Solved);
    EXPECT_LT(loose_solution.figures.iterations, base.iterations);
    EXPECT_GT(tight_solution.figures.iterations, base.iterations);
}

TEST(BridgeSettings, RefusesAToleranceThatIsNegativeOrNotFinite) {
    using Field = std::optional<double> Settings::*;
#define TOLERANCE_FIELD(name) {&Settings::name, #name},
    const std::pair<Field, std::string> fields[] = {CLARABEL_BRIDGE_TOLERANCES(TOLERANCE_FIELD)};
#undef TOLERANCE_FIELD
    const std::pair<double, std::string> values[] = {
        {-1e-9, "-0.000000001"}, {inf, "inf"}, {std::nan(""), "NaN"}};
    for (const auto& [field, name] : fields) {
        for (const auto& [value, text] : values) {
            Settings settings;
            settings.*field = value;
            EXPECT_EQ(outcome_text(solve(bounded_lp(), settings)),
                      "Panic: settings: " + name + " = " + text +
                          " is not a finite tolerance at or above 0");
        }
        Settings zero;  // the edge itself is a tolerance
        zero.*field = 0.0;
        zero.max_iter = 3;
        EXPECT_FALSE(std::holds_alternative<clarabel_bridge::Panic>(solve(bounded_lp(), zero)))
            << name;
    }
}

TEST(BridgeStopHook, StopsInTheIterationThatAsks) {
    const Solution base = solution_of(solve(distance_socp()));
    for (std::uint32_t stop_after : {0u, 1u, 3u}) {
        std::uint32_t calls = 0;
        const Solution stopped = solution_of(solve(distance_socp(), stopping_after(stop_after, calls)));
        EXPECT_EQ(stopped.status, SolverStatus::CallbackTerminated);
        EXPECT_EQ(stopped.figures.iterations, stop_after);
        EXPECT_EQ(calls, stop_after + 1);  // asked once per iteration, iteration 0 included
    }
    std::uint32_t calls = 0;  // a hook that never stops changes nothing
    const Solution& asked = solution_of(solve(distance_socp(), stopping_after(1000, calls)));
    EXPECT_EQ(asked.status, SolverStatus::Solved);
    EXPECT_EQ(calls, base.figures.iterations + 1);
    EXPECT_EQ(asked.x, base.x);
}

TEST(BridgeStopHook, AnExceptionEndsTheSolveAndIsRethrown) {
    const Program p = bounded_lp();
    auto copied = clarabel_bridge::ProblemData::copy_in(p.P, p.q, p.A, p.b, p.cones);
    const auto& data = std::get<clarabel_bridge::ProblemData>(copied);
    int calls = 0;
    Settings settings;
    settings.should_stop = [&calls]() -> bool {
        if (++calls == 2) throw std::runtime_error("hook failed");
        return false;
    };
    try {
        (void)data.solve(settings);
        FAIL() << "the hook's exception was swallowed";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "hook failed");
    }
    EXPECT_EQ(calls, 2);  // not asked again once it threw
    EXPECT_EQ(outcome_text(data.solve()), "Solved");
}

TEST(BridgeSolverFigures, FiguresMatchHowTheSolveEnded) {
    for (const Program& program : {bounded_lp(), distance_socp(), capped_qp()}) {
        const Solution& solved = solution_of(solve(program));
        ASSERT_EQ(solved.status, SolverStatus::Solved);
        EXPECT_GT(solved.figures.iterations, 0u);
        EXPECT_LT(solved.figures.iterations, 50u);
        EXPECT_GT(solved.figures.solve_time, 0.0);
        EXPECT_LE(std::fmin(std::fabs(solved.figures.gap_abs), solved.figures.gap_rel), 1e-8);
        EXPECT_LE(solved.figures.res_primal, 1e-8);
        EXPECT_LE(solved.figures.res_dual, 1e-8);
    }
    const SolverFigures early = solution_of(solve(distance_socp(), capped_at(1))).figures;
    EXPECT_GT(std::fmax(early.res_primal, early.res_dual), 1e-8);
}

TEST(BridgeSolverFigures, NullRecordsAreRefused) {
    const Program p = bounded_lp();
    TarvoBridgeProblem* handle = nullptr;
    const TarvoBridgeCsc P{2, 2, p.P.colptr.data(), 3, nullptr, 0, nullptr, 0};
    const TarvoBridgeCsc A{2, 2, p.A.colptr.data(), 3, p.A.rowval.data(), 2, p.A.nzval.data(), 2};
    const TarvoBridgeCone cone{TARVO_BRIDGE_NONNEGATIVE_CONE, 2};
    ASSERT_EQ(tarvo_bridge_problem_new(&P, p.q.data(), 2, &A, p.b.data(), 2, &cone, 1, &handle,
                                       nullptr),
              TARVO_BRIDGE_OK);
    const TarvoBridgeSettings settings{};
    TarvoBridgeSolveInfo info{};
    double x[2] = {};
    const struct {
        const TarvoBridgeSettings* settings;
        TarvoBridgeSolveInfo* info;
        const char* expected;
    } cases[] = {{nullptr, &info, "settings: null record"}, {&settings, nullptr, "info: null pointer"}};
    for (const auto& c : cases) {
        char* message = nullptr;
        EXPECT_EQ(tarvo_bridge_problem_solve(handle, c.settings, c.info, x, 2, &message),
                  TARVO_BRIDGE_PANIC);
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(std::string(message), c.expected);
        tarvo_bridge_message_free(message);
    }
    EXPECT_EQ(tarvo_bridge_problem_solve(handle, &settings, &info, x, 2, nullptr), TARVO_BRIDGE_OK);
    EXPECT_EQ(info.status, static_cast<std::uint32_t>(SolverStatus::Solved));
    tarvo_bridge_problem_free(handle);
}

}  // namespace
