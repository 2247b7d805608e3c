#include "planned_landing.hpp"

#include <array>
#include <chrono>
#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "engine_settings.hpp"
#include "node_arrays.hpp"
#include "numpy_arrays.hpp"
#include "tarvo_core/fault.hpp"
#include "tarvo_state.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::FailureKind;
using tarvo_core::search::TrialReport;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// What the engine makes landings with, in ModuleState::landing_kit.
enum KitItem : std::size_t { landing_class, trial_class, figures_class, numpy_exp };

// Where each item of the kit comes from.
constexpr std::array<std::array<const char*, 2>, 4> kit_sources{{
    {"tarvo.landing.landing", "Landing"},
    {"tarvo.landing.landing", "Trial"},
    {"tarvo.landing.landing", "SolverFigures"},
    {"numpy", "exp"},
}};

// The kit, imported on first use: the package's classes, and NumPy's exp, the very function
// a Landing made by its constructor takes its masses from. Throws InternalFault.
const std::array<PyObject*, 4>& landing_kit(ModuleState& state)
{
    std::array<PyObject*, 4>& kit = state.landing_kit;
    for (std::size_t item = 0; kit[numpy_exp] == nullptr && item < kit.size(); ++item) {
        const auto [module_name, name] = kit_sources[item];
        const OwnedRef module(PyImport_ImportModule(module_name));
        OwnedRef loaded(module ? PyObject_GetAttrString(module.get(), name) : nullptr);
        if (!loaded || (item == landing_class && !PyType_Check(loaded.get()))) {
            throw tarvo_core::InternalFault(std::string("Failed to import ") + module_name +
                                            "." + name + " as a landing needs it: " +
                                            take_error_text());
        }
        Py_XDECREF(kit[item]);  // left by an import that failed part way
        kit[item] = loaded.release();
    }
    return kit;
}

PyObject* text(const std::string& value)
{
    return PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "replace");
}

// The failure kind as the package names it.
const char* failure_name(FailureKind kind)
{
    switch (kind) {
        case FailureKind::invalid_input: return "InvalidInput";
        case FailureKind::solver_status: return "SolverStatus";
        case FailureKind::infeasible: return "Infeasible";
        case FailureKind::cancelled: return "Cancelled";
        case FailureKind::solver_error: return "SolverError";
    }
    return "SolverError";
}

// The short status of a failure: the solver's status name when the solver stopped short of
// a landing, else the kind's name.
PyObject* short_status(FailureKind kind, const std::string& solver_status)
{
    if (kind == FailureKind::solver_status && !solver_status.empty()) {
        return text(solver_status);
    }
    return PyUnicode_FromString(failure_name(kind));
}

// What the attributes of a Landing are read from.
struct Source {
    ModuleState& state;
    const std::array<PyObject*, 4>& kit;
    const PlannedLanding& planned;
    const tarvo_core::plan::Outcome& outcome;
    const tarvo_core::solve::Trajectory* trajectory;  // null when the planning failed
    const tarvo_core::Failure* failure;               // null when it landed
};

using Reader = PyObject* (*)(const Source&);

struct LandingAttribute {
    const char* name;
    Reader read;
};

// A number of the trajectory (`member`), NaN without one.
template <auto Member>
PyObject* trajectory_number(const Source& source)
{
    return PyFloat_FromDouble(source.trajectory != nullptr ? source.trajectory->*Member : nan);
}

// A number of the outcome that means something only with a trajectory, NaN without one.
template <auto Member>
PyObject* landed_number(const Source& source)
{
    return PyFloat_FromDouble(source.trajectory != nullptr ? source.outcome.*Member : nan);
}

template <std::size_t Index>
PyObject* node_array(const Source& source)
{
    constexpr auto member = std::get<Index>(node_arrays).member;
    using Values = std::remove_cvref_t<decltype(std::declval<Trajectory&>().*member)>;
    static const Values none;
    return frozen_array(source.state,
                        source.trajectory != nullptr ? source.trajectory->*member : none);
}

PyObject* status(const Source& source)
{
    return source.trajectory != nullptr
               ? text(source.trajectory->status)
               : short_status(source.failure->kind, source.failure->status);
}

// What an option changed (None when nothing), or why the planning failed.
PyObject* message(const Source& source)
{
    if (source.failure != nullptr) {
        return text(source.failure->text);
    }
    return source.outcome.note.empty() ? Py_NewRef(Py_None) : text(source.outcome.note);
}

PyObject* fuel_used(const Source& source)
{
    const double final_mass = source.trajectory != nullptr ? source.trajectory->final_mass : nan;
    return PyFloat_FromDouble(source.planned.config.spacecraft.wet_mass - final_mass);
}

PyObject* trials(const Source& source)
{
    const std::vector<TrialReport>& reports = source.planned.trials;
    OwnedRef tuple(PyTuple_New(static_cast<Py_ssize_t>(reports.size())));
    for (std::size_t index = 0; tuple && index < reports.size(); ++index) {
        PyObject* trial = trial_object(source.state, reports[index]);
        // PyTuple_SetItem takes the trial's reference, also when it fails.
        if (trial == nullptr ||
            PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(index), trial) < 0) {
            return nullptr;
        }
    }
    return tuple.release();
}

// The conic solver's final duality gaps and residuals, None without a trajectory.
PyObject* solver_figures(const Source& source)
{
    if (source.trajectory == nullptr) {
        return Py_NewRef(Py_None);
    }
    const tarvo_core::solve::SolverFigures& info = source.trajectory->solver;
    return PyObject_CallFunction(source.kit[figures_class], "dddd", info.gap_abs, info.gap_rel,
                                 info.res_primal, info.res_dual);
}

// exp of the log-masses by NumPy's exp, so that the masses are those a Landing made by its
// constructor has, bit for bit.
PyObject* masses(const Source& source)
{
    static const std::vector<double> none;
    const OwnedRef log_masses(frozen_array(
        source.state, source.trajectory != nullptr ? source.trajectory->z_values : none));
    const OwnedRef values(
        PyObject_CallFunctionObjArgs(source.kit[numpy_exp], log_masses.get(), nullptr));
    Py_buffer view;
    if (!values || PyObject_GetBuffer(values.get(), &view, PyBUF_C_CONTIGUOUS) < 0) {
        return nullptr;
    }
    const std::span<const double> data(static_cast<const double*>(view.buf),
                                       static_cast<std::size_t>(view.len) / sizeof(double));
    struct Release {
        Py_buffer& view;
        ~Release() { PyBuffer_Release(&view); }
    } release{view};
    return frozen_array(source.state, data, 1);
}

// Every attribute of a Landing (its __slots__) with how it is read.
template <std::size_t... Index>
constexpr auto make_landing_attributes(std::index_sequence<Index...>)
{
    return std::array<LandingAttribute, 16 + sizeof...(Index)>{{
        {"_config",
         [](const Source& source) {
             return new_value_object(class_of<tarvo_core::config::Config>(source.state),
                                     source.planned.config);
         }},
        {"ok", [](const Source& source) { return PyBool_FromLong(source.trajectory != nullptr); }},
        {"method",
         [](const Source& source) {
             return PyUnicode_FromString(method_name(source.planned.method));
         }},
        {"status", status},
        {"message", message},
        {"time_of_flight", landed_number<&tarvo_core::plan::Outcome::time_of_flight>},
        {"objective", trajectory_number<&Trajectory::objective>},
        {"final_mass", trajectory_number<&Trajectory::final_mass>},
        {"fuel_used", fuel_used},
        {"iterations",
         [](const Source& source) {
             return PyLong_FromUnsignedLongLong(source.outcome.iterations);
         }},
        {"solve_seconds",
         [](const Source& source) { return PyFloat_FromDouble(source.planned.seconds); }},
        {"miss_distance", landed_number<&tarvo_core::plan::Outcome::miss_distance>},
        {std::get<Index>(node_arrays).name, node_array<Index>}...,
        {"masses", masses},
        {"trials", trials},
        {"solver", solver_figures},
        // The package verifies the landing once the engine has made it.
        {"verification", [](const Source&) { return Py_NewRef(Py_None); }},
    }};
}

constexpr auto landing_attributes = make_landing_attributes(
    std::make_index_sequence<std::tuple_size_v<decltype(node_arrays)>>{});

// A new, empty instance of `cls`, allocated as object.__new__ would, without running its
// constructor.
PyObject* allocate(PyObject* cls)
{
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    return alloc(type, 0);
}

}  // namespace

void plan_and_time(PlannedLanding& landing, tarvo_core::plan::Options options)
{
    landing.method = options.method;
    options.observe = [&landing, observe = std::move(options.observe)](const TrialReport& trial) {
        landing.trials.push_back(trial);
        if (observe) {
            observe(trial);
        }
    };
    const auto started = std::chrono::steady_clock::now();
    landing.outcome.emplace(tarvo_core::plan::plan_landing(landing.config, options));
    landing.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
}

PyObject* trial_object(ModuleState& state, const TrialReport& trial)
{
    PyObject* trial_type = landing_kit(state)[trial_class];
    const OwnedRef status(trial.failure ? short_status(*trial.failure, trial.solver_status)
                                        : text(trial.status));
    return status ? PyObject_CallFunction(trial_type, "dOd", trial.time_of_flight, status.get(),
                                          trial.final_mass)
                  : nullptr;
}

PyObject* landing_object(ModuleState& state, const PlannedLanding& landing)
{
    const std::array<PyObject*, 4>& kit = landing_kit(state);
    const tarvo_core::plan::Outcome& outcome = landing.outcome.value();
    const bool ok = outcome.trajectory.ok();
    const Source source{state, kit, landing, outcome, ok ? &outcome.trajectory.value() : nullptr,
                        ok ? nullptr : &outcome.trajectory.error()};
    OwnedRef object(allocate(kit[landing_class]));
    for (std::size_t index = 0; object && index < landing_attributes.size(); ++index) {
        const LandingAttribute& attribute = landing_attributes[index];
        const OwnedRef name(PyUnicode_InternFromString(attribute.name));
        const OwnedRef value(name ? attribute.read(source) : nullptr);
        // The class's own __setattr__ refuses every change: its slots are set directly.
        if (!value || PyObject_GenericSetAttr(object.get(), name.get(), value.get()) < 0) {
            return nullptr;
        }
    }
    return object.release();
}

}  // namespace tarvo_py
