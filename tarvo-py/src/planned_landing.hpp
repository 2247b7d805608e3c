// One landing planned by the engine, kept in C++ until the calling thread turns it into the
// plain Python value the package makes a Landing of.
#pragma once

#include <optional>
#include <vector>

#include "support.hpp"
#include "tarvo_core/plan.hpp"

namespace tarvo_py {

struct PlannedLanding {
    std::optional<tarvo_core::plan::Outcome> outcome;   // set once planned
    std::vector<tarvo_core::search::TrialReport> trials;  // each trial used, in order
    double seconds = 0.0;                                 // wall time of the planning
};

// Plans `config` with `options` (whose observer, if any, is called besides recording the
// trial) and times it. Called without the interpreter lock; touches no Python object.
PlannedLanding plan_and_time(const tarvo_core::config::Config& config,
                             tarvo_core::plan::Options options);

// The trial as the tuple (time_of_flight, status or failure text, final_mass, iterations,
// failure, solver_status), the last two as in the landing's dict. Null with an exception set.
PyObject* trial_to_python(const tarvo_core::search::TrialReport& trial);

// The landing as a dict of plain values, documented in the engine module (see
// engine_module.cpp). Null with an exception set; throws when NumPy is unavailable.
PyObject* landing_to_python(ModuleState& state, const PlannedLanding& landing);

}  // namespace tarvo_py
