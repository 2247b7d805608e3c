// Small cone programs with known solutions, and a solve that reports its outcome as text.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "clarabel_bridge/clarabel.hpp"

namespace bridge_test {

using clarabel_bridge::CscMatrix;
using clarabel_bridge::Settings;
using clarabel_bridge::SupportedConeT;
using Outcome =
    std::variant<clarabel_bridge::Solution, clarabel_bridge::SolverError, clarabel_bridge::Panic>;

struct Program {
    CscMatrix P;
    std::vector<double> q;
    CscMatrix A;
    std::vector<double> b;
    std::vector<SupportedConeT> cones;
};

// min x0 + x1  s.t.  x0 >= 1, x1 >= 2   (rows -x + s = -lower, s >= 0)
inline Program bounded_lp() {
    return {CscMatrix::spalloc(2, 2, 0), {1.0, 1.0},
            CscMatrix::new_(2, 2, {0, 1, 2}, {0, 1}, {-1.0, -1.0}), {-1.0, -2.0},
            {clarabel_bridge::NonnegativeConeT(2)}};
}

// min t  s.t.  x0 + x1 = 1, ||(x0 - 3, x1 - 4)|| <= t: the distance from (3, 4) to the line.
inline Program distance_socp() {
    return {CscMatrix::spalloc(3, 3, 0), {0.0, 0.0, 1.0},
            CscMatrix::new_(4, 3, {0, 2, 4, 5}, {0, 2, 0, 3, 1}, {1.0, -1.0, 1.0, -1.0, -1.0}),
            {1.0, 0.0, -3.0, -4.0},
            {clarabel_bridge::ZeroConeT(1), clarabel_bridge::SecondOrderConeT(3)}};
}

// min 0.5 |x|^2 - x0 - x1  s.t.  x <= 0.5
inline Program capped_qp() {
    return {CscMatrix::new_(2, 2, {0, 1, 2}, {0, 1}, {1.0, 1.0}), {-1.0, -1.0},
            CscMatrix::new_(2, 2, {0, 1, 2}, {0, 1}, {1.0, 1.0}), {0.5, 0.5},
            {clarabel_bridge::NonnegativeConeT(2)}};
}

inline Outcome solve(const Program& program, const Settings& settings = {}) {
    auto data = clarabel_bridge::ProblemData::copy_in(program.P, program.q, program.A, program.b,
                                                      program.cones);
    if (auto* panic = std::get_if<clarabel_bridge::Panic>(&data)) {
        return *panic;
    }
    return std::get<clarabel_bridge::ProblemData>(data).solve(settings);
}

// The status name of a solution, "SolverError: <display>" or "Panic: <message>".
inline std::string outcome_text(const Outcome& outcome) {
    if (auto* solution = std::get_if<clarabel_bridge::Solution>(&outcome)) {
        return clarabel_bridge::status_name(solution->status);
    }
    if (auto* error = std::get_if<clarabel_bridge::SolverError>(&outcome)) {
        return "SolverError: " + error->display;
    }
    return "Panic: " + std::get<clarabel_bridge::Panic>(outcome).message;
}

}  // namespace bridge_test
