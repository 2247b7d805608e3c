// The two calls of the engine: one landing, and a batch of landings on a pool of threads.
// Both run the numeric work without the interpreter lock, on threads of their own, while the
// calling thread waits and runs the callbacks; both hold the lock when they are entered.
#pragma once

#include "engine_settings.hpp"
#include "support.hpp"
#include "tarvo_core/config.hpp"

namespace tarvo_py {

// Plans `config` with settings.workers threads for the search's trials; on_trial (null for
// none) receives each trial, in order, as trial_object makes it (planned_landing.hpp).
// Returns the landing as landing_object makes it, or null with the exception of the
// callback or of a signal handler, or the internal fault.
PyObject* plan_one(ModuleState& state, const tarvo_core::config::Config& config,
                   const PlanSettings& settings, PyObject* on_trial);

// Plans every entry of the iterable `configs` (tarvo.Config objects, read when the call
// starts), each one's trials one after another, settings.workers entries at once; on_landing
// (null for none) receives the index of each entry as it finishes. Returns the list of
// results in input order: a landing, or the exception that stopped that entry alone (an
// entry that is no Config, an internal fault). Null with the exception of the callback or
// of a signal handler, or when `configs` cannot be read.
PyObject* plan_batch(ModuleState& state, PyObject* configs, const PlanSettings& settings,
                     PyObject* on_landing);

}  // namespace tarvo_py
