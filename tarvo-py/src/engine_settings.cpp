#include "engine_settings.hpp"

#include <sched.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <thread>

#include "tarvo_state.hpp"

namespace tarvo_py {

namespace {

using tarvo_core::plan::Accuracy;
using tarvo_core::plan::Method;
using tarvo_core::plan::Unreachable;

// The index of `value` among `choices`; -1 with ValueError (TypeError for a non-str) set
// when it is none of them.
template <std::size_t Count>
int choose(PyObject* value, const char* name, const char* const (&choices)[Count])
{
    if (!PyUnicode_Check(value)) {
        raise_wrong_type(std::string(name) + " must be a str", value);
        return -1;
    }
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &length);
    if (utf8 == nullptr) {
        return -1;
    }
    const std::string_view text(utf8, static_cast<std::size_t>(length));
    for (std::size_t index = 0; index < Count; ++index) {
        if (text == choices[index]) {
            return static_cast<int>(index);
        }
    }
    PyErr_Format(PyExc_ValueError, "%s must be '%s' or '%s', not %R", name, choices[0],
                 choices[1], value);
    return -1;
}

bool read_accuracy(PyObject* value, Accuracy& out)
{
    static constexpr const char* choices[] = {"default", "high"};
    const int index = value != nullptr ? choose(value, "accuracy", choices) : 0;
    out = index == 1 ? Accuracy::high : Accuracy::solver_default;
    return index >= 0;
}

bool read_unreachable(PyObject* value, Unreachable& out)
{
    static constexpr const char* choices[] = {"fail", "closest"};
    const int index = value != nullptr ? choose(value, "unreachable", choices) : 0;
    out = index == 1 ? Unreachable::closest : Unreachable::fail;
    return index >= 0;
}

// In the order of Method's enumerators.
constexpr const char* method_names[] = {"nodes", "continuous"};

bool read_method(PyObject* value, Method& out)
{
    const int index = value != nullptr ? choose(value, "method", method_names) : 0;
    out = index == 1 ? Method::continuous : Method::nodes;
    return index >= 0;
}

bool read_workers(PyObject* value, std::size_t& out)
{
    if (value == nullptr || value == Py_None) {
        out = std::min(machine_cores(), max_workers);  // the documented default: at most 1024
        return true;
    }
    if (!PyLong_Check(value) || PyBool_Check(value)) {
        raise_wrong_type("workers must be an int or None", value);
        return false;
    }
    int overflow = 0;
    const long long count = PyLong_AsLongLongAndOverflow(value, &overflow);
    if (count == -1 && PyErr_Occurred()) {
        return false;
    }
    if (overflow != 0 || count < 1 || count > static_cast<long long>(max_workers)) {
        PyErr_Format(PyExc_ValueError, "workers must be from 1 to %zu, got %R", max_workers,
                     value);
        return false;
    }
    out = static_cast<std::size_t>(count);
    return true;
}

}  // namespace

std::size_t machine_cores() noexcept
{
    cpu_set_t cores;
    if (sched_getaffinity(0, sizeof cores, &cores) == 0 && CPU_COUNT(&cores) > 0) {
        return static_cast<std::size_t>(CPU_COUNT(&cores));
    }
    const unsigned int threads = std::thread::hardware_concurrency();
    return threads > 0 ? threads : 1;
}

bool read_settings(PyObject* accuracy, PyObject* unreachable, PyObject* workers,
                   PyObject* method, PlanSettings& out)
{
    PlanSettings settings;
    if (!read_accuracy(accuracy, settings.accuracy) ||
        !read_unreachable(unreachable, settings.unreachable) ||
        !read_workers(workers, settings.workers) || !read_method(method, settings.method)) {
        return false;
    }
    out = settings;
    return true;
}

const char* method_name(Method method)
{
    return method_names[method == Method::continuous ? 1 : 0];
}

bool read_config(const ModuleState& state, PyObject* value, const std::string& name,
                 tarvo_core::config::Config& out)
{
    if (!PyObject_TypeCheck(value, class_of<tarvo_core::config::Config>(state))) {
        raise_wrong_type(name + " must be a tarvo.Config", value);
        return false;
    }
    out = as_value_object<tarvo_core::config::Config>(value)->value;
    return true;
}

bool check_callback(PyObject* callback, const char* name)
{
    if (callback == nullptr || callback == Py_None || PyCallable_Check(callback)) {
        return true;
    }
    raise_wrong_type(std::string(name) + " must be a callable or None", callback);
    return false;
}

tarvo_core::plan::Options plan_options(const PlanSettings& settings)
{
    tarvo_core::plan::Options options;
    options.method = settings.method;
    options.accuracy = settings.accuracy;
    options.unreachable = settings.unreachable;
    return options;
}

}  // namespace tarvo_py
