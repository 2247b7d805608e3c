// The per-node arrays of a trajectory, each under the name that PyTrajectory's property and
// the engine's landing dict give it, in the order PyTrajectory declares them.
#pragma once

#include <tuple>

#include "tarvo_core/config_fields.hpp"
#include "tarvo_core/solve.hpp"

namespace tarvo_py {

using tarvo_core::config::Field;
using tarvo_core::solve::Trajectory;

inline constexpr std::tuple node_arrays{
    Field{"positions", &Trajectory::positions},
    Field{"velocities", &Trajectory::velocities},
    Field{"u_values", &Trajectory::u_values},
    Field{"thrusts", &Trajectory::thrusts},
    Field{"normalized_thrusts", &Trajectory::normalized_thrusts},
    Field{"z_values", &Trajectory::z_values},
    Field{"s_values", &Trajectory::s_values},
    Field{"time_points", &Trajectory::time_points},
};

}  // namespace tarvo_py
