// The program of one plan and its solve: the fixed program plus what the options ask for.
#include "landing_program.hpp"

#include <cmath>
#include <utility>

#include "accuracy.hpp"
#include "solve_program.hpp"
#include "thrust_pointing.hpp"

namespace tarvo_core::plan {

Result<LandingProgram> landing_program(const config::Config& config, const Options& options) {
    Result<std::optional<assemble::ThrustPointing>> pointing =
        thrust_pointing(config.environment);
    if (!pointing) {
        return std::move(pointing).error();
    }
    LandingProgram program;
    program.formulation.pointing = pointing.value();
    if (options.method == Method::continuous) {
        program.formulation.hold_between_nodes = true;
        program.formulation.speed_limit = !std::isinf(config.spacecraft.max_velocity);
        program.formulation.lower_thrust = config.spacecraft.min_thrust_pct != 0.0;
    }
    program.formulation.mass_weight = final_mass_weight(options.accuracy, config.spacecraft);
    program.settings = accuracy_settings(options.accuracy);
    program.settings.cancel = options.cancel;
    return program;
}

Result<solve::Trajectory> solve_landing(const config::Config& config, double tof,
                                        const LandingProgram& program,
                                        std::uint32_t& iterations) {
    Result<solve::Trajectory> trajectory = solve::solve_formulated(
        config, tof, program.formulation, program.settings, &iterations);
    if (trajectory && !program.formulation.minimises_distance()) {
        trajectory.value().solver.gap_abs /= program.formulation.mass_weight;
    }
    return trajectory;
}

}  // namespace tarvo_core::plan
