// plan_batch: many landings on a pool of threads, each entry's trials one after another on
// its thread; an entry that fails alone (a bad portable configuration, an internal fault)
// becomes that entry's exception object and never costs another entry its result.
#include <algorithm>
#include <atomic>
#include <exception>
#include <optional>
#include <vector>

#include "background_work.hpp"
#include "engine_plan.hpp"
#include "planned_landing.hpp"
#include "portable_config.hpp"
#include "tarvo_core/thread_pool.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::config::Config;

// One entry to plan: its index in the input, its configuration, and what planning left.
struct BatchEntry {
    Py_ssize_t index;
    Config config;
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

// The entry's result: its landing's dict, or the exception its planning or the conversion
// of its landing raised. Null only as exception_as_result.
PyObject* entry_result(ModuleState& state, const BatchEntry& entry) noexcept
{
    try {
        if (entry.fault) {
            std::rethrow_exception(entry.fault);
        }
        if (PyObject* landing = landing_to_python(state, entry.landing)) {
            return landing;
        }
    } catch (...) {
        raise_from_cpp_exception(state);
    }
    return exception_as_result();
}

// Reads every portable configuration; a bad one's exception is stored as its result at once.
// False with an exception set when the list of results cannot be filled.
bool read_entries(PyObject* portables, PyObject* results, std::vector<BatchEntry>& entries)
{
    const Py_ssize_t count = PyList_Size(portables);
    for (Py_ssize_t index = 0; index < count; ++index) {
        Config config;
        if (config_from_portable(PyList_GetItem(portables, index), config)) {
            entries.push_back({index, config, {}, nullptr});
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

// Plans the entries on `threads` threads (this one and a pool of the others), posting the
// position of each finished entry. Entries not started once `cancel` is set are skipped.
void plan_entries(std::vector<BatchEntry>& entries, const PlanSettings& settings,
                  std::size_t threads, std::atomic<bool>& cancel, Mailbox<std::size_t>& mailbox)
{
    const auto plan_entry = [&](std::size_t position) {
        if (cancel.load(std::memory_order_relaxed)) {
            return;
        }
        BatchEntry& entry = entries[position];
        try {
            tarvo_core::plan::Options options = plan_options(settings);
            options.cancel = &cancel;
            entry.landing = plan_and_time(entry.config, std::move(options));
        } catch (...) {
            entry.fault = std::current_exception();
        }
        mailbox.post(position);
    };
    if (threads <= 1) {
        for (std::size_t position = 0; position < entries.size(); ++position) {
            plan_entry(position);
        }
        return;
    }
    tarvo_core::ThreadPool pool(threads - 1);
    pool.parallel_for(entries.size(), plan_entry);
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

PyObject* plan_batch(ModuleState& state, PyObject* portables, const PlanSettings& settings,
                     PyObject* on_landing)
{
    const OwnedRef items(PySequence_List(portables));
    const OwnedRef results(items ? PyList_New(PyList_Size(items.get())) : nullptr);
    std::vector<BatchEntry> entries;
    if (!results || !read_entries(items.get(), results.get(), entries)) {
        return nullptr;
    }
    if (entries.empty()) {
        return Py_NewRef(results.get());
    }
    const std::size_t threads = std::min(settings.workers, entries.size());
    std::atomic<bool> cancel{false};
    Mailbox<std::size_t> mailbox;
    const auto work = [&] { plan_entries(entries, settings, threads, cancel, mailbox); };
    const auto deliver = [&](std::size_t position) {
        return deliver_entry(state, entries[position], results.get(), on_landing);
    };
    if (!run_while_waiting<std::size_t>(mailbox, cancel, work, deliver)) {
        return nullptr;
    }
    return Py_NewRef(results.get());
}

}  // namespace tarvo_py
