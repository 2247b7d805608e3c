// High accuracy. At the solver's default tolerances the landing program stops with a duality
// gap of 1e-8 and scaled residuals of 1e-11, yet up to 1e-3 below the optimal final log-mass
// (n = 100, 80 to 100 s) and 6e-3 below it at n = 4000. The cause is scaling: the cost is the
// final log-mass (about 7), the constraint data are positions in metres (thousands), and the
// solver measures its dual residual relative to those. The dual residual it accepts (4e-8 in
// absolute terms) is worth 1e-3 in log-mass over the hundreds of metres by which near-optimal
// trajectories differ: the landing problem is flat, very different thrust profiles burn
// almost the same fuel. Tightening the tolerances alone helps slowly (1e-10: still 1e-3 off;
// 1e-12: 400+ iterations and 2e-5 off at n = 4000). The relaxation sigma >= |u| is not the
// cause: its gap costs about 1e-7 in log-mass.
//
// So high accuracy weights the cost by the scale of the positions, which changes no optimum
// but puts the cost on the scale of the data, and then asks for tolerances of 1e-10. On the
// default vehicle this lands within 1e-8 of the optimum in 15 to 25 iterations, fewer than
// the default settings need.
#include "accuracy.hpp"

#include <cmath>

namespace tarvo_core::plan {
namespace {

constexpr double kHighTolerance = 1e-10;
constexpr double kHighReducedTolerance = 1e-8;  // AlmostSolved still means the default 1e-8
constexpr std::uint32_t kHighIterationCap = 400;

double largest_coordinate(const config::Vec3& v) {
    return std::fmax(std::fabs(v[0]), std::fmax(std::fabs(v[1]), std::fabs(v[2])));
}

}  // namespace

solve::SolverSettings accuracy_settings(Accuracy accuracy) {
    solve::SolverSettings settings;
    if (accuracy == Accuracy::high) {
        settings.tol_gap_abs = kHighTolerance;
        settings.tol_gap_rel = kHighTolerance;
        settings.tol_feas = kHighTolerance;
        settings.reduced_tol_gap_abs = kHighReducedTolerance;
        settings.reduced_tol_gap_rel = kHighReducedTolerance;
        settings.reduced_tol_feas = kHighReducedTolerance;
        settings.max_iter = kHighIterationCap;
    }
    return settings;
}

double final_mass_weight(Accuracy accuracy, const config::Spacecraft& spacecraft) {
    if (accuracy != Accuracy::high) {
        return 1.0;
    }
    const double scale = std::fmax(largest_coordinate(spacecraft.initial_position),
                                   largest_coordinate(spacecraft.target_position));
    return std::isfinite(scale) ? std::fmax(scale, 1.0) : 1.0;
}

}  // namespace tarvo_core::plan
