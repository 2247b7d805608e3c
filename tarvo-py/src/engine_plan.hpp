// The two calls of the engine: one landing, and a batch of landings on a pool of threads.
// Both run the numeric work without the interpreter lock, on threads of their own, while the
// calling thread waits and runs the callbacks; both hold the lock when they are entered.
#pragma once

#include "engine_settings.hpp"
#include "support.hpp"
#include "tarvo_core/config.hpp"

namespace tarvo_py {

// Plans `config` with settings.workers threads for the search's trials; on_trial (null for
// none) receives each trial, in order, as the arguments trial_to_python makes of it
// (planned_landing.hpp). Returns the landing's dict (see planned_landing.hpp), or null with
// the exception of the callback or of a signal handler, or the internal fault.
PyObject* plan_one(ModuleState& state, const tarvo_core::config::Config& config,
                   const PlanSettings& settings, PyObject* on_trial);

// Plans every entry of the iterable `portables` (portable configurations), each one's
// trials one after another, settings.workers entries at once; on_landing (null for none)
// receives the index of each entry as it finishes. Returns the list of results in input
// order: a landing's dict, or the exception that stopped that entry alone (a bad portable
// configuration, an internal fault). Null with the exception of the callback or of a
// signal handler, or when `portables` cannot be read.
PyObject* plan_batch(ModuleState& state, PyObject* portables, const PlanSettings& settings,
                     PyObject* on_landing);

}  // namespace tarvo_py
