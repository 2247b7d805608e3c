// One landing planned by the engine, kept in C++ until the calling thread makes it the
// package's Landing (tarvo.landing.landing), attribute by attribute from one table.
#pragma once

#include <optional>
#include <vector>

#include "support.hpp"
#include "tarvo_core/plan.hpp"

namespace tarvo_py {

struct PlannedLanding {
    explicit PlannedLanding(const tarvo_core::config::Config& planned = {}) : config(planned) {}

    tarvo_core::config::Config config;                    // what is planned
    tarvo_core::plan::Method method = tarvo_core::plan::Method::nodes;
    std::optional<tarvo_core::plan::Outcome> outcome;     // set once planned
    std::vector<tarvo_core::search::TrialReport> trials;  // each trial used, in order
    double seconds = 0.0;                                 // wall time of the planning
};

// Plans landing.config with `options` (whose observer, if any, is called besides recording
// the trial), timing it. Called without the interpreter lock; touches no Python object.
void plan_and_time(PlannedLanding& landing, tarvo_core::plan::Options options);

// The trial as the package's Trial(time_of_flight, status, final_mass); a failed trial has
// its short status (see landing_object) and a final mass of -inf. Null with an exception set;
// throws tarvo_core::InternalFault when the package's classes cannot be imported.
PyObject* trial_object(ModuleState& state, const tarvo_core::search::TrialReport& trial);

// The landing as the package's Landing, made without running its constructor, with
// read-only arrays and no verification (None: the package verifies it before anyone sees
// it). A failure's status is short: the solver's status name when the solver stopped short
// of a landing, else the failure kind's name ("InvalidInput", "Infeasible", ...); its message
// is the failure's text. Null with an exception set; throws tarvo_core::InternalFault when
// NumPy or the package's classes are unavailable.
PyObject* landing_object(ModuleState& state, const PlannedLanding& landing);

}  // namespace tarvo_py
