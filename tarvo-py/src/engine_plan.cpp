#include "engine_plan.hpp"

#include <atomic>
#include <optional>

#include "background_work.hpp"
#include "planned_landing.hpp"
#include "tarvo_core/thread_pool.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::search::TrialReport;

// Calls on_trial with the trial; false with the callback's exception set.
bool report_trial(PyObject* on_trial, const TrialReport& trial)
{
    const OwnedRef arguments(trial_to_python(trial));
    const OwnedRef result(arguments ? PyObject_CallObject(on_trial, arguments.get()) : nullptr);
    return static_cast<bool>(result);
}

// Threads besides the planning thread for the trials: a search runs them on `workers`
// threads, a fixed time of flight has one trial and needs none.
std::size_t helper_threads(const tarvo_core::config::Config& config, std::size_t workers)
{
    return config.solver.time_of_flight ? 0 : workers - 1;
}

}  // namespace

PyObject* plan_one(ModuleState& state, const tarvo_core::config::Config& config,
                   const PlanSettings& settings, PyObject* on_trial)
{
    std::atomic<bool> cancel{false};
    Mailbox<TrialReport> mailbox;
    PlannedLanding landing;
    const auto work = [&] {
        std::optional<tarvo_core::ThreadPool> pool;
        if (const std::size_t helpers = helper_threads(config, settings.workers)) {
            pool.emplace(helpers);  // ThreadPool(0) would mean one thread per core
        }
        tarvo_core::plan::Options options = plan_options(settings);
        options.cancel = &cancel;
        if (pool) {
            options.parallel_for = [&pool](std::size_t count,
                                           const std::function<void(std::size_t)>& body) {
                pool->parallel_for(count, body);
            };
            options.width = pool->size() + 1;
        }
        if (on_trial != nullptr) {
            options.observe = [&mailbox](const TrialReport& trial) { mailbox.post(trial); };
        }
        landing = plan_and_time(config, std::move(options));
    };
    const auto deliver = [on_trial](const TrialReport& trial) {
        return report_trial(on_trial, trial);
    };
    if (!run_while_waiting<TrialReport>(mailbox, cancel, work, deliver)) {
        return nullptr;
    }
    return landing_to_python(state, landing);
}

}  // namespace tarvo_py
