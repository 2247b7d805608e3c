// plan_batch: many landings on a pool of threads, each entry's trials one after another on
// its thread; an entry that fails alone (one that is no Config, an internal fault) becomes
// that entry's exception object and never costs another entry its result.
#include <algorithm>
#include <atomic>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "background_work.hpp"
#include "engine_plan.hpp"
#include "planned_landing.hpp"
#include "tarvo_core/thread_pool.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::config::Config;

// One entry to plan: its index in the input, and its landing (the configuration, then what
// planning left).
struct BatchEntry {
    Py_ssize_t index;
    PlannedLanding landing;
    std::exception_ptr fault;  // an internal fault of this entry's planning
};

// The exception being raised, as the result of the entry it stopped. Null only when no
// exception is set, then with SystemError set.
PyObject* exception_as_result()
{
    PyObject* error = take_raised_exception();
    if (error == nullptr) {
        PyErr_SetString(PyExc_SystemError, "an entry failed without an exception");
    }
    return error;
}

// The entry's result: its landing, or the exception its planning or the making of its
// landing raised. Null only as exception_as_result.
PyObject* entry_result(ModuleState& state, const BatchEntry& entry) noexcept
{
    try {
        if (entry.fault) {
            std::rethrow_exception(entry.fault);
        }
        if (PyObject* landing = landing_object(state, entry.landing)) {
            return landing;
        }
    } catch (...) {
        raise_from_cpp_exception(state);
    }
    return exception_as_result();
}

// Reads every configuration; an entry that is no Config has its exception stored as its
// result at once. False with an exception set when the list of results cannot be filled.
bool read_entries(const ModuleState& state, PyObject* configs, PyObject* results,
                  std::vector<BatchEntry>& entries)
{
    const Py_ssize_t count = PyList_Size(configs);
    for (Py_ssize_t index = 0; index < count; ++index) {
        Config config;
        const std::string name = "configs[" + std::to_string(index) + "]";
        if (read_config(state, PyList_GetItem(configs, index), name, config)) {
            entries.push_back({index, PlannedLanding(config), nullptr});
            continue;
        }
        PyObject* error = exception_as_result();
        // PyList_SetItem takes the reference, also when it fails.
        if (error == nullptr || PyList_SetItem(results, index, error) < 0) {
            return false;
        }
    }
    return true;
}

// What planning a batch uses and leaves: the entries, planned in place.
struct BatchPlan {
    std::vector<BatchEntry> entries;
    PlanSettings settings;
    std::size_t threads = 1;
};

// Plans the entries on `threads` threads (this one and a pool of the others), posting the
// position of each finished entry. Entries not started once `cancel` is set are skipped.
void plan_entries(BatchPlan& batch, std::atomic<bool>& cancel, Mailbox<std::size_t>& mailbox)
{
    const auto plan_entry = [&](std::size_t position) {
        if (cancel.load(std::memory_order_relaxed)) {
            return;
        }
        BatchEntry& entry = batch.entries[position];
        try {
            tarvo_core::plan::Options options = plan_options(batch.settings);
            options.cancel = &cancel;
            plan_and_time(entry.landing, std::move(options));
        } catch (...) {
            entry.fault = std::current_exception();
        }
        mailbox.post(position);
    };
    if (batch.threads <= 1) {
        for (std::size_t position = 0; position < batch.entries.size(); ++position) {
            plan_entry(position);
        }
        return;
    }
    tarvo_core::ThreadPool pool(batch.threads - 1);
    pool.parallel_for(batch.entries.size(), plan_entry);
}

// Stores the finished entry's result, frees what planning left and calls on_landing with its
// index. False with an exception set.
bool deliver_entry(ModuleState& state, BatchEntry& entry, PyObject* results,
                   PyObject* on_landing)
{
    PyObject* result = entry_result(state, entry);
    if (result == nullptr || PyList_SetItem(results, entry.index, result) < 0) {
        return false;
    }
    entry.landing = PlannedLanding{};
    if (on_landing == nullptr) {
        return true;
    }
    const OwnedRef returned(PyObject_CallFunction(on_landing, "n", entry.index));
    return static_cast<bool>(returned);
}

}  // namespace

PyObject* plan_batch(ModuleState& state, PyObject* configs, const PlanSettings& settings,
                     PyObject* on_landing)
{
    const OwnedRef items(PySequence_List(configs));
    const OwnedRef results(items ? PyList_New(PyList_Size(items.get())) : nullptr);
    const auto batch = std::make_shared<BatchPlan>();
    if (!results || !read_entries(state, items.get(), results.get(), batch->entries)) {
        return nullptr;
    }
    if (batch->entries.empty()) {
        return Py_NewRef(results.get());
    }
    batch->settings = settings;
    batch->threads = std::min(settings.workers, batch->entries.size());
    const auto channel = std::make_shared<WorkChannel<std::size_t>>();
    const auto work = [batch, channel] { plan_entries(*batch, channel->cancel, channel->mailbox); };
    const auto deliver = [&](std::size_t position) {
        return deliver_entry(state, batch->entries[position], results.get(), on_landing);
    };
    if (!run_while_waiting<std::size_t>(channel, work, deliver)) {
        return nullptr;
    }
    return Py_NewRef(results.get());
}

}  // namespace tarvo_py
