#include "engine_plan.hpp"

#include <atomic>
#include <memory>
#include <optional>

#include "background_work.hpp"
#include "planned_landing.hpp"
#include "tarvo_core/thread_pool.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::search::TrialReport;

// Calls on_trial with the trial; false with the callback's exception set.
bool report_trial(ModuleState& state, PyObject* on_trial, const TrialReport& trial)
{
    const OwnedRef argument(trial_object(state, trial));
    const OwnedRef result(
        argument ? PyObject_CallFunctionObjArgs(on_trial, argument.get(), nullptr) : nullptr);
    return static_cast<bool>(result);
}

// What planning one landing uses and leaves.
struct OnePlan {
    PlanSettings settings;
    PlannedLanding landing;
};

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
    const auto channel = std::make_shared<WorkChannel<TrialReport>>();
    const auto job = std::make_shared<OnePlan>(OnePlan{settings, PlannedLanding(config)});
    const bool observed = on_trial != nullptr;
    const auto work = [channel, job, observed] {
        std::optional<tarvo_core::ThreadPool> pool;
        const std::size_t helpers = helper_threads(job->landing.config, job->settings.workers);
        if (helpers > 0) {
            pool.emplace(helpers);  // ThreadPool(0) would mean one thread per core
        }
        tarvo_core::plan::Options options = plan_options(job->settings);
        options.cancel = &channel->cancel;
        if (pool) {
            options.parallel_for = [&pool](std::size_t count,
                                           const std::function<void(std::size_t)>& body) {
                pool->parallel_for(count, body);
            };
            options.width = pool->size() + 1;
        }
        if (observed) {
            options.observe = [&mailbox = channel->mailbox](const TrialReport& trial) {
                mailbox.post(trial);
            };
        }
        plan_and_time(job->landing, std::move(options));
    };
    const auto deliver = [&state, on_trial](const TrialReport& trial) {
        return report_trial(state, on_trial, trial);
    };
    if (!run_while_waiting<TrialReport>(channel, work, deliver)) {
        return nullptr;
    }
    return landing_object(state, job->landing);
}

}  // namespace tarvo_py
